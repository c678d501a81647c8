#include "link/LineTurns.h"

#include <algorithm>

int LineTurns::choose(const std::vector<Candidate>& candidates) const
{
    const bool othersWait = std::any_of(candidates.begin(), candidates.end(),
                                        [](const Candidate& c) { return !c.probe; });
    if (!lastWasFront_) {
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            if (isFront(candidates[i].unit))
                return static_cast<int>(i);
        }
    }
    const bool probesMayGo = !othersWait || probeCreditMs_ > 0;
    int best = -1;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const Candidate& c = candidates[i];
        if (!valid(c.unit) || (c.probe && !probesMayGo && !isFront(c.unit)))
            continue;
        if (best < 0 || lastTurn_[static_cast<std::size_t>(c.unit)]
                            < lastTurn_[static_cast<std::size_t>(candidates[static_cast<std::size_t>(best)].unit)])
            best = static_cast<int>(i);
    }
    return best;
}

void LineTurns::served(int unit, bool probe, bool contested, std::int64_t heldMs)
{
    if (!valid(unit))
        return;
    heldMs = std::clamp<std::int64_t>(heldMs, 0, kMaxTurnMs);
    lastTurn_[static_cast<std::size_t>(unit)] = ++turn_;
    lastWasFront_ = isFront(unit);
    probeCreditMs_ += heldMs * kProbeSharePercent / 100;
    if (probe && contested && !isFront(unit))
        probeCreditMs_ -= heldMs;
    probeCreditMs_ = std::clamp(probeCreditMs_, -kMaxProbeDebtMs, kMaxProbeCreditMs);
}

void LineTurns::setFront(int unit, bool front)
{
    if (valid(unit))
        front_.set(static_cast<std::size_t>(unit), front);
}

bool LineTurns::isFront(int unit) const
{
    return valid(unit) && front_.test(static_cast<std::size_t>(unit));
}
