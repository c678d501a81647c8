#include "diagnostics/DiagnosticViewLogic.h"

#include "config/CTqk5820ConfigDoc.h"
#include "diagnostics/CTqk5820DiagnosticDoc.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/MessageReport.h"
#include "resources/Messages.h"

namespace {

// A new cycle starts once more than this many whole seconds have passed
// since the last one began (and the last one has finished).
constexpr int kCycleSeconds = 1;

struct LampGroup {
    int id;
    const char* pattern;
};

// In the order of the lamp-test flags: one digit 1 for the group lit.
constexpr LampGroup kGroups[DiagnosticViewLogic::kLampCount] = {
    {DiagnosticViewLogic::kAllLeds, "+010.000"},
    {DiagnosticViewLogic::kSevenSegmentLeds, "+001.000"},
    {DiagnosticViewLogic::kOutputOnLed, "+000.001"},
    {DiagnosticViewLogic::kSequenceLeds, "+100.000"},
    {DiagnosticViewLogic::kStatusLeds, "+000.010"},
    {DiagnosticViewLogic::kUnitsLeds, "+000.100"},
};

} // namespace

const std::array<int, DiagnosticViewLogic::kLampCount> DiagnosticViewLogic::kLampButtons = {
    kAllLeds, kSevenSegmentLeds, kOutputOnLed, kSequenceLeds, kStatusLeds, kUnitsLeds,
};
const char* const DiagnosticViewLogic::kLampsOff = "-000.000";
// ACT T, SET T, TE I, TE V, LIM I, AUX T.
const std::array<std::pair<int, int>, 6> DiagnosticViewLogic::kSwitchMarks = {{
    {1073, 7}, {1074, 6}, {1076, 5}, {1077, 3}, {1078, 2}, {1079, 1},
}};
// Output ON, SHIFT, TEMP LIMIT.
const std::array<std::pair<int, int>, 3> DiagnosticViewLogic::kOutputMarks = {{
    {1080, 7}, {1081, 6}, {1082, 5},
}};

DiagnosticViewLogic::DiagnosticViewLogic(CTqk5820DiagnosticDoc& document, DiagnosticFormHost& host, Clock& clock,
                                         UserPrompts& prompts)
    : document_(document)
    , host_(host)
    , clock_(clock)
    , prompts_(prompts)
    , lastCycle_(clock.seconds())
{
}

const char* DiagnosticViewLogic::LampPattern(int controlId)
{
    const int i = LampIndex(controlId);
    return i < 0 ? nullptr : kGroups[i].pattern;
}

int DiagnosticViewLogic::LampIndex(int controlId)
{
    for (int i = 0; i < kLampCount; ++i) {
        if (kGroups[i].id == controlId)
            return i;
    }
    return -1;
}

bool DiagnosticViewLogic::IsLampLit(int controlId) const
{
    const int i = LampIndex(controlId);
    return i >= 0 && lit_[static_cast<std::size_t>(i)];
}

void DiagnosticViewLogic::OnLampButton(int controlId)
{
    const int b = LampIndex(controlId);
    if (b < 0)
        return;
    const auto bi = static_cast<std::size_t>(b);
    if (lit_[bi]) {
        lit_[bi] = false;
        pattern_ = kLampsOff;
    } else {
        for (std::size_t i = 0; i < lit_.size(); ++i) {
            if (i != bi && lit_[i]) {
                host_.SetMark(kGroups[i].id, 0);
                lit_[i] = false;
            }
        }
        lit_[bi] = true;
        pattern_ = kGroups[b].pattern;
    }
    host_.SetMark(controlId, lit_[bi] ? 1 : 0);
    patternPending_ = true;
}

void DiagnosticViewLogic::ShowMarks(const std::string& text, const std::pair<int, int>* marks, std::size_t count)
{
    // The document hands out 8-character texts only; a shorter one is
    // skipped rather than read beyond its end.
    for (std::size_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(marks[i].second);
        if (at < text.size())
            host_.SetMark(marks[i].first, static_cast<unsigned char>(text[at]) - '0');
    }
}

bool DiagnosticViewLogic::RefreshPass()
{
    CTqk5820ConfigDoc* owner = document_.GetOwnerDocument();
    if (owner == nullptr || !owner->IsOnline()) {
        // This object goes with the window: nothing may touch it afterwards.
        host_.CloseDocument();
        return false;
    }
    if (active_) {
        const std::int64_t now = clock_.seconds();
        if (!AnyReadArmed() && !patternPending_ && secondsBetween(lastCycle_, now) > kCycleSeconds) {
            counterArmed_ = switchArmed_ = outputArmed_ = true;
            lastCycle_ = now;
        }
        std::string text;
        if (switchArmed_ && owner->ReadSwitchStatus(text)) {
            switchArmed_ = false;
            if (text != lastSwitch_) {
                ShowMarks(text, kSwitchMarks.data(), kSwitchMarks.size());
                lastSwitch_ = text;
            }
        }
        if (outputArmed_ && owner->ReadOutputStatus(text)) {
            outputArmed_ = false;
            if (text != lastOutput_) {
                ShowMarks(text, kOutputMarks.data(), kOutputMarks.size());
                lastOutput_ = text;
            }
        }
        if (counterArmed_ && owner->ReadPotCounter(text)) {
            counterArmed_ = false;
            if (text != lastCounter_) {
                host_.ShowCounter(static_cast<float>(protocol::textToDouble(text)));
                lastCounter_ = text;
            }
        }
    }
    if (patternPending_ && owner->WriteLampPattern(pattern_))
        patternPending_ = false;
    return patternPending_ || AnyReadArmed();
}

void DiagnosticViewLogic::OnDestroy()
{
    active_ = false;
    CTqk5820ConfigDoc* owner = document_.GetOwnerDocument();
    if (owner == nullptr || !owner->IsOnline())
        return;
    // A pattern still on its way would make the document refuse the one that
    // puts the lamps out, and they would stay lit: let it land first.
    const std::int64_t start = clock_.seconds();
    while (owner->IsOnline() && owner->IsOutstanding(pn::kLampPattern)
           && secondsBetween(start, clock_.seconds()) <= kCloseWaitSeconds) {
        owner->ServiceStep();
        owner->WaitForLine();
    }
    if (owner->IsOnline()) {
        pattern_ = kLampsOff;
        patternPending_ = true;
        RefreshPass();
    }
}

void DiagnosticViewLogic::OnHalt()
{
    if (report::showMessage(prompts_, msg::kHaltWarning, MessageButtons::OkCancel) != MessageAnswer::Ok)
        return;
    CTqk5820ConfigDoc* owner = document_.GetOwnerDocument();
    if (owner != nullptr) {
        const BusyNotice busy(prompts_, "Halting the controller...");
        const std::int64_t start = clock_.seconds();
        // Waits while the instrument answers, at most the loop limit.
        auto step = [&](auto waiting) {
            while (owner->IsOnline() && waiting() && secondsBetween(start, clock_.seconds()) <= kLoopLimitSeconds) {
                owner->ServiceStep();
                owner->WaitForLine();
            }
        };
        step([&] { return owner->AnyOutstanding(); });
        bool sent = false;
        step([&] { return !(sent = owner->WriteHalt()); });
        if (sent)
            step([&] { return owner->IsOutstanding(pn::kHalt); });
    }
    host_.CloseDocument();
}
