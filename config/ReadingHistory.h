#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One second of a controller's readings as the graph keeps them.
struct GraphSample {
    // Which readings came in that second.
    static constexpr std::uint8_t kActual = 1u << 0;
    static constexpr std::uint8_t kSetPoint = 1u << 1;
    static constexpr std::uint8_t kCurrent = 1u << 2;

    std::int64_t utcMillis = 0;
    float actual = 0.0f;    // degrees Celsius, or kOhms when `resistance`
    float setPoint = 0.0f;  // in the unit of `actual`
    float current = 0.0f;   // TE current, amperes
    std::uint8_t have = 0;  // k* bits
    bool resistance = false;
    // The instrument answered during that second; a sample without it
    // breaks the curve (an outage is a gap, never a line across it).
    bool online = false;

    bool has(std::uint8_t bit) const { return (have & bit) != 0; }
};

// The newest samples, at most `capacity` of them: a ring that overwrites its
// oldest sample once full, so hours of running cost no more memory than the
// first hour.
class ReadingHistory {
public:
    // One sample a second for an hour, with room to spare.
    static constexpr std::size_t kHourCapacity = 3600 + 60;

    explicit ReadingHistory(std::size_t capacity = kHourCapacity);

    // Adds a sample as the newest, dropping the oldest when full.
    void push(const GraphSample& sample);
    void clear();

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    bool empty() const { return size_ == 0; }
    // 0 is the oldest sample kept, size() - 1 the newest.
    const GraphSample& at(std::size_t i) const;
    const GraphSample& back() const { return at(size_ - 1); }
    // Samples pushed since construction or the last clear(), dropped ones
    // included: a reader that remembers it knows how many are new.
    std::uint64_t pushed() const { return pushed_; }
    // The index of the oldest of the newest samples whose times are all at
    // or after `utcMillis`; size() when the newest is older.
    std::size_t firstFrom(std::int64_t utcMillis) const;

    // The newest stretch of samples whose actual value and set point are in
    // one unit, among the samples from index `from` on: a value is only
    // ever drawn against an axis of its own unit, so a graph shows these
    // and no older ones. Samples without either value (offline seconds,
    // seconds with only a current) belong to the stretch they fall in.
    struct UnitRun {
        std::size_t first = 0;   // index of its first sample; size() with no value at all
        bool known = false;      // a sample from `from` on has a value
        bool resistance = false; // its unit: kOhms, else degrees Celsius
        bool changed = false;    // a value in the other unit comes before it
    };
    UnitRun newestUnitRun(std::size_t from) const;

private:
    std::size_t capacity_;
    std::vector<GraphSample> samples_;
    std::size_t head_ = 0;   // where the oldest sample is once the ring is full
    std::size_t size_ = 0;
    std::uint64_t pushed_ = 0;
};
