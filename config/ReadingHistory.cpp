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
