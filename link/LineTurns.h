#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

// Who goes next on one serial line. Every unit with commands waiting is a
// candidate, standing for its oldest waiting command (a unit's own commands
// go out in the order they were posted). Units take turns in rotation, the
// one served longest ago first, so that no number of busy units can keep
// another unit off the line.
//
// Two exceptions to plain rotation:
// - A unit in front (its window is the one the user works in) gets every
//   other turn while it has something waiting, so its readings stay fresh
//   whatever else the line carries.
// - A probe (a read asking whether an absent unit is there) holds the line
//   until its early give-up, several times a transaction. While other units
//   wait, probes together may take only kProbeSharePercent of the line's
//   time; when nothing else waits they go freely. So neither many absent
//   units can slow the present ones, nor busy units keep a unit that was
//   switched on from being found.
class LineTurns {
public:
    static constexpr int kUnits = 100;
    static constexpr std::int64_t kProbeSharePercent = 25;
    // The most probe time that idle stretches can save up, so that a burst
    // of probes after a busy period stays short.
    static constexpr std::int64_t kMaxProbeCreditMs = 200;
    // A turn counts for no more than a transaction can hold the line, and
    // the debt of probes for no more than this: a clock step or a line that
    // was not serviced for a while must not shut probes out for long.
    static constexpr std::int64_t kMaxTurnMs = 2000;
    static constexpr std::int64_t kMaxProbeDebtMs = 1000;

    struct Candidate {
        int unit;     // 0 to 99
        bool probe;   // the unit's oldest waiting command is a probe
    };

    // Index into `candidates` of the one to go next; -1 for none. Where the
    // rules leave a tie, the earlier candidate goes (callers list them in
    // the order their oldest commands were posted).
    int choose(const std::vector<Candidate>& candidates) const;
    // Records a finished turn: `unit` held the line for `heldMs`. `contested`
    // says that a unit other than a probing one was waiting when it began.
    void served(int unit, bool probe, bool contested, std::int64_t heldMs);

    void setFront(int unit, bool front);
    bool isFront(int unit) const;
    // Probe time that may be spent now while others wait (may be negative).
    std::int64_t probeCreditMs() const { return probeCreditMs_; }

private:
    static bool valid(int unit) { return unit >= 0 && unit < kUnits; }

    std::uint64_t turn_ = 0;
    std::array<std::uint64_t, kUnits> lastTurn_ {};
    std::bitset<kUnits> front_;
    bool lastWasFront_ = false;
    std::int64_t probeCreditMs_ = kMaxProbeCreditMs;
};
