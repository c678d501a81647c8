#include "config/CTqk5820ConfigDoc.h"

#include "config/UnitRegistry.h"
#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/MessageReport.h"
#include "platform/Profile.h"
#include "resources/Messages.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

using Set = std::bitset<CTqk5820ConfigDoc::kParameterCount>;

Set numbers(std::initializer_list<std::pair<int, int>> ranges)
{
    Set s;
    for (const auto& [first, last] : ranges) {
        for (int p = first; p <= last; ++p)
            s.set(static_cast<std::size_t>(p));
    }
    return s;
}

// Class 1 replies that are filed.
const Set kReadSet = numbers({{1, 12}, {21, 26}, {31, 32}, {35, 35}, {41, 42}, {51, 51}, {54, 56}, {61, 65},
                              {71, 87}, {91, 94}});
// Class 2 replies that are filed. 52 (the processor halt) is filed like any
// other write, so that a loop waiting for its answer ends when it comes.
const Set kWriteSet = numbers({{3, 4}, {7, 8}, {10, 12}, {21, 26}, {31, 32}, {41, 42}, {51, 55}, {61, 65},
                               {74, 88}, {91, 91}});
// Readings that are read again every time their triggering window takes them.
// The set point (3 or 4) is among them: it can be changed at the
// instrument's front panel, and a value read once would go stale unseen.
const Set kAlwaysRefreshed = numbers({{1, 6}, {9, 9}, {35, 35}, {41, 42}, {51, 51}, {54, 54},
                                      {71, 73}, {92, 94}});

// The shared readings in the order of the consumer lists.
constexpr int kSharedReadings[] = {1, 5, 6, 9, 2, 35, 3, 4};

constexpr int kProbeParameter = pn::kFirmwareVersion;
// Whole seconds (modulo 60) that must have passed, more than this, before
// the next presence probe, and before the drain of a reset gives up.
constexpr int kProbeInterval = 4;
constexpr int kDrainLimit = 3;

bool in(const Set& s, int p)
{
    return p >= 0 && p < CTqk5820ConfigDoc::kParameterCount && s.test(static_cast<std::size_t>(p));
}

} // namespace

const char* const CTqk5820ConfigDoc::kProfileSection = "Default";
const char* const CTqk5820ConfigDoc::kPortKey = "iComPort";
const char* const CTqk5820ConfigDoc::kDisplayKeys[kDisplayCount] = {
    "iDisplayStatus", "iDisplayMeasure", "iDisplayLimits", "iDisplayPid",
    "iDisplaySensor", "iDisplayInfo",    "iDisplayGraph",
};

CTqk5820ConfigDoc::CTqk5820ConfigDoc(InstrumentLink& link, Clock& clock, Profile& profile, UserPrompts& prompts,
                                     UnitRegistry* registry)
    : link_(link)
    , clock_(clock)
    , profile_(profile)
    , prompts_(prompts)
    , registry_(registry != nullptr ? *registry : UnitRegistry::program())
    , tracker_(*this, clock)
    , lastProbe_(clock.seconds() - 5)
{
    readAt_.fill(-1);
    registry_.attach();
    tracker_.Reset();
}

CTqk5820ConfigDoc::~CTqk5820ConfigDoc()
{
    // A document destroyed without being closed still gives back what it holds.
    if (!closed_) {
        MarkFront(false);
        if (unit_ > 0)
            registry_.release(unit_);
        if (portUsable_)
            link_.closePort(port_);
    }
    registry_.detach();
}

void CTqk5820ConfigDoc::SetTitle(const std::string&)
{
    if (unit_ > 0) {
        char title[32];
        std::snprintf(title, sizeof title, "TQK-5820-%02d.cfg", unit_);
        Document::SetTitle(title);
    } else {
        Document::SetTitle("");
    }
}

bool CTqk5820ConfigDoc::OnNewDocument()
{
    if (!Document::OnNewDocument())
        return false;
    port_ = startPort_ >= 0 ? startPort_ : profile_.readInt(kProfileSection, kPortKey, 1);
    unit_ = startUnit_ > 0 && registry_.take(startUnit_) ? startUnit_ : registry_.allocate();
    registry_.setLine(unit_, port_);
    if (unit_ == 0)
        report::showMessage(prompts_, msg::kExceededMaxUnits);
    SetTitle(GetTitle());
    // Nothing stored shows every panel but the graph.
    for (int i = 0; i < kDisplayCount; ++i) {
        const int fallback = i == kGraph ? 0 : 1;
        display_[static_cast<std::size_t>(i)] = profile_.readInt(kProfileSection, kDisplayKeys[i], fallback) == 1;
    }
    portUsable_ = link_.openPort(port_);
    if (portUsable_) {
        link_.dropReplies(GetAddress());
    } else {
        ReportOpenFailure(msg::kComPortRefusesOpenIt, !quietStart_);
        display_[kInfo] = true;
    }
    quietStart_ = false;
    return true;
}

void CTqk5820ConfigDoc::OnCloseDocument()
{
    if (closed_)
        return;
    if (unit_ > 0)
        registry_.release(unit_);
    // The drain of the close keeps the window's turns on the line.
    Document::OnCloseDocument();
    MarkFront(false);
    DropEntries();
    if (portUsable_)
        link_.closePort(port_);
    portUsable_ = false;
    closed_ = true;
}

bool CTqk5820ConfigDoc::BeginSessionEnd()
{
    if (!portUsable_ || !online_ || draining_)
        return false;
    draining_ = true;
    ending_ = true;
    WriteSessionEnd();
    return true;
}

void CTqk5820ConfigDoc::DeleteContents()
{
    ++activity_;
    if (portUsable_ && (ending_ || (online_ && !draining_))) {
        draining_ = true;
        if (!ending_)
            WriteSessionEnd();
        ending_ = false;
        if (AnyOutstanding()) {
            const BusyNotice busy(prompts_, "Waiting for the controller's last replies...");
            const std::int64_t start = clock_.seconds();
            while (AnyOutstanding() && secondsBetween(start, clock_.seconds()) <= kDrainLimit) {
                ServiceStep();
                if (AnyOutstanding())
                    WaitForLine();
            }
        }
        draining_ = false;
    }
    // Whatever still waits in the queue was asked for by contents that are
    // gone; sent later it would reach the instrument out of its context (or
    // on a line this document has left). Online goes off first, so that a
    // reply filed now starts nothing new.
    online_ = false;
    SettleLine();
    HoldEntries();
    for (int p = 1; p < kParameterCount; ++p) {
        ClearFlags(p);
        value_[static_cast<std::size_t>(p)].clear();
        lastValue_[static_cast<std::size_t>(p)].clear();
    }
    tracker_.Reset();
    online_ = false;
    misses_ = 0;
    Document::DeleteContents();
}

void CTqk5820ConfigDoc::CancelQueued()
{
    if (port_ >= 0 && port_ < InstrumentLink::kPortCount && unit_ > 0)
        link_.cancelCommands(GetAddress());
}

void CTqk5820ConfigDoc::SettleLine()
{
    const bool onLine = port_ >= 0 && port_ < InstrumentLink::kPortCount && unit_ > 0;
    // A reply that came in answers a write that went out: filed now, it
    // settles its entry, which would otherwise be held and written twice.
    if (onLine) {
        while (auto reply = link_.takeReply(GetAddress()))
            File(*reply);
    }
    CancelQueued();
    // Every reply of this unit has been filed, so the command out, if it is
    // a write of this unit, is the oldest write of its parameter still
    // unanswered; every other write still listed was cancelled unsent.
    int outParameter = 0;
    const CommandPacket* out = onLine ? link_.pendingPacket(port_) : nullptr;
    if (out && out->address() == GetAddress() && out->commandClass() == protocol::kClassWrite)
        outParameter = out->parameterNumber();
    for (int p = 1; p < kParameterCount; ++p) {
        auto& writes = sent_[static_cast<std::size_t>(p)];
        if (p == outParameter && !writes.empty())
            writes.resize(1);
        else
            writes.clear();
    }
}

bool CTqk5820ConfigDoc::CanSend() const
{
    return portUsable_ && unit_ >= 1 && unit_ <= 99;
}

void CTqk5820ConfigDoc::ClearFlags(int p)
{
    const auto i = static_cast<std::size_t>(p);
    readPending_.reset(i);
    fresh_.reset(i);
    writePending_.reset(i);
}

bool CTqk5820ConfigDoc::RequestRead(int p)
{
    return PostRead(p, false);
}

void CTqk5820ConfigDoc::HurryRead(int p)
{
    if (ValidParameter(p) && readPending_.test(static_cast<std::size_t>(p)) && CanSend())
        link_.hurry(GetAddress(), p);
}

void CTqk5820ConfigDoc::HurryWrite(int p)
{
    if (ValidParameter(p) && writePending_.test(static_cast<std::size_t>(p)) && CanSend())
        link_.hurry(GetAddress(), p, protocol::kClassWrite);
}

bool CTqk5820ConfigDoc::PostRead(int p, bool probe, bool retry)
{
    if (!ValidParameter(p))
        return false;
    const auto i = static_cast<std::size_t>(p);
    // The session is ending: what is out is waited for, nothing new is
    // asked. Passes still run meanwhile (other windows go on), and their
    // readers would otherwise keep this controller from ever being done.
    if (draining_)
        return false;
    ++activity_;
    value_[i].clear();
    const bool posted = CanSend()
        && (probe   ? link_.postProbe(GetAddress(), p)
            : retry ? link_.postRetry(GetAddress(), p)
                    : link_.postRead(GetAddress(), protocol::kClassRead, p));
    readPending_.set(i, posted);
    fresh_.set(i, posted);
    if (busyLamp_ != nullptr)
        busyLamp_->SetState(posted);
    return posted;
}

bool CTqk5820ConfigDoc::WriteText(int p, const std::string& text)
{
    return PostWrite(p, text, 0);
}

bool CTqk5820ConfigDoc::PostWrite(int p, const std::string& text, std::uint64_t entry)
{
    // A text of another length would go out as +000.000: a different
    // setting from the one asked for.
    if (!ValidParameter(p) || !CanSend() || IsOutstanding(p) || text.size() != protocol::kDataLength)
        return false;
    const auto i = static_cast<std::size_t>(p);
    ++activity_;
    value_[i].clear();
    const bool posted = link_.postCommand(GetAddress(), protocol::kClassWrite, p, text);
    writePending_.set(i, posted);
    if (posted)
        sent_[i].push_back(entry);
    if (busyLamp_ != nullptr)
        busyLamp_->SetState(posted);
    return posted;
}

bool CTqk5820ConfigDoc::WriteNumber(int p, float value)
{
    return WriteText(p, protocol::renderNumber(value));
}

bool CTqk5820ConfigDoc::CommitText(int p, const std::string& text)
{
    if (!ValidParameter(p) || !CanSend() || IsOutstanding(p) || text.size() != protocol::kDataLength)
        return false;
    const auto i = static_cast<std::size_t>(p);
    if (online_ && !PostWrite(p, text, entries_ + 1))
        return false;
    // A value still waiting to be written gives way to this one; one whose
    // write is out keeps its answer, which settles nothing of this entry.
    const bool replaced = entry_.test(i) && held_.test(i) && entryText_[i] != text;
    const std::string before = entryText_[i];
    entryText_[i] = text;
    entryOrder_[i] = ++entries_;
    entryType_[i] = tracker_.CurrentType();
    entry_.set(i);
    // Sent now it would only time out: it waits for the unit instead.
    held_.set(i, !online_);
    if (replaced)
        prompts_.showStatusMessage(EntryName(p) + " " + EntryValue(p, before) + " replaced by " + EntryValue(p, text)
                                   + " before it was written");
    else if (!online_)
        prompts_.showStatusMessage(ReportKey(port_, unit_) + " is not answering: the new " + EntryCaption(p) + " "
                                   + EntryValue(p, text) + " is written when it answers again");
    return true;
}

bool CTqk5820ConfigDoc::CommitNumber(int p, float value)
{
    return CommitText(p, protocol::renderNumber(value));
}

bool CTqk5820ConfigDoc::CommitCoefficient(int slot, float value, int sensorType)
{
    if (!InRange(slot, pn::kCoefficientCount))
        return false;
    const int p = pn::kCoefficientFirst + slot;
    const std::string text = protocol::renderNumber(value);
    const int current = tracker_.CurrentType();
    if (online_ && current == SensorTypeTracker::kNoType)
        return false;
    if (online_ && current != sensorType) {
        // In the unit's present layout the slot means something else.
        RefuseForSensorType(p, text);
        return true;
    }
    if (!CommitText(p, text))
        return false;
    // Offline the type is checked again before the held entry goes out.
    entryType_[static_cast<std::size_t>(p)] = sensorType;
    return true;
}

void CTqk5820ConfigDoc::RefuseForSensorType(int p, const std::string& text)
{
    TellLost("ERROR - " + ReportKey(port_, unit_) + " has another sensor type now; not written: parameter "
             + std::to_string(p) + " = " + text);
}

void CTqk5820ConfigDoc::TellLost(const std::string& text)
{
    prompts_.showStatusMessage(text);
    notes_.push_back(EntryNote {++noteCount_, clock_.utcMillis(), text});
    while (notes_.size() > kMaxEntryNotes)
        notes_.pop_front();
}

std::vector<CTqk5820ConfigDoc::EntryNote> CTqk5820ConfigDoc::EntryNotesAfter(std::uint64_t seen) const
{
    std::vector<EntryNote> after;
    for (const EntryNote& note : notes_) {
        if (note.number > seen)
            after.push_back(note);
    }
    return after;
}

std::string CTqk5820ConfigDoc::EntryName(int p)
{
    switch (p) {
    case pn::kSetTemperature:
    case pn::kSetResistance: return "set point";
    case pn::kPositiveCurrentLimit: return "positive current limit";
    case pn::kNegativeCurrentLimit: return "negative current limit";
    case pn::kPidP: return "PID proportional";
    case pn::kPidI: return "PID integral";
    case pn::kPidD: return "PID derivative";
    case pn::kHighTemperatureLimit: return "high temperature limit";
    case pn::kLowTemperatureLimit: return "low temperature limit";
    case pn::kBiasMode: return "sensor bias mode";
    case pn::kModulation: return "external modulation";
    case pn::kOutputState: return "output state";
    default: break;
    }
    if (pn::within(p, pn::kCoefficientFirst, pn::kCoefficientCount))
        return "sensor coefficient " + std::to_string(p - pn::kCoefficientFirst);
    return "parameter " + std::to_string(p);
}

std::string CTqk5820ConfigDoc::EntryCaption(int p)
{
    switch (p) {
    case pn::kSetTemperature:
    case pn::kSetResistance: return "Set Temp";
    case pn::kPositiveCurrentLimit: return "POS LIM I";
    case pn::kNegativeCurrentLimit: return "NEG LIM I";
    case pn::kHighTemperatureLimit: return "TE LIM HIGH";
    case pn::kLowTemperatureLimit: return "TE LIM LOW";
    default: return EntryName(p);
    }
}

std::string CTqk5820ConfigDoc::EntryValue(int p, const std::string& text)
{
    // The decimals the panel's entry shows.
    int decimals = -1;
    switch (p) {
    case pn::kSetTemperature:
    case pn::kSetResistance:
    case pn::kPositiveCurrentLimit:
    case pn::kNegativeCurrentLimit: decimals = 2; break;
    case pn::kPidI:
    case pn::kHighTemperatureLimit:
    case pn::kLowTemperatureLimit: decimals = 1; break;
    case pn::kPidP:
    case pn::kPidD: decimals = 0; break;
    default:
        if (pn::within(p, pn::kCoefficientFirst, pn::kCoefficientCount))
            decimals = 3;
        break;
    }
    if (decimals < 0)
        return text;
    char value[32];
    std::snprintf(value, sizeof value, "%.*f", decimals, protocol::textToDouble(text));
    return value;
}

bool CTqk5820ConfigDoc::IsHeld(int p) const
{
    return ValidParameter(p) && held_.test(static_cast<std::size_t>(p));
}

void CTqk5820ConfigDoc::HoldEntries()
{
    // An entry whose write was cancelled unsent waits for the unit; one
    // whose write is still out is settled by its answer.
    for (int p = 1; p < kParameterCount; ++p) {
        const auto i = static_cast<std::size_t>(p);
        if (!entry_.test(i) || held_.test(i))
            continue;
        const auto& writes = sent_[i];
        if (std::find(writes.begin(), writes.end(), entryOrder_[i]) == writes.end())
            held_.set(i);
    }
}

void CTqk5820ConfigDoc::WriteHeldEntries()
{
    // In the order they were made: a low limit entered before the high one
    // goes first again.
    std::vector<int> waiting;
    for (int p = 1; p < kParameterCount; ++p) {
        if (held_.test(static_cast<std::size_t>(p)))
            waiting.push_back(p);
    }
    std::sort(waiting.begin(), waiting.end(), [this](int a, int b) {
        return entryOrder_[static_cast<std::size_t>(a)] < entryOrder_[static_cast<std::size_t>(b)];
    });
    for (int p : waiting) {
        const auto i = static_cast<std::size_t>(p);
        const bool coefficient = p >= pn::kCoefficientFirst && p < pn::kCoefficientFirst + pn::kCoefficientCount;
        if (coefficient && tracker_.CurrentType() != entryType_[i]) {
            // Made for another sensor type than the unit now has (or one
            // not known yet): written now it would set the wrong sensor up.
            if (tracker_.CurrentType() == SensorTypeTracker::kNoType)
                continue;
            held_.reset(i);
            entry_.reset(i);
            RefuseForSensorType(p, entryText_[i]);
            continue;
        }
        if (PostWrite(p, entryText_[i], entryOrder_[i]))
            held_.reset(i);
    }
}

void CTqk5820ConfigDoc::DropEntries()
{
    std::string dropped;
    std::string unconfirmed;
    for (int p = 1; p < kParameterCount; ++p) {
        const auto i = static_cast<std::size_t>(p);
        std::string& list = held_.test(i) ? dropped : unconfirmed;
        if (entry_.test(i))
            list += (list.empty() ? "" : ", ") + std::to_string(p) + " = " + entryText_[i];
    }
    held_.reset();
    entry_.reset();
    // Answers still to come are for the unit and line being left.
    for (auto& writes : sent_)
        writes.clear();
    if (!unconfirmed.empty())
        TellLost("ERROR - " + ReportKey(port_, unit_) + " did not confirm parameter " + unconfirmed);
    if (!dropped.empty())
        TellLost("ERROR - " + ReportKey(port_, unit_) + " never answered; not written: parameter " + dropped);
}

bool CTqk5820ConfigDoc::IsOutstanding(int p) const
{
    if (!ValidParameter(p))
        return false;
    const auto i = static_cast<std::size_t>(p);
    return readPending_.test(i) || writePending_.test(i);
}

bool CTqk5820ConfigDoc::AnyOutstanding() const
{
    return readPending_.any() || writePending_.any();
}

const std::string& CTqk5820ConfigDoc::LastValueText(int p) const
{
    static const std::string none;
    return ValidParameter(p) ? lastValue_[static_cast<std::size_t>(p)] : none;
}

const std::string& CTqk5820ConfigDoc::ValueText(int p) const
{
    static const std::string none;
    return ValidParameter(p) ? value_[static_cast<std::size_t>(p)] : none;
}

std::vector<ParameterConsumer*>* CTqk5820ConfigDoc::ConsumersOf(int p)
{
    for (std::size_t i = 0; i < consumers_.size(); ++i) {
        if (kSharedReadings[i] == p)
            return &consumers_[i];
    }
    return nullptr;
}

const std::vector<ParameterConsumer*>* CTqk5820ConfigDoc::ConsumersOf(int p) const
{
    return const_cast<CTqk5820ConfigDoc*>(this)->ConsumersOf(p);
}

void CTqk5820ConfigDoc::RegisterConsumer(int p, ParameterConsumer* window)
{
    auto* list = ConsumersOf(p);
    if (list == nullptr || window == nullptr || IsConsumer(p, window))
        return;
    list->insert(list->begin(), window);
}

void CTqk5820ConfigDoc::UnregisterConsumer(int p, ParameterConsumer* window)
{
    if (auto* list = ConsumersOf(p))
        list->erase(std::remove(list->begin(), list->end(), window), list->end());
}

bool CTqk5820ConfigDoc::IsConsumer(int p, const ParameterConsumer* window) const
{
    const auto* list = ConsumersOf(p);
    return list != nullptr && std::find(list->begin(), list->end(), window) != list->end();
}

bool CTqk5820ConfigDoc::MayTriggerRead(int p, const ParameterConsumer* window) const
{
    const auto* list = ConsumersOf(p);
    if (list == nullptr || list->size() <= 1)
        return true;
    if (window != nullptr
        && (window->consumerKind() == ConsumerKind::StatusPanel
            || window->consumerKind() == ConsumerKind::MeasurementPanel))
        return false;
    if (list->size() > 2 && window != list->front())
        return false;
    return true;
}

bool CTqk5820ConfigDoc::GetText(int p, std::string& text, const ParameterConsumer* window)
{
    if (!ValidParameter(p) || !CanSend() || IsOutstanding(p))
        return false;
    const auto i = static_cast<std::size_t>(p);
    if (value_[i].size() != protocol::kDataLength) {
        RequestRead(p);
        return false;
    }
    const bool mayTrigger = MayTriggerRead(p, window);
    if (!fresh_.test(i) && in(kAlwaysRefreshed, p) && mayTrigger) {
        RequestRead(p);
        return false;
    }
    text = value_[i];
    if (mayTrigger)
        fresh_.reset(i);
    return true;
}

bool CTqk5820ConfigDoc::GetNumber(int p, float& value, const ParameterConsumer* window)
{
    std::string text;
    if (!GetText(p, text, window))
        return false;
    value = static_cast<float>(protocol::textToDouble(text));
    return true;
}

void CTqk5820ConfigDoc::ServiceStep()
{
    link_.servicePort(port_);
    Poll();
}

void CTqk5820ConfigDoc::WaitForLine()
{
    if (wait_)
        wait_();
}

std::string CTqk5820ConfigDoc::EndCodeText(int unit, int commandClass, int parameter, int endCode)
{
    char text[96];
    std::snprintf(text, sizeof text, msg::kEndCode, unit, commandClass, parameter, endCode);
    return text;
}

std::string CTqk5820ConfigDoc::ReportKey(int port, int unit)
{
    char key[32];
    std::snprintf(key, sizeof key, "COM%d unit %02d", port + 1, unit);
    return key;
}

void CTqk5820ConfigDoc::File(const ReplyPacket& reply)
{
    ++activity_;
    const int e = reply.endCode();
    const int c = reply.commandClass();
    const int p = reply.parameterNumber();
    const bool known = ValidParameter(p);
    const auto i = static_cast<std::size_t>(known ? p : 0);
    // Which write this answers: the oldest of p still out.
    Carried carried = Carried::kNone;
    if (c == protocol::kClassWrite && known && !sent_[i].empty()) {
        const std::uint64_t entry = sent_[i].front();
        sent_[i].pop_front();
        if (entry != 0)
            carried = entry_.test(i) && entry == entryOrder_[i] ? Carried::kCurrentEntry : Carried::kOldEntry;
    }
    const bool settles = carried == Carried::kCurrentEntry;

    if (e == protocol::kEndOk || e == protocol::kEndOkAlternate) {
        misses_ = 0;
        if (settles) {
            entry_.reset(i);
            held_.reset(i);
        }
        if (c == protocol::kClassRead && in(kReadSet, p)) {
            value_[i] = reply.data();
            lastValue_[i] = value_[i];
            readPending_.reset(i);
            readAt_[i] = clock_.utcMillis();
        } else if (c == protocol::kClassWrite && in(kWriteSet, p)) {
            value_[i] = reply.data();
            lastValue_[i] = value_[i];
            writePending_.reset(i);
        }
        return;
    }
    if (e == protocol::kEndNoReply) {
        Missed(c, known ? p : 0, carried);
        return;
    }
    if (known) {
        if (settles) {
            // Refused: reported below, and not written again.
            entry_.reset(i);
            held_.reset(i);
        }
        if (c == protocol::kClassRead) {
            readPending_.reset(i);
            fresh_.reset(i);
        } else if (c == protocol::kClassWrite) {
            writePending_.reset(i);
            ++refused_[i];
        }
    }
    // Told without waiting for the user, so that a refused or mangled reply
    // never holds up the instruments.
    report::showReport(prompts_, ReportKey(port_, unit_), EndCodeText(unit_, c, p, e));
}

void CTqk5820ConfigDoc::Missed(int c, int p, Carried carried)
{
    const auto i = static_cast<std::size_t>(p);
    // The write of a value replaced since: the newer entry is written in
    // its turn, and says what becomes of it.
    const bool entry = c == protocol::kClassWrite && p > 0 && carried != Carried::kNone;
    if (carried == Carried::kCurrentEntry) {
        // It may have landed: it is not sent again, and the value shown
        // from now on is read back from the instrument.
        entry_.reset(i);
        held_.reset(i);
        TellLost("ERROR - " + ReportKey(port_, unit_) + " did not confirm parameter " + std::to_string(p) + " = "
                 + entryText_[i] + "; the value shown is read back from it");
    }
    // Any other write whose answer was lost (calibration, a sensor-type
    // change, diagnostics) has nobody to tell and a procedure that counts on
    // it: the unit counts as gone at once, as it always has, so that the
    // procedure ends rather than goes on without it.
    if (c == protocol::kClassWrite && !entry && online_ && !draining_)
        misses_ = kMissesBeforeGone - 1;
    // Offline, or draining before a reset that ends it all anyway: nothing
    // is asked again.
    if (!online_ || draining_) {
        // A unit that has not answered since the window opened (or moved to
        // it) is said once, as one that stopped answering is.
        if (!online_ && !draining_ && !stoppedAnswering_ && c == protocol::kClassRead && p == kProbeParameter) {
            prompts_.showStatusMessage(ReportKey(port_, unit_) + " does not answer");
            stoppedAnswering_ = true;
        }
        if (p > 0)
            ClearFlags(p);
        return;
    }
    if (misses_ < kMissesBeforeGone - 1) {
        // A lost answer is ordinary on a shared line, and on a poor one two
        // in a row are too. The unit counts as gone only after
        // kMissesBeforeGone in a row: it is asked again at once each time (a
        // read given up early, as a probe is), with its other reads taken
        // off the line so that a unit that has really gone is found out
        // within about two seconds. Its writes stay in their order.
        ++misses_;
        link_.cancelCommands(GetAddress(), protocol::kClassRead);
        for (std::size_t k = 1; k < kParameterCount; ++k) {
            if (readPending_.test(k)) {
                readPending_.reset(k);
                fresh_.reset(k);
            }
        }
        if (p > 0)
            ClearFlags(p);
        PostRead(p > 0 && in(kReadSet, p) ? p : kProbeParameter, false, true);
        return;
    }
    link_.cancelCommands(GetAddress());
    // Online goes off first, so the reset sends no final command to an
    // instrument that has stopped answering.
    online_ = false;
    DeleteContents();
    prompts_.showStatusMessage(ReportKey(port_, unit_) + " stopped answering");
    stoppedAnswering_ = true;
    // Asked again at once: a unit that only lost a few answers in a row is
    // back within moments rather than after the probe interval.
    lastProbe_ = clock_.seconds() - 5;
}

void CTqk5820ConfigDoc::Poll()
{
    const bool wasOnline = online_;
    if (CanSend()) {
        if (auto reply = link_.takeReply(GetAddress()))
            File(*reply);
        // A reset drains what is outstanding; it starts nothing new.
        if (!draining_) {
            if (online_) {
                if (held_.any())
                    WriteHeldEntries();
                tracker_.DetectionStep();
                tracker_.ChangeStep();
            } else {
                Probe();
            }
        }
    }
    if (busyLamp_ != nullptr)
        busyLamp_->SetState(AnyOutstanding());
    if (online_ != wasOnline)
        ++activity_;
}

void CTqk5820ConfigDoc::Probe()
{
    const auto i = static_cast<std::size_t>(kProbeParameter);
    if (IsOutstanding(kProbeParameter))
        return;
    if (fresh_.test(i)) {
        if (value_[i].size() == protocol::kDataLength) {
            online_ = true;
            if (stoppedAnswering_)
                prompts_.showStatusMessage(ReportKey(port_, unit_) + " answers again");
            stoppedAnswering_ = false;
            // Entries made meanwhile go out before the panels read again,
            // so that those read what was entered.
            WriteHeldEntries();
            tracker_.DetectionStep();
        }
        fresh_.reset(i);
    } else if (secondsBetween(lastProbe_, clock_.seconds()) > kProbeInterval) {
        // The reset files the replies that came in since the unit went
        // offline rather than dropping them (see SettleLine).
        DeleteContents();
        PostRead(kProbeParameter, true);
        lastProbe_ = clock_.seconds();
    }
}

void CTqk5820ConfigDoc::SetInFront(bool front)
{
    if (front == inFront_)
        return;
    inFront_ = front;
    MarkFront(front);
}

void CTqk5820ConfigDoc::MarkFront(bool front)
{
    if (port_ >= 0 && port_ < InstrumentLink::kPortCount && unit_ > 0)
        link_.setInFront(GetAddress(), front && inFront_);
}

std::int64_t CTqk5820ConfigDoc::ReadAt(int p) const
{
    return ValidParameter(p) ? readAt_[static_cast<std::size_t>(p)] : -1;
}

void CTqk5820ConfigDoc::GoOffline()
{
    online_ = false;
    DeleteContents();
    lastProbe_ = clock_.seconds();
}

void CTqk5820ConfigDoc::ChangeUnitNumber(int b)
{
    if (b < 1 || b > 99) {
        report::showMessage(prompts_, msg::kUnitNumberRange);
        return;
    }
    if (registry_.inUse(b)) {
        report::showMessage(prompts_, msg::kUnitNumberInUse);
        // The box says only that; the status bar says where.
        char where[96];
        const int line = registry_.lineOf(b);
        if (line >= 0)
            std::snprintf(where, sizeof where, "Unit %02d is in use by window TQK-5820-%02d.cfg on COM%d", b, b, line + 1);
        else
            std::snprintf(where, sizeof where, "Unit %02d is in use by window TQK-5820-%02d.cfg", b, b);
        prompts_.showStatusMessage(where);
        return;
    }
    if (unit_ > 0)
        registry_.release(unit_);
    DeleteContents();
    DropEntries();
    stoppedAnswering_ = false;
    lastProbe_ = clock_.seconds() - 5;
    MarkFront(false);
    unit_ = b;
    registry_.take(b);
    registry_.setLine(b, port_);
    MarkFront(true);
    SetTitle(GetTitle());
}

void CTqk5820ConfigDoc::ChangePort(int b)
{
    if (b < 0 || b >= InstrumentLink::kPortCount) {
        report::showMessage(prompts_, msg::kComPortRefusesOpen);
        return;
    }
    char question[64];
    std::snprintf(question, sizeof question, msg::kChangeDefaultPort, static_cast<char>('1' + b));
    if (report::showMessage(prompts_, question, MessageButtons::YesNo) == MessageAnswer::Yes)
        profile_.writeInt(kProfileSection, kPortKey, b);
    if (portUsable_) {
        DeleteContents();
        link_.closePort(port_);
    }
    CancelQueued();
    DropEntries();
    stoppedAnswering_ = false;
    MarkFront(false);
    port_ = b;
    registry_.setLine(unit_, port_);
    MarkFront(true);
    portUsable_ = link_.openPort(port_);
    if (portUsable_) {
        if (unit_ > 0) {
            link_.dropReplies(GetAddress());
            lastProbe_ = clock_.seconds() - 5;
        }
    } else {
        ReportOpenFailure(msg::kComPortRefusesOpen);
    }
}

void CTqk5820ConfigDoc::ReportOpenFailure(const char* message, bool box)
{
    // The box keeps its words; the status line says which device failed and
    // why, so the user knows what to fix.
    std::string status = link_.lastError(port_);
    const std::string& detail = link_.lastErrorDetail(port_);
    if (!detail.empty())
        status += " (" + detail + ")";
    if (port_ < 0 || port_ >= InstrumentLink::kPortCount) {
        // Only a stored setting can name no port at all.
        status = std::string("ERROR - Setting ") + kPortKey + " = " + std::to_string(port_) + " in section "
            + kProfileSection + " is no port (0 to 3 stand for COM1 to COM4)";
    }
    if (!status.empty())
        prompts_.showStatusMessage(status);
    if (box)
        report::showMessage(prompts_, message);
}

bool CTqk5820ConfigDoc::GetDisplayFlag(int panel) const
{
    return InRange(panel, kDisplayCount) && display_[static_cast<std::size_t>(panel)];
}

void CTqk5820ConfigDoc::SetDisplayFlag(int panel, bool shown)
{
    if (InRange(panel, kDisplayCount))
        display_[static_cast<std::size_t>(panel)] = shown;
}

void CTqk5820ConfigDoc::StoreDisplayFlags()
{
    for (int i = 0; i < kDisplayCount; ++i)
        profile_.writeInt(kProfileSection, kDisplayKeys[i], display_[static_cast<std::size_t>(i)] ? 1 : 0);
}
