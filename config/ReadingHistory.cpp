#include "config/ReadingHistory.h"

#include <algorithm>

ReadingHistory::ReadingHistory(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1))
{
}

void ReadingHistory::push(const GraphSample& sample)
{
    ++pushed_;
    // The storage grows with the samples up to the capacity, then the
    // oldest is overwritten in place.
    if (samples_.size() < capacity_) {
        if (samples_.empty())
            samples_.reserve(capacity_);
        samples_.push_back(sample);
        size_ = samples_.size();
        return;
    }
    samples_[head_] = sample;
    head_ = (head_ + 1) % capacity_;
}

void ReadingHistory::clear()
{
    samples_.clear();
    head_ = 0;
    size_ = 0;
    pushed_ = 0;
}

const GraphSample& ReadingHistory::at(std::size_t i) const
{
    return samples_[(head_ + i) % samples_.size()];
}

std::size_t ReadingHistory::firstFrom(std::int64_t utcMillis) const
{
    std::size_t i = size_;
    while (i > 0 && at(i - 1).utcMillis >= utcMillis)
        --i;
    return i;
}

ReadingHistory::UnitRun ReadingHistory::newestUnitRun(std::size_t from) const
{
    const auto hasValue = [](const GraphSample& s) {
        return s.online && (s.has(GraphSample::kActual) || s.has(GraphSample::kSetPoint));
    };
    UnitRun run;
    run.first = std::min(from, size_);
    std::size_t i = size_;
    while (i > from && !hasValue(at(i - 1)))
        --i;
    if (i == from || i == 0)
        return run;
    run.known = true;
    run.resistance = at(i - 1).resistance;
    while (i > from && !(hasValue(at(i - 1)) && at(i - 1).resistance != run.resistance))
        --i;
    run.changed = i > from;
    // The stretch begins at its first value, not at the seconds without
    // one between the two units.
    while (i < size_ && !hasValue(at(i)))
        ++i;
    run.first = i;
    return run;
}
