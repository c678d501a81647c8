#include "link/LineTurns.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

// A line played out on a simulated clock. Busy units always have a read
// waiting (20 ms each, a transaction at line rate); probing units are absent
// and ask again 5 s after their last probe ended, each probe holding the
// line for its early give-up (170 ms); the front unit, if any, is busy too.
struct Load {
    int busy;
    int probing;
    int front;   // a busy unit's number, or 0
};

struct Outcome {
    std::map<int, int> turns;             // per unit
    std::map<int, std::int64_t> maxGapMs; // longest wait between two turns, per unit
    std::int64_t probeMs = 0;
    std::int64_t totalMs = 0;
};

constexpr std::int64_t kReadMs = 20;
constexpr std::int64_t kProbeMs = 170;

Outcome play(const Load& load, std::int64_t durationMs)
{
    LineTurns turns;
    if (load.front > 0)
        turns.setFront(load.front, true);
    std::map<int, std::int64_t> nextProbe;   // probing unit -> when it asks again
    std::map<int, std::int64_t> lastTurnAt;
    for (int u = 1; u <= load.busy + load.probing; ++u)
        lastTurnAt[u] = 0;
    for (int u = load.busy + 1; u <= load.busy + load.probing; ++u)
        nextProbe[u] = 0;
    Outcome out;
    std::int64_t now = 0;
    while (now < durationMs) {
        std::vector<LineTurns::Candidate> waiting;
        for (int u = 1; u <= load.busy; ++u)
            waiting.push_back({u, false});
        for (const auto& [u, at] : nextProbe) {
            if (at <= now)
                waiting.push_back({u, true});
        }
        const int i = turns.choose(waiting);
        if (i < 0) {
            now += 10;
            continue;
        }
        const auto& c = waiting[static_cast<std::size_t>(i)];
        const std::int64_t held = c.probe ? kProbeMs : kReadMs;
        const bool contested = std::any_of(waiting.begin(), waiting.end(),
                                           [&](const auto& w) { return !w.probe && w.unit != c.unit; });
        out.maxGapMs[c.unit] = std::max(out.maxGapMs[c.unit], now - lastTurnAt[c.unit]);
        now += held;
        lastTurnAt[c.unit] = now;
        turns.served(c.unit, c.probe, contested, held);
        ++out.turns[c.unit];
        if (c.probe) {
            out.probeMs += held;
            nextProbe[c.unit] = now + 5000;
        }
    }
    out.totalMs = now;
    return out;
}

} // namespace

TEST(LineTurns, BusyUnitsTakeTurnsInRotationEarliestPostedFirst)
{
    LineTurns turns;
    std::vector<int> order;
    const std::vector<LineTurns::Candidate> all {{7, false}, {3, false}, {5, false}};
    for (int i = 0; i < 6; ++i) {
        const int chosen = turns.choose(all);
        ASSERT_GE(chosen, 0);
        order.push_back(all[static_cast<std::size_t>(chosen)].unit);
        turns.served(order.back(), false, true, 20);
    }
    EXPECT_EQ(order, (std::vector<int> {7, 3, 5, 7, 3, 5}));
    EXPECT_EQ(turns.choose({}), -1);
    // A unit that had nothing waiting for a while goes first when it has.
    EXPECT_EQ(turns.choose({{5, false}, {9, false}}), 1);
}

TEST(LineTurns, NeitherProbesNorBusyUnitsStarveTheOthers)
{
    // One present unit beside absent ones, many busy units beside a few
    // absent ones (the mirror image), and the whole range between.
    const Load loads[] = {{1, 5, 0}, {1, 20, 0}, {7, 1, 0}, {16, 0, 0}, {40, 5, 0}, {98, 1, 0}, {79, 20, 0}};
    for (const Load& load : loads) {
        SCOPED_TRACE(testing::Message() << load.busy << " busy, " << load.probing << " probing");
        const Outcome out = play(load, 120000);
        // Probes take no more than their share of a busy line...
        EXPECT_LE(100 * out.probeMs, (LineTurns::kProbeSharePercent + 2) * out.totalMs);
        // ...a busy unit waits for at most one turn of every other busy unit
        // and the probes' share...
        const std::int64_t busyGap = load.busy * kReadMs * 100 / (100 - LineTurns::kProbeSharePercent)
            + LineTurns::kMaxProbeCreditMs + 2 * kProbeMs;
        // ...and every absent unit is asked again within a few seconds of
        // when it wants: the probes of all of them fit in their share.
        const std::int64_t probeGap = 5000 + kProbeMs
            + load.probing * (kProbeMs + kReadMs) * (100 - LineTurns::kProbeSharePercent) / LineTurns::kProbeSharePercent;
        for (int u = 1; u <= load.busy + load.probing; ++u) {
            SCOPED_TRACE(testing::Message() << "unit " << u);
            ASSERT_GT(out.turns.count(u), 0u);
            EXPECT_LE(out.maxGapMs.at(u), u <= load.busy ? busyGap : probeGap);
        }
    }
}

TEST(LineTurns, TheUnitInFrontGetsEveryOtherTurnWhileItHasWork)
{
    const Outcome out = play({40, 5, 17}, 60000);
    int others = 0;
    for (const auto& [unit, n] : out.turns)
        others += unit == 17 ? 0 : n;
    // Every other turn, less the probes' turns that its own reads wait behind.
    EXPECT_GE(out.turns.at(17), others * 8 / 10);
    EXPECT_LE(out.maxGapMs.at(17), kProbeMs + kReadMs);

    // Without work of its own it holds nobody up.
    LineTurns turns;
    turns.setFront(17, true);
    EXPECT_EQ(turns.choose({{4, false}, {5, false}}), 0);
    // After its turn, another unit's turn comes first.
    turns.served(17, false, true, 20);
    EXPECT_EQ(turns.choose({{17, false}, {4, false}}), 1);
    turns.setFront(17, false);
    EXPECT_FALSE(turns.isFront(17));
}
