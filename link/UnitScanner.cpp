#include "link/UnitScanner.h"

#include "link/InstrumentLink.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"

#include <algorithm>
#include <iterator>

namespace {

// The parameters read from a unit that answered, by read index.
constexpr int kReadParameter[] = {pn::kSerialNumber, pn::kFirmwareVersion, 21, 22, 23, 24};
constexpr int kSerialIndex = 0;
constexpr int kFirmwareIndex = 1;
constexpr int kCodeIndex = 2;
// A read whose answer was lost or damaged is asked this often in all.
constexpr int kAttempts = 2;

int readIndexOf(int parameter)
{
    for (int i = 0; i < static_cast<int>(std::size(kReadParameter)); ++i) {
        if (kReadParameter[i] == parameter)
            return i;
    }
    return -1;
}

bool lost(int endCode)
{
    return endCode == protocol::kEndNoReply || endCode == protocol::kEndUnparsable || endCode == protocol::kEndChecksum;
}

bool isOne(const std::string& text)
{
    return !text.empty() && protocol::textToDouble(text) == 1.0;
}

} // namespace

UnitScanner::UnitScanner(InstrumentLink& link)
    : link_(link)
    , slots_(static_cast<std::size_t>(kPorts * kUnits))
{
}

UnitScanner::~UnitScanner()
{
    if (running())
        cancel();
    // An answer still out is not awaited: a line this scan alone held is
    // closed, which ends its transaction; on a shared line the answer stays
    // in the link until a window opened for that unit drops it.
    if (!finished_)
        finish();
}

void UnitScanner::start(const std::vector<int>& ports, int first, int last, const std::vector<UnitAddress>& skip)
{
    if (running())
        cancel();
    if (started_ && !finished_)
        finish();
    std::fill(slots_.begin(), slots_.end(), Slot {});
    scanned_.fill(false);
    opened_.fill(false);
    failures_.clear();
    first_ = std::clamp(first, 1, kUnits - 1);
    last_ = std::clamp(last, first_, kUnits - 1);
    probed_ = 0;
    total_ = 0;
    posted_ = 0;
    started_ = true;
    finished_ = false;
    cancelled_ = false;

    const int perLine = last_ - first_ + 1;
    for (int port : ports) {
        if (port < 0 || port >= kPorts || scanned_[static_cast<std::size_t>(port)])
            continue;
        scanned_[static_cast<std::size_t>(port)] = true;
        total_ += perLine;
        if (!link_.openPort(port)) {
            failures_.push_back({port, link_.lastError(port)});
            probed_ += perLine;
            scanned_[static_cast<std::size_t>(port)] = false;
            continue;
        }
        opened_[static_cast<std::size_t>(port)] = true;
    }
    for (const UnitAddress& a : skip) {
        if (a.port < 0 || a.port >= kPorts || a.unit < first_ || a.unit > last_
            || !scanned_[static_cast<std::size_t>(a.port)] || slot(a).stage != Stage::None)
            continue;
        slot(a).stage = Stage::Skipped;
        ++probed_;
    }
    // Unit by unit across the lines, so that every line has work at once.
    for (int unit = first_; unit <= last_; ++unit) {
        for (int port = 0; port < kPorts; ++port) {
            if (scanned_[static_cast<std::size_t>(port)] && slot({port, unit}).stage == Stage::None)
                postProbe({port, unit});
        }
    }
    step();
}

void UnitScanner::postProbe(UnitAddress at)
{
    Slot& s = slot(at);
    s.answerStartAtProbe = link_.answerStartMs(at);
    if (!link_.postProbe(at, pn::kFirmwareVersion)) {
        // Nothing went out: the unit counts as absent.
        if (s.stage != Stage::Absent)
            ++probed_;
        s.stage = Stage::Absent;
        return;
    }
    s.stage = Stage::Probing;
    ++s.outstanding;
    ++s.attempts[kFirmwareIndex];
    ++posted_;
}

void UnitScanner::post(UnitAddress at, int readIndex, bool retry)
{
    const int parameter = kReadParameter[readIndex];
    const bool ok = retry ? link_.postRetry(at, parameter) : link_.postRead(at, protocol::kClassRead, parameter);
    if (!ok)
        return;
    Slot& s = slot(at);
    ++s.outstanding;
    ++s.attempts[static_cast<std::size_t>(readIndex)];
    ++posted_;
}

void UnitScanner::fileReplies(UnitAddress at)
{
    Slot& s = slot(at);
    while (s.outstanding > 0) {
        const auto reply = link_.takeReply(at);
        if (!reply)
            break;
        file(at, reply->parameterNumber(), reply->endCode(), reply->data());
    }
}

void UnitScanner::step()
{
    if (!started_ || finished_)
        return;
    bool busy = false;
    for (int port = 0; port < kPorts; ++port) {
        if (!scanned_[static_cast<std::size_t>(port)])
            continue;
        for (int unit = first_; unit <= last_; ++unit)
            fileReplies({port, unit});
        if (!portBusy(port) && !cancelled_)
            reprobeLateOnes(port);
        busy = busy || portBusy(port);
    }
    if (!busy)
        finish();
}

void UnitScanner::file(UnitAddress at, int parameter, int endCode, const std::string& data)
{
    Slot& s = slot(at);
    if (s.outstanding > 0)
        --s.outstanding;
    const int index = readIndexOf(parameter);
    if (index < 0)
        return;
    const bool ok = endCode == protocol::kEndOk || endCode == protocol::kEndOkAlternate;
    if (s.stage == Stage::Probing) {
        if (endCode == protocol::kEndNoReply) {
            if (!s.reprobed)
                ++probed_;
            s.stage = Stage::Absent;
            return;
        }
        // Whatever came, something answered to this number.
        if (!s.reprobed)
            ++probed_;
        s.stage = Stage::Found;
        if (ok) {
            s.text[kFirmwareIndex] = data;
            s.answered[kFirmwareIndex] = true;
        }
        found(at);
        if (lost(endCode) && !cancelled_)
            post(at, kFirmwareIndex, true);
        return;
    }
    if (s.stage != Stage::Found)
        return;
    if (ok) {
        s.text[static_cast<std::size_t>(index)] = data;
        s.answered[static_cast<std::size_t>(index)] = true;
        // The code pair 1, 1 is an RTD; which mode it is in, 23 and 24 tell.
        const bool pairIn = s.answered[kCodeIndex] && s.answered[kCodeIndex + 1];
        if (pairIn && (index == kCodeIndex || index == kCodeIndex + 1) && isOne(s.text[kCodeIndex])
            && isOne(s.text[kCodeIndex + 1]) && !cancelled_) {
            post(at, kCodeIndex + 2, false);
            post(at, kCodeIndex + 3, false);
        }
        return;
    }
    // A refusal is the unit's answer; a lost one is asked again.
    if (lost(endCode) && s.attempts[static_cast<std::size_t>(index)] < kAttempts && !cancelled_)
        post(at, index, true);
}

void UnitScanner::found(UnitAddress at)
{
    if (cancelled_)
        return;
    post(at, kSerialIndex, false);
    post(at, kCodeIndex, false);
    post(at, kCodeIndex + 1, false);
}

void UnitScanner::reprobeLateOnes(int port)
{
    for (int unit = first_; unit <= last_; ++unit) {
        Slot& s = slot({port, unit});
        if (s.stage != Stage::Absent || s.reprobed)
            continue;
        const int known = link_.answerStartMs({port, unit});
        if (known >= 0 && known != s.answerStartAtProbe) {
            s.reprobed = true;
            postProbe({port, unit});
        }
    }
}

bool UnitScanner::portBusy(int port) const
{
    for (int unit = first_; unit <= last_; ++unit) {
        if (slots_[static_cast<std::size_t>(port * kUnits + unit)].outstanding > 0)
            return true;
    }
    return false;
}

void UnitScanner::cancel()
{
    if (!running())
        return;
    cancelled_ = true;
    for (int port = 0; port < kPorts; ++port) {
        if (!scanned_[static_cast<std::size_t>(port)])
            continue;
        // Answers already in the link are filed first; of the rest, only
        // the command out on the line can still be answered.
        const CommandPacket* out = link_.pendingPacket(port);
        const int pendingUnit = out ? out->unitNumber() : -1;
        for (int unit = first_; unit <= last_; ++unit) {
            Slot& s = slot({port, unit});
            fileReplies({port, unit});
            if (s.outstanding == 0)
                continue;
            link_.cancelCommands({port, unit});
            s.outstanding = unit == pendingUnit ? 1 : 0;
            // A probe taken back leaves its unit unprobed.
            if (s.stage == Stage::Probing && s.outstanding == 0)
                s.stage = s.reprobed ? Stage::Absent : Stage::None;
        }
    }
    step();
}

void UnitScanner::finish()
{
    finished_ = true;
    for (int port = 0; port < kPorts; ++port) {
        if (opened_[static_cast<std::size_t>(port)])
            link_.closePort(port);
        opened_[static_cast<std::size_t>(port)] = false;
    }
}

std::vector<UnitScanner::Unit> UnitScanner::units() const
{
    std::vector<Unit> out;
    for (int port = 0; port < kPorts; ++port) {
        for (int unit = 1; unit < kUnits; ++unit) {
            const Slot& s = slots_[static_cast<std::size_t>(port * kUnits + unit)];
            if (s.stage != Stage::Found && s.stage != Stage::Skipped)
                continue;
            Unit u;
            u.port = port;
            u.unit = unit;
            u.watched = s.stage == Stage::Skipped;
            u.serial = s.text[kSerialIndex];
            u.firmware = s.text[kFirmwareIndex];
            for (std::size_t i = 0; i < u.sensorCodes.size(); ++i)
                u.sensorCodes[i] = s.text[kCodeIndex + i];
            out.push_back(u);
        }
    }
    return out;
}
