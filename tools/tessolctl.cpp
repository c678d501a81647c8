// tessolctl: talks to TQK-5820 controllers from the command line through the
// program's own instrument link. read, write, write-text and scan speak to
// the link directly; status, set-point, output and watch go through the
// controller's configuration document, exactly as the window's panels do.

#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/MqttPublisher.h"
#include "config/SensorTypeTracker.h"
#include "config/SensorWords.h"
#include "config/SettingsFile.h"
#include "config/UnitRegistry.h"
#include "link/InstrumentLink.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"
#include "link/UnitScanner.h"
#include "platform/ConsolePrompts.h"
#include "platform/LineWait.h"
#include "platform/MemoryProfile.h"
#include "platform/SystemSerialPorts.h"
#include "platform/ReadingsCsv.h"
#include "platform/SystemClock.h"
#include "resources/Messages.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

enum Exit { kOk = 0, kRefused = 1, kUsage = 2, kPortFailed = 3, kFileFailed = 4, kNotConfirmed = 5, kLimited = 6,
            kNoAnswer = 7 };
// diff: the instrument's settings differ from the file's.
constexpr int kDiffers = 1;

const char* const kUsageText =
    "usage: tessolctl [--port COMn | --device PATH] [--unit N] COMMAND\n"
    "       tessolctl --help | --version\n"
    "commands:\n"
    "  read P              read parameter P (0-99) and print its 8-character data\n"
    "  write P NUMBER      write a number to parameter P and print the echo\n"
    "  write-text P TEXT   write an 8-character text to parameter P and print the echo\n"
    "  scan [--units A-B]  list the units that answer on the port (default 1-99) with their serial\n"
    "                      number, firmware version and sensor type\n"
    "  status              wait until the unit answers (at most 10 s) and print its state\n"
    "  set-point VALUE     write the set point (in kOhms in a resistance mode) and print it as read back;\n"
    "                      a value outside the unit's range (-199.9 to 199.9 degrees C, 0.1 to\n"
    "                      499.9 kOhms) is limited to it, which is said and ends with status 6\n"
    "  output on|off       switch the output and print its state as read back\n"
    "  save FILE           read every setting afresh and write them to the settings file FILE\n"
    "  diff FILE           compare the settings file FILE with the unit, setting by setting\n"
    "  apply FILE [--dry-run] [--change-sensor-type] [--skip-unknown]\n"
    "                      write the file's settings that differ (the sensor type first), read all\n"
    "                      back and report each: landed, refused or not confirmed; --dry-run only\n"
    "                      says what would be written\n"
    "  watch [--interval S] [--count N] [--csv FILE] [--mqtt URL [--mqtt-control] [--mqtt-ca FILE]]\n"
    "                      log the readings every S seconds (default 1), N rows (default: until\n"
    "                      interrupted), also into FILE; missing readings show as ???.???\n"
    "                      --mqtt publishes them to the broker at mqtt://HOST[:PORT] or\n"
    "                      mqtts://HOST[:PORT] under tessol/<id>/ (log in with TESSOL_MQTT_USERNAME\n"
    "                      and TESSOL_MQTT_PASSWORD); --mqtt-control takes setpoint/set and\n"
    "                      output/set from it; --mqtt-ca trusts FILE's certificates for mqtts\n"
    "The port defaults to COM2 and the unit to 1. COMn (either case) leads to $TESSOL_COMn, else\n"
    "/dev/ttyS(n-1).\n"
    "exit status: 0 done; 1 the instrument refused, or the unit does not answer; 2 bad arguments;\n"
    "3 the port cannot be opened; 4 the CSV file cannot be written; 5 (set-point, output) written,\n"
    "not confirmed: the answer to the write was lost and the value read back is not the one written,\n"
    "or the unit did not answer the read back; 6 (set-point) the value was outside the range and\n"
    "the limit was written instead; 7 (save, diff) the unit does not answer, or a setting did not come.\n"
    "diff: 0 the unit has the file's settings, 1 it differs, 4 FILE cannot be read or is not a\n"
    "settings file. save: 4 FILE cannot be written. apply: 0 every setting landed (--dry-run: the\n"
    "unit has them), 1 one was refused (--dry-run: some differ), 4 FILE cannot be applied (errors,\n"
    "values out of range, unknown names without --skip-unknown, another sensor type without\n"
    "--change-sensor-type): nothing written, 5 one is not confirmed, 7 the unit went away.\n";

int usage(const char* problem = nullptr)
{
    if (problem != nullptr)
        std::fprintf(stderr, "tessolctl: %s\n", problem);
    std::fputs(kUsageText, stderr);
    return kUsage;
}

bool parseInt(const char* text, int low, int high, int& out)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*end != '\0' || errno != 0 || v < low || v > high)
        return false;
    out = static_cast<int>(v);
    return true;
}

// A decimal number as a user types it: a sign, digits and one decimal
// point. strtod alone would also take hexadecimal ("0x10" is 16), exponents
// and words such as "inf", none of which a user means for a set point.
bool parseNumber(const char* text, double& out)
{
    if (text == nullptr || *text == '\0')
        return false;
    const char* c = text + (*text == '+' || *text == '-' ? 1 : 0);
    int digits = 0;
    int points = 0;
    for (; *c != '\0'; ++c) {
        if (*c == '.')
            ++points;
        else if (std::isdigit(static_cast<unsigned char>(*c)))
            ++digits;
        else
            return false;
    }
    if (digits == 0 || points > 1)
        return false;
    char* end = nullptr;
    out = std::strtod(text, &end);
    return *end == '\0' && std::isfinite(out);
}

// A message that ends in "returned End Code NN." gets what NN means behind
// it; the window program's message says the code alone, which tells a user
// at a terminal nothing.
std::string withEndCodeMeaning(const std::string& text)
{
    static const std::string kMarker = "returned End Code ";
    const std::size_t at = text.rfind(kMarker);
    if (at == std::string::npos)
        return text;
    const std::size_t digits = at + kMarker.size();
    std::size_t end = digits;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
        ++end;
    if (end == digits || end - digits > 3 || end >= text.size() || text[end] != '.')
        return text;
    const int code = std::atoi(text.substr(digits, end - digits).c_str());
    return text.substr(0, end + 1) + " (" + protocol::endCodeMeaning(code) + ")" + text.substr(end + 1);
}

// With --device the link still calls its line COM1; the user knows it by the
// name given, so every "COM1" in what the tool prints becomes that name.
std::string lineNamed(const std::string& text, const std::string& device)
{
    if (device.empty())
        return text;
    static const std::string kLine = "COM1";
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = text.find(kLine); at != std::string::npos; at = text.find(kLine, at + kLine.size())) {
        const std::size_t after = at + kLine.size();
        if (after < text.size() && std::isdigit(static_cast<unsigned char>(text[after])))
            continue;
        out += text.substr(from, at - from) + device;
        from = after;
    }
    return out + text.substr(from);
}

std::string endCodeText(const ReplyPacket& r, int unit, int cls, int param)
{
    char text[128];
    std::snprintf(text, sizeof text, msg::kEndCode, unit, cls, param, r.endCode());
    return withEndCodeMeaning(text);
}

bool succeeded(const ReplyPacket& r)
{
    return r.endCode() == protocol::kEndOk || r.endCode() == protocol::kEndOkAlternate;
}

// Waits at most `ms` for the line to bring something the link will take.
// Only while the link still lacks reply bytes does it wait on the line's
// descriptor; otherwise (nothing out, 21 bytes of junk taken with more
// waiting, a lost device) that descriptor may stay ready for good, and a
// loop around this wait would spin a core, so it just lets the time pass.
void waitOnLink(const InstrumentLink& link, int port, int ms)
{
    waitOnLine(link.watch(port), ms);
}

// The link's open error and, after it, the device and the reason:
// "ERROR - COM2 Port Open failed : OS Error = 13 (/dev/ttyUSB0: Permission denied - ...)".
// With a device given, the device stands where the port's name would.
void printOpenError(const InstrumentLink& link, int port, const std::string& device)
{
    if (link.lastError(port).empty())
        return;
    std::string text = link.lastError(port);
    if (!link.lastErrorDetail(port).empty())
        text += " (" + link.lastErrorDetail(port) + ")";
    std::fprintf(stderr, "%s\n", lineNamed(text, device).c_str());
}

class Session {
public:
    Session() : ports_(nullptr), link_(ports_, clock_, prompts_) {}

    void usePort(int index)
    {
        port_ = index;
        device_.clear();
    }
    void useDevice(const std::string& path)
    {
        ports_.setPath("COM1", path);
        port_ = 0;
        device_ = path;
    }

    bool open()
    {
        if (link_.openPort(port_))
            return true;
        printOpenError(link_, port_, device_);
        return false;
    }

    // One command and its reply, or the link's end code 98 reply when the
    // unit does not answer in time.
    std::unique_ptr<ReplyPacket> transact(int unit, int cls, int param, const std::string& data)
    {
        link_.dropReplies(port_, protocol::kDeviceDigit, unit);
        if (!link_.postCommand(port_, protocol::kDeviceDigit, unit, cls, param, data))
            return nullptr;
        for (;;) {
            link_.servicePort(port_);
            if (auto r = link_.takeReply(port_, protocol::kDeviceDigit, unit))
                return r;
            waitOnLink(link_, port_, 20);
        }
    }

    InstrumentLink& link() { return link_; }
    int port() const { return port_; }
    const std::string& device() const { return device_; }

private:
    SystemClock clock_;
    ConsolePrompts prompts_;
    SystemSerialPorts ports_;
    InstrumentLink link_;
    int port_ = 1;
    std::string device_;
};

int runTransaction(Session& session, int unit, int cls, int param, const std::string& data)
{
    if (!session.open())
        return kPortFailed;
    const auto r = session.transact(unit, cls, param, data);
    if (!r)
        return kRefused;
    if (!succeeded(*r)) {
        std::fprintf(stderr, "%s\n", endCodeText(*r, unit, cls, param).c_str());
        return kRefused;
    }
    std::printf("%s\n", r->data().c_str());
    return kOk;
}

// An 8-character text as it came, or question marks where none came.
std::string orUnknown(const std::string& text)
{
    return text.empty() ? std::string(protocol::kDataLength, '?') : text;
}

// Probes the units of the range all at once through the program's own
// scanner, then lists each that answered with what it said about itself.
int runScan(Session& session, int first, int last)
{
    InstrumentLink& link = session.link();
    const int port = session.port();
    UnitScanner scanner(link);
    scanner.start({port}, first, last);
    if (!scanner.failures().empty()) {
        printOpenError(link, port, session.device());
        return kPortFailed;
    }
    int shown = -1;
    for (;;) {
        // Every step that moves the line on is taken before the wait: the
        // next probe goes out as soon as the last one is given up.
        std::uint64_t before = 0;
        do {
            before = link.progress(port);
            link.servicePort(port);
            scanner.step();
        } while (link.progress(port) != before && !scanner.finished());
        if (scanner.probed() != shown) {
            shown = scanner.probed();
            std::fprintf(stderr, "probed %d of %d\n", shown, scanner.total());
        }
        if (scanner.finished())
            break;
        const int silence = link.silenceDueInMs(port);
        waitOnLink(link, port, silence >= 0 && silence < 20 ? silence : 20);
    }
    const auto units = scanner.units();
    for (const UnitScanner::Unit& u : units) {
        const auto& c = u.sensorCodes;
        const char* sensor = SensorTypeTracker::TypeName(SensorTypeTracker::ClassifyTexts(c[0], c[1], c[2], c[3]));
        std::printf("unit %02d  serial %s  firmware %s  sensor %s\n", u.unit, orUnknown(u.serial).c_str(),
                    orUnknown(u.firmware).c_str(), *sensor != '\0' ? sensor : "?");
    }
    std::fflush(stdout);
    std::fprintf(stderr, "%zu unit(s) answered\n", units.size());
    return units.empty() ? kRefused : kOk;
}

bool printable8(const std::string& text)
{
    if (text.size() != protocol::kDataLength)
        return false;
    for (char c : text) {
        if (c < 0x20 || c > 0x7e)
            return false;
    }
    return true;
}


// ---------------------------------------------------------------- through the document

const char* const kNoReading = csvlog::kNoReading;
// The parameter-table rows of the set point's entry, in degrees and in kOhms.
constexpr std::uint8_t kRowSetTemperature = 1;
constexpr std::uint8_t kRowSetResistance = 43;
// How long status, set-point and output wait for the unit to answer, and
// then for what they asked, in milliseconds.
constexpr std::int64_t kAnswerWaitMs = 10000;

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

// Console prompts that also count the boxes, so that a command can tell a
// refusal the document reported from a success. End codes get their meaning,
// and a line given by --device is called by that name.
class ToolPrompts : public ConsolePrompts {
public:
    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override
    {
        ++shown;
        return ConsolePrompts::messageBox(caption, lineNamed(withEndCodeMeaning(text), device), buttons, icon);
    }
    int shown = 0;
    std::string device;
};

// One controller's configuration document on its own link, driven by the
// program's idle pass: the document's poll, then the link's service step,
// then a short wait on the line instead of spinning.
class DocSession {
public:
    DocSession(int port, const std::string& device, int unit)
        : ports_(nullptr)
        , link_(ports_, clock_, prompts_)
        , doc_(link_, clock_, profile_, prompts_, &registry_)
        , controller_(doc_, clock_)
        , port_(port)
        , unit_(unit)
        , device_(device)
    {
        if (!device.empty())
            ports_.setPath("COM1", device);
        prompts_.device = device;
        // A settings store of its own: the tool changes nobody's defaults.
        profile_.writeInt(CTqk5820ConfigDoc::kProfileSection, CTqk5820ConfigDoc::kPortKey, port);
        doc_.SetWaitHandler([this] { waitForLine(10); });
        // The tool reads its rows itself, as a window does; the controller
        // carries them to the broker.
        controller_.SetWindowCount(1);
    }

    ~DocSession()
    {
        // The broker hears that this controller goes offline while the
        // document still stands.
        controller_.StopPublishing();
        doc_.OnCloseDocument();
    }

    DocSession(const DocSession&) = delete;
    DocSession& operator=(const DocSession&) = delete;

    bool open()
    {
        doc_.OnNewDocument();
        if (!doc_.IsPortUsable()) {
            printOpenError(link_, port_, device_);
            return false;
        }
        if (unit_ != doc_.GetUnitNumber())
            doc_.ChangeUnitNumber(unit_);
        return true;
    }

    // Publishes this controller to a broker from now on; notices go to
    // standard error.
    void publish(const MqttSetup& setup)
    {
        notices_ = std::make_unique<MqttNotices>(
            [](const std::string& text) { std::fprintf(stderr, "tessolctl: %s\n", text.c_str()); });
        controller_.StartPublishing(setup, *notices_, portName());
    }
    MqttPublisher* publisher() { return controller_.Publisher(); }
    Controller& controller() { return controller_; }

    CTqk5820ConfigDoc& doc() { return doc_; }
    const Clock& clock() const { return clock_; }
    int messagesShown() const { return prompts_.shown; }

    std::string portName() const
    {
        return device_.empty() ? std::string("COM") + static_cast<char>('1' + port_) : device_;
    }

    // One idle pass. `waitMs` bounds the wait on the line afterwards.
    void pass(int waitMs = 10)
    {
        doc_.Poll();
        link_.servicePort(port_);
        if (controller_.Publisher()) {
            controller_.Publisher()->Step(brokerReady_);
            brokerReady_ = false;
        }
        waitForLine(waitMs);
    }

    // Passes until `done` holds or `ms` have passed; whether it held.
    bool runUntil(const std::function<bool()>& done, std::int64_t ms)
    {
        const std::int64_t end = clock_.utcMillis() + ms;
        while (!done()) {
            if (stopRequested || clock_.utcMillis() >= end)
                return false;
            pass();
        }
        return true;
    }

    bool waitOnline(std::int64_t ms)
    {
        return runUntil([this] { return doc_.IsOnline() && doc_.GetSensorType() != SensorTypeTracker::kNoType; },
                        ms);
    }

    enum class Written { kConfirmed, kRefused, kNotTaken, kAnswerLost };
    // Writes until the document takes it (as a panel retries a pending
    // write), then waits for the instrument's answer: confirmed, refused
    // (the document reported the end code), not taken, or its answer lost,
    // when it may have landed all the same.
    Written write(int p, const std::function<bool()>& attempt)
    {
        const int before = prompts_.shown;
        if (!runUntil(attempt, kAnswerWaitMs))
            return Written::kNotTaken;
        if (!runUntil([&] { return !doc_.IsOutstanding(p); }, kAnswerWaitMs))
            return Written::kAnswerLost;
        if (prompts_.shown != before)
            return Written::kRefused;
        // A lost answer to a write takes the document offline at once.
        return doc_.IsOnline() ? Written::kConfirmed : Written::kAnswerLost;
    }

    // After a lost answer: waits for the unit to answer again and reads p
    // back into `back`. False if it does not answer meanwhile.
    bool readBack(int p, std::string& back)
    {
        return waitOnline(kAnswerWaitMs) && runUntil([&] { return doc_.GetText(p, back); }, kAnswerWaitMs);
    }

private:
    // On the line, and on the broker's socket while publishing.
    void waitForLine(int ms)
    {
        if (!controller_.Publisher() || controller_.Publisher()->Socket() < 0) {
            waitOnLink(link_, port_, ms);
            return;
        }
        std::vector<WaitFd> broker {WaitFd {controller_.Publisher()->Socket(), controller_.Publisher()->WantsWrite(), false}};
        waitOnLineAnd(link_.watch(port_), broker, ms);
        brokerReady_ = brokerReady_ || broker[0].ready;
    }

    SystemClock clock_;
    ToolPrompts prompts_;
    MemoryProfile profile_;
    SystemSerialPorts ports_;
    InstrumentLink link_;
    UnitRegistry registry_;
    CTqk5820ConfigDoc doc_;
    Controller controller_;
    int port_;
    int unit_;
    std::string device_;
    std::unique_ptr<MqttNotices> notices_;
    bool brokerReady_ = false;
};

// The readings that status and watch show, read as the Measurement panel
// reads them: armed once, each taken through the document's cache.
struct Readings {
    bool resistance = false;   // the sensor reads in kOhms
    std::string actual, setPoint, current, voltage, output;
    bool wantActual = false, wantSetPoint = false, wantCurrent = false, wantVoltage = false, wantOutput = false;

    void arm()
    {
        wantActual = wantSetPoint = wantCurrent = wantVoltage = wantOutput = true;
        actual = setPoint = current = voltage = kNoReading;
        output = csvlog::kNoOutput;
    }

    bool complete() const { return !(wantActual || wantSetPoint || wantCurrent || wantVoltage || wantOutput); }

    std::string unit() const { return csvlog::unitText(resistance); }

    static std::string number(float v) { return csvlog::number(static_cast<double>(v)); }

    // Follows the sensor type (a type not established keeps the mode), then
    // takes what has arrived. False while the document is offline.
    bool refresh(CTqk5820ConfigDoc& doc)
    {
        if (!doc.IsOnline())
            return false;
        const int type = doc.GetSensorType();
        if (type != SensorTypeTracker::kNoType)
            resistance = SensorTypeTracker::IsResistanceMode(type);
        float v = 0;
        std::string text;
        if (wantActual && doc.GetNumber(resistance ? pn::kSensorResistance : pn::kActualTemperature, v)) {
            actual = number(v);
            wantActual = false;
        }
        if (wantSetPoint && doc.GetNumber(resistance ? pn::kSetResistance : pn::kSetTemperature, v)) {
            setPoint = number(v);
            wantSetPoint = false;
        }
        if (wantCurrent && doc.ReadTeCurrent(v)) {
            current = number(v);
            wantCurrent = false;
        }
        if (wantVoltage && doc.ReadTeVoltage(v)) {
            voltage = number(v);
            wantVoltage = false;
        }
        if (wantOutput && doc.ReadOutputState(text)) {
            output = csvlog::outputText(text);
            wantOutput = false;
        }
        return true;
    }
};

std::string trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Serial number and firmware version as the Info panel shows them.
void identity(DocSession& s, std::string& serial, std::string& firmware)
{
    std::string text;
    serial = "????????";
    firmware = "???";
    bool haveSerial = false;
    bool haveFirmware = false;
    s.runUntil([&] {
        if (!haveSerial && s.doc().ReadSerialNumber(text)) {
            serial = trimmed(text);
            haveSerial = true;
        }
        if (!haveFirmware && s.doc().ReadFirmwareVersion(text)) {
            char version[32];
            std::snprintf(version, sizeof version, "%.1f", protocol::textToDouble(text));
            firmware = version;
            haveFirmware = true;
        }
        return (haveSerial && haveFirmware) || !s.doc().IsOnline();
    }, kAnswerWaitMs);
}

int notAnswering(DocSession& s)
{
    std::fprintf(stderr, "tessolctl: unit %02d does not answer on %s\n", s.doc().GetUnitNumber(),
                 s.portName().c_str());
    return kRefused;
}

int runStatus(DocSession& s)
{
    if (!s.open())
        return kPortFailed;
    if (!s.waitOnline(kAnswerWaitMs))
        return notAnswering(s);
    std::string serial, firmware;
    identity(s, serial, firmware);
    Readings r;
    r.arm();
    s.runUntil([&] { return !r.refresh(s.doc()) || r.complete(); }, kAnswerWaitMs);
    const int type = s.doc().GetSensorType();
    std::printf("unit           %02d\n", s.doc().GetUnitNumber());
    std::printf("port           %s\n", s.portName().c_str());
    std::printf("firmware       %s\n", firmware.c_str());
    std::printf("serial number  %s\n", serial.c_str());
    std::printf("sensor type    %s\n", type == SensorTypeTracker::kNoType ? "unknown" : SensorTypeTracker::TypeName(type));
    std::printf("actual         %s %s\n", r.actual.c_str(), r.unit().c_str());
    std::printf("set point      %s %s\n", r.setPoint.c_str(), r.unit().c_str());
    std::printf("output         %s\n", r.output.c_str());
    std::printf("TE current     %s A\n", r.current.c_str());
    std::printf("TE voltage     %s V\n", r.voltage.c_str());
    std::fflush(stdout);
    return r.complete() ? kOk : kRefused;
}

// What a write whose answer was lost comes to: the unit is asked for the
// value, and only a value read back as written counts as written. `what`
// names the setting ("set point"), `shown` turns a read-back text into
// what the user reads, and the value counts as written when it shows as
// the written one does.
int settleLostAnswer(DocSession& s, int p, const std::string& written, const char* what,
                     const std::function<std::string(const std::string&)>& shown)
{
    std::string back;
    if (!s.readBack(p, back)) {
        std::fprintf(stderr, "tessolctl: unit %02d on %s: %s %s written, not confirmed: its answer was lost and"
                             " the unit does not answer a read back\n",
                     s.doc().GetUnitNumber(), s.portName().c_str(), what, shown(written).c_str());
        return kNotConfirmed;
    }
    if (shown(back) != shown(written)) {
        std::fprintf(stderr, "tessolctl: unit %02d on %s: %s %s written, not confirmed: its answer was lost and"
                             " the unit reads back %s\n",
                     s.doc().GetUnitNumber(), s.portName().c_str(), what, shown(written).c_str(), shown(back).c_str());
        return kNotConfirmed;
    }
    std::fprintf(stderr, "tessolctl: unit %02d on %s: the answer to the write was lost; read back, the %s is as written\n",
                 s.doc().GetUnitNumber(), s.portName().c_str(), what);
    return kOk;
}

// Reads p afresh, not from what the document holds; false when no answer
// came (or the unit went away meanwhile).
bool readFresh(DocSession& s, int p, std::string& text)
{
    CTqk5820ConfigDoc& doc = s.doc();
    // A few lost answers in a row take the unit offline for a moment: it is
    // waited for and asked again, three times at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (!doc.IsOnline() && !s.waitOnline(kAnswerWaitMs))
            return false;
        if (!s.runUntil([&] { return !doc.IsOutstanding(p) || !doc.IsOnline(); }, kAnswerWaitMs))
            return false;
        if (!doc.IsOnline() || !doc.RequestRead(p))
            continue;
        if (!s.runUntil([&] { return !doc.IsOutstanding(p); }, kAnswerWaitMs))
            return false;
        text = doc.ValueText(p);
        if (doc.IsOnline() && text.size() == protocol::kDataLength)
            return true;
    }
    return false;
}

// The unit's settings, every one read afresh: its sensor type from the
// code pair, then what that type has. What did not come is named in
// `missing`; a sensor type that did not come leaves the type at -1.
settingsfile::Settings readSettings(DocSession& s, std::vector<std::string>& missing)
{
    settingsfile::Header header;
    header.savedBy = std::string("Tessol ") + TESSOL_VERSION;
    header.savedAt = csvlog::isoTime(s.clock().utcMillis());
    char from[48];
    std::snprintf(from, sizeof from, "%s unit %02d", s.portName().c_str(), s.doc().GetUnitNumber());
    header.savedFrom = from;
    identity(s, header.serialNumber, header.firmware);
    std::map<int, std::string> texts;
    const auto read = [&](int p) {
        std::string text;
        if (readFresh(s, p, text))
            texts[p] = text;
        return texts[p];
    };
    const int first = pn::kCoefficientFirst;
    const int type = SensorTypeTracker::ClassifyTexts(read(first), read(first + 1), read(first + 2), read(first + 3));
    if (type == SensorTypeTracker::kNoType) {
        missing.push_back(settingsfile::kSensorTypeKey);
        return settingsfile::Settings {};
    }
    for (const settingsfile::Definition& d : settingsfile::DefinitionsFor(type)) {
        if (texts.count(d.parameter) == 0)
            read(d.parameter);
    }
    return settingsfile::Make(header, type, [&](int p) { return texts[p]; }, missing);
}

// Opens the unit's line and waits until the unit answers (within the usual
// wait) and its sensor type is known (within longer: on a line that loses
// answers the type's reads may take a few rounds). kOk, or the exit status
// after saying why not.
int openSettled(DocSession& s)
{
    if (!s.open())
        return kPortFailed;
    if (!s.runUntil([&] { return s.doc().IsOnline(); }, kAnswerWaitMs) || !s.waitOnline(3 * kAnswerWaitMs)) {
        notAnswering(s);
        return kNoAnswer;
    }
    return kOk;
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// readSettings with every setting there; false, after naming what did not
// come (and `consequence`), when one is missing.
bool readAllSettings(DocSession& s, settingsfile::Settings& settings, const char* consequence)
{
    std::vector<std::string> missing;
    settings = readSettings(s, missing);
    if (missing.empty())
        return true;
    std::fprintf(stderr, "tessolctl: unit %02d on %s: no answer for %s%s\n", s.doc().GetUnitNumber(),
                 s.portName().c_str(), joined(missing).c_str(), consequence);
    return false;
}

int runSave(DocSession& s, const std::string& path)
{
    if (const int opened = openSettled(s); opened != kOk)
        return opened;
    settingsfile::Settings settings;
    if (!readAllSettings(s, settings, "; nothing saved"))
        return kNoAnswer;
    // Written beside the file and then put in its place: a failure halfway
    // leaves the file as it was.
    const std::string temporary = path + ".part";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << settingsfile::Format(settings);
        out.close();
        if (!out || std::rename(temporary.c_str(), path.c_str()) != 0) {
            std::fprintf(stderr, "tessolctl: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
            std::remove(temporary.c_str());
            return kFileFailed;
        }
    }
    std::printf("%zu settings of unit %02d (%s) saved to %s\n", settings.values.size() + 1,
                s.doc().GetUnitNumber(), settings.header.serialNumber.c_str(), path.c_str());
    return kOk;
}

// Reads and checks a settings file; false (said on standard error) when
// it cannot be read or has errors. Unknown settings are said and skipped.
bool loadSettings(const std::string& path, settingsfile::Settings& settings, bool* unknown = nullptr)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tessolctl: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    std::string text(settingsfile::kMaxBytes + 1, '\0');
    in.read(&text[0], static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    const settingsfile::Parsed parsed = settingsfile::Parse(text);
    for (const settingsfile::Problem& p : parsed.errors)
        std::fprintf(stderr, "tessolctl: %s: %s\n", path.c_str(), settingsfile::Describe(p).c_str());
    for (const settingsfile::Problem& p : parsed.unknown)
        std::fprintf(stderr, "tessolctl: %s: %s\n", path.c_str(), settingsfile::Describe(p).c_str());
    settings = parsed.settings;
    if (unknown != nullptr)
        *unknown = !parsed.unknown.empty();
    return parsed.errors.empty();
}

int runDiff(DocSession& s, const std::string& path)
{
    settingsfile::Settings file;
    if (!loadSettings(path, file))
        return kFileFailed;
    if (const int opened = openSettled(s); opened != kOk)
        return opened;
    settingsfile::Settings unit;
    if (!readAllSettings(s, unit, ""))
        return kNoAnswer;
    const std::vector<settingsfile::Difference> differences = settingsfile::Compare(file, unit);
    std::printf("%-24s%-22s%-22s\n", "setting", "file", "unit");
    int differing = 0;
    const auto shown = [](const std::string& value, const std::string& in) {
        return value.empty() ? std::string("-") : in.empty() ? value : value + " " + in;
    };
    for (const settingsfile::Difference& d : differences) {
        // Padded by characters, not bytes: the degree sign is two bytes.
        const auto pad = [](std::string text, std::size_t width) {
            std::size_t shownWidth = 0;
            for (unsigned char c : text)
                shownWidth += (c & 0xc0) != 0x80 ? 1 : 0;
            return text + std::string(shownWidth < width ? width - shownWidth : 1, ' ');
        };
        std::printf("%s%s%s%s\n", pad(d.key, 24).c_str(), pad(shown(d.file, d.unit), 22).c_str(),
                    pad(shown(d.instrument, d.unit), 22).c_str(), d.differs ? "differs" : "");
        differing += d.differs ? 1 : 0;
    }
    if (differing > 0)
        std::printf("%d of %zu settings differ\n", differing, differences.size());
    else
        std::printf("the unit has the file's %zu settings\n", differences.size());
    std::fflush(stdout);
    return differing > 0 ? kDiffers : kOk;
}

struct ApplyOptions {
    bool dryRun = false;
    bool changeSensorType = false;
    bool skipUnknown = false;
};

// Changes the unit's sensor type as the Sensor panel does and waits for
// the change to settle; false if it did not.
bool changeSensorType(DocSession& s, int type)
{
    SensorTypeTracker& tracker = s.doc().SensorTypes();
    tracker.RequestType(type);
    return s.runUntil([&] { return tracker.RequestedType() == SensorTypeTracker::kNoType
                                   && tracker.CurrentType() != SensorTypeTracker::kNoType; },
                      3 * kAnswerWaitMs)
        && tracker.CurrentType() == type;
}

int runApply(DocSession& s, const std::string& path, const ApplyOptions& options)
{
    namespace sf = settingsfile;
    sf::Settings file;
    bool unknown = false;
    if (!loadSettings(path, file, &unknown))
        return kFileFailed;
    if (unknown && !options.skipUnknown) {
        std::fprintf(stderr, "tessolctl: %s has settings this program does not know; nothing written"
                             " (--skip-unknown applies the rest)\n", path.c_str());
        return kFileFailed;
    }
    const std::vector<sf::Problem> problems = sf::RangeProblems(file);
    for (const sf::Problem& p : problems)
        std::fprintf(stderr, "tessolctl: %s: %s\n", path.c_str(), sf::Describe(p).c_str());
    if (!problems.empty()) {
        std::fprintf(stderr, "tessolctl: %s: nothing written\n", path.c_str());
        return kFileFailed;
    }
    if (const int opened = openSettled(s); opened != kOk)
        return opened;
    const int unitNumber = s.doc().GetUnitNumber();
    // The unit went away: each setting of the file is said, landed (its
    // write was answered) or not confirmed.
    const auto gone = [&](const std::vector<std::string>& landed) {
        std::fprintf(stderr, "tessolctl: unit %02d on %s went away%s%s\n", unitNumber, s.portName().c_str(),
                     landed.empty() ? "; nothing landed" : "; landed before: ", joined(landed).c_str());
        std::vector<std::string> keys {sf::kSensorTypeKey};
        for (const sf::Value& v : file.values)
            keys.push_back(v.key);
        for (const std::string& key : keys) {
            const bool done = std::find(landed.begin(), landed.end(), key) != landed.end();
            std::printf("%-24s%s\n", key.c_str(), done ? "landed" : "not confirmed");
        }
        std::fflush(stdout);
        return kNoAnswer;
    };
    std::vector<std::string> missing;
    sf::Settings unit = readSettings(s, missing);
    if (!missing.empty())
        return gone({});
    std::vector<std::string> landed;
    if (unit.sensorType != file.sensorType) {
        if (!options.changeSensorType && !options.dryRun) {
            std::fprintf(stderr, "tessolctl: %s is for %s; unit %02d has %s. Nothing written"
                                 " (--change-sensor-type changes it)\n",
                         path.c_str(), sensorwords::TypeName(file.sensorType), unitNumber,
                         sensorwords::TypeName(unit.sensorType));
            return kFileFailed;
        }
        if (options.dryRun) {
            std::printf("%-24s%s\n", sf::kSensorTypeKey, sensorwords::TypeName(file.sensorType));
        } else {
            // The type first: a new type brings the coefficients it starts with.
            if (!changeSensorType(s, file.sensorType)) {
                if (!s.doc().IsOnline())
                    return gone({});
                std::printf("%-24srefused\n", sf::kSensorTypeKey);
                return kRefused;
            }
            landed.push_back(sf::kSensorTypeKey);
            missing.clear();
            unit = readSettings(s, missing);
            if (!missing.empty())
                return gone(landed);
        }
    }
    // Only what differs is written, in the file's order.
    std::vector<sf::Definition> toWrite;
    for (const sf::Definition& d : sf::DefinitionsFor(file.sensorType)) {
        const sf::Value* f = file.Find(d.key);
        const sf::Value* u = unit.sensorType == file.sensorType ? unit.Find(d.key) : nullptr;
        if (f != nullptr && (u == nullptr || sf::Normalise(d, u->text) != f->text))
            toWrite.push_back(d);
    }
    // A custom thermistor's first two coefficients are also its code pair:
    // written one after the other they must not pass through a pair that
    // stands for another type.
    const sf::Value* a = file.Find("coefficient-1");
    const sf::Value* b = unit.Find("coefficient-2");
    if (file.sensorType == 0 && a != nullptr && b != nullptr
        && sensorwords::Classify(std::strtof(a->text.c_str(), nullptr), std::strtof(b->text.c_str(), nullptr), 1, 1)
            != 0) {
        const auto first = std::find_if(toWrite.begin(), toWrite.end(),
                                        [](const sf::Definition& d) { return std::string(d.key) == "coefficient-1"; });
        if (first != toWrite.end() && std::next(first) != toWrite.end()
            && std::string(std::next(first)->key) == "coefficient-2")
            std::iter_swap(first, std::next(first));
    }
    if (options.dryRun) {
        for (const sf::Definition& d : toWrite)
            std::printf("%-24s%s -> %s\n", d.key, unit.Find(d.key) ? unit.Find(d.key)->text.c_str() : "-",
                        file.Find(d.key)->text.c_str());
        std::printf("%zu setting(s) would be written\n", toWrite.size() + (unit.sensorType != file.sensorType));
        return toWrite.empty() && unit.sensorType == file.sensorType ? kOk : kDiffers;
    }
    std::map<std::string, std::string> outcome;
    sf::Settings after;
    // A write whose answer was lost may or may not have landed: what still
    // differs when read back (and was not refused) is written again, twice
    // at most.
    std::vector<sf::Definition> round = toWrite;
    for (int attempt = 0; attempt < 3; ++attempt) {
        for (const sf::Definition& d : round) {
            const std::string wire = sf::WireText(d, file.Find(d.key)->text);
            const DocSession::Written w = s.write(d.parameter, [&] { return s.doc().WriteText(d.parameter, wire); });
            outcome[d.key] = w == DocSession::Written::kRefused ? "refused" : "";
            if (w == DocSession::Written::kConfirmed && std::find(landed.begin(), landed.end(), d.key) == landed.end())
                landed.push_back(d.key);
            if (!s.doc().IsOnline() && !s.waitOnline(kAnswerWaitMs))
                return gone(landed);
        }
        // Everything read back: only what the unit now has counts.
        missing.clear();
        after = readSettings(s, missing);
        if (after.sensorType < 0)
            return gone(landed);
        std::vector<sf::Definition> again;
        for (const sf::Definition& d : round) {
            const sf::Value* now = after.Find(d.key);
            if (outcome[d.key] != "refused" && (now == nullptr || now->text != file.Find(d.key)->text))
                again.push_back(d);
        }
        if (again.empty())
            break;
        round = again;
    }
    int refused = 0;
    int unconfirmed = 0;
    for (const sf::Difference& d : sf::Compare(file, after)) {
        const char* said = !d.differs ? "landed" : outcome[d.key] == "refused" ? "refused" : "not confirmed";
        const bool written = d.key == sf::kSensorTypeKey
            ? std::find(landed.begin(), landed.end(), std::string(sf::kSensorTypeKey)) != landed.end()
            : std::any_of(toWrite.begin(), toWrite.end(), [&d](const sf::Definition& w) { return d.key == w.key; });
        if (!written && !d.differs)
            said = "as it was";
        refused += d.differs && outcome[d.key] == "refused" ? 1 : 0;
        unconfirmed += d.differs && outcome[d.key] != "refused" ? 1 : 0;
        std::printf("%-24s%s\n", d.key.c_str(), said);
    }
    std::fflush(stdout);
    return refused > 0 ? kRefused : unconfirmed > 0 ? kNotConfirmed : kOk;
}

int runSetPoint(DocSession& s, const char* typed, double value)
{
    if (!s.open())
        return kPortFailed;
    if (!s.waitOnline(kAnswerWaitMs))
        return notAnswering(s);
    CTqk5820ConfigDoc& doc = s.doc();
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc.GetSensorType());
    const int p = resistance ? pn::kSetResistance : pn::kSetTemperature;
    const std::string unit = csvlog::unitText(resistance);
    const auto shown = [&](const std::string& text) {
        char line[48];
        std::snprintf(line, sizeof line, "%.3f %s", protocol::textToDouble(text), unit.c_str());
        return std::string(line);
    };
    // The Measurement panel's entry range for the mode. The instrument
    // would limit a value beyond it by itself and answer as if it had been
    // taken; the user learns of it here instead, and from the exit status.
    const std::uint8_t row = resistance ? kRowSetResistance : kRowSetTemperature;
    const float scale = ParameterTable::scale(row);
    const double lower = ParameterTable::minimum(row) / static_cast<double>(scale);
    const double upper = ParameterTable::maximum(row) / static_cast<double>(scale);
    const bool limited = value < lower || value > upper;
    if (limited) {
        const int decimals = static_cast<int>(std::lround(std::log10(static_cast<double>(scale))));
        const double kept = value < lower ? lower : upper;
        std::fprintf(stderr, "tessolctl: unit %02d on %s: set point %s limited to %.3f (range %.*f to %.*f)\n",
                     doc.GetUnitNumber(), s.portName().c_str(), typed, kept, decimals, lower, decimals, upper);
        value = kept;
    }
    const int done = limited ? kLimited : kOk;
    const std::string written = protocol::renderNumber(value);
    switch (s.write(p, [&] { return doc.WriteText(p, written); })) {
    case DocSession::Written::kConfirmed: break;
    case DocSession::Written::kRefused: return kRefused;
    case DocSession::Written::kNotTaken: return notAnswering(s);
    case DocSession::Written::kAnswerLost: {
        const int code = settleLostAnswer(s, p, written, "set point", shown);
        if (code != kOk)
            return code;
        std::printf("set point %s\n", shown(written).c_str());
        return done;
    }
    }
    float back = 0;
    if (!s.runUntil([&] { return doc.GetNumber(p, back); }, kAnswerWaitMs))
        return kRefused;
    std::printf("set point %.3f %s\n", static_cast<double>(back), unit.c_str());
    return done;
}

int runOutput(DocSession& s, bool on)
{
    if (!s.open())
        return kPortFailed;
    if (!s.waitOnline(kAnswerWaitMs))
        return notAnswering(s);
    CTqk5820ConfigDoc& doc = s.doc();
    const std::string word = on ? "+000.001" : "+000.000";
    const auto shown = [](const std::string& text) { return std::string(text.size() == 8 && text[7] == '1' ? "on" : "off"); };
    switch (s.write(pn::kOutputState, [&] { return doc.WriteOutputState(word); })) {
    case DocSession::Written::kConfirmed: break;
    case DocSession::Written::kRefused: return kRefused;
    case DocSession::Written::kNotTaken: return notAnswering(s);
    case DocSession::Written::kAnswerLost: {
        // The state word has more flags than the switch: only the switch
        // is compared.
        const int code = settleLostAnswer(s, pn::kOutputState, word, "output", shown);
        if (code != kOk)
            return code;
        std::printf("output %s\n", shown(word).c_str());
        return kOk;
    }
    }
    std::string back;
    if (!s.runUntil([&] { return doc.ReadOutputState(back); }, kAnswerWaitMs))
        return kRefused;
    std::printf("output %s\n", back[7] == '1' ? "on" : "off");
    return kOk;
}

struct WatchOptions {
    double intervalSeconds = 1.0;
    long count = 0;   // 0: until stopped
    std::string csv;
    std::string mqtt;      // the broker's URL, or empty
    MqttSetup broker;
};

int runWatch(DocSession& s, const WatchOptions& options)
{
    csvlog::File csv;
    if (!options.csv.empty() && !csv.start(options.csv, true)) {
        std::fprintf(stderr, "tessolctl: cannot write %s: %s\n", options.csv.c_str(), csv.error().c_str());
        return kFileFailed;
    }
    // False once the file could not take the lines; the terminal has them.
    const auto emit = [&](const std::vector<std::string>& lines) {
        for (const std::string& line : lines)
            std::printf("%s\n", line.c_str());
        std::fflush(stdout);
        if (options.csv.empty() || csv.append(lines))
            return true;
        std::fprintf(stderr, "tessolctl: cannot write %s: %s\n", options.csv.c_str(), csv.error().c_str());
        return false;
    };

    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    if (!s.open())
        return kPortFailed;
    if (!s.waitOnline(kAnswerWaitMs))
        return notAnswering(s);
    csvlog::Identity who;
    who.unit = s.doc().GetUnitNumber();
    who.port = s.portName();
    std::string firmware;
    identity(s, who.serial, firmware);
    if (!options.mqtt.empty())
        s.publish(options.broker);

    csvlog::Writer writer;
    Readings r;
    r.resistance = SensorTypeTracker::IsResistanceMode(s.doc().GetSensorType());
    const auto intervalMs = static_cast<std::int64_t>(options.intervalSeconds * 1000.0 + 0.5);
    std::int64_t tick = s.clock().utcMillis();
    for (long row = 0; (options.count == 0 || row < options.count) && !stopRequested; ++row) {
        r.arm();
        const std::int64_t next = tick + intervalMs;
        s.runUntil([&] { return !r.refresh(s.doc()) || r.complete(); }, next - s.clock().utcMillis());
        who.resistance = r.resistance;
        csvlog::Row line;
        line.utcMillis = tick;
        line.actual = r.actual;
        line.setPoint = r.setPoint;
        line.current = r.current;
        line.voltage = r.voltage;
        line.output = r.output;
        if (!emit(writer.lines(who, line)))
            return kFileFailed;
        s.controller().Deliver(line, r.resistance);
        if (options.count != 0 && row + 1 >= options.count)
            break;
        // The line keeps working until the next row is due: the document
        // probes a unit that has gone and finds it again.
        s.runUntil([] { return false; }, next - s.clock().utcMillis());
        tick = next;
    }
    return kOk;
}

} // namespace

int main(int argc, char** argv)
{
    Session session;
    int unit = 1;
    int portIndex = 1;
    std::string device;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--help") {
            std::fputs(kUsageText, stdout);
            return kOk;
        }
        if (option == "--version") {
            std::printf("tessolctl (Tessol) %s\n", TESSOL_VERSION);
            return kOk;
        }
        if (value == nullptr)
            return usage(("missing value for " + option).c_str());
        ++i;
        if (option == "--port") {
            int n = 0;
            // com2 is as good as COM2.
            std::string name = value;
            for (char& c : name)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (name.compare(0, 3, "COM") != 0 || !parseInt(name.c_str() + 3, 1, 4, n))
                return usage("--port takes COM1 to COM4");
            session.usePort(n - 1);
            portIndex = n - 1;
            device.clear();
        } else if (option == "--device") {
            session.useDevice(value);
            portIndex = 0;
            device = value;
        } else if (option == "--unit") {
            if (!parseInt(value, 1, 99, unit))
                return usage("--unit takes a unit number from 1 to 99");
        } else {
            return usage(("unknown option " + option).c_str());
        }
    }
    if (i >= argc)
        return usage();
    const std::string command = argv[i++];
    const int rest = argc - i;
    int param = 0;

    if (command == "read") {
        if (rest != 1 || !parseInt(argv[i], 0, 99, param))
            return usage("read takes one parameter number from 0 to 99");
        return runTransaction(session, unit, protocol::kClassRead, param, protocol::kZeroData);
    }
    if (command == "write") {
        double value = 0;
        if (rest != 2 || !parseInt(argv[i], 0, 99, param) || !parseNumber(argv[i + 1], value))
            return usage("write takes a parameter number from 0 to 99 and a number");
        const std::string data = protocol::renderNumber(value);
        if (data.size() != protocol::kDataLength)
            return usage("the number does not fit the 8-character data field (-999.999 to 9999.999)");
        return runTransaction(session, unit, protocol::kClassWrite, param, data);
    }
    if (command == "write-text") {
        if (rest != 2 || !parseInt(argv[i], 0, 99, param))
            return usage("write-text takes a parameter number from 0 to 99 and a text");
        if (!printable8(argv[i + 1]))
            return usage("the text must be exactly 8 printable characters");
        return runTransaction(session, unit, protocol::kClassWrite, param, argv[i + 1]);
    }
    if (command == "scan") {
        int first = 1;
        int last = 99;
        if (rest == 2 && std::strcmp(argv[i], "--units") == 0) {
            const std::string range = argv[i + 1];
            const auto dash = range.find('-');
            if (dash == std::string::npos || !parseInt(range.substr(0, dash).c_str(), 1, 99, first)
                || !parseInt(range.substr(dash + 1).c_str(), 1, 99, last) || first > last)
                return usage("--units takes a range A-B within 1-99");
        } else if (rest != 0) {
            return usage("scan takes only --units A-B");
        }
        return runScan(session, first, last);
    }
    if (command == "status") {
        if (rest != 0)
            return usage("status takes no arguments");
        DocSession s(portIndex, device, unit);
        return runStatus(s);
    }
    if (command == "set-point") {
        double value = 0;
        // Its range depends on the sensor's mode, known once the unit answers.
        if (rest != 1 || !parseNumber(argv[i], value))
            return usage("set-point takes one number");
        DocSession s(portIndex, device, unit);
        return runSetPoint(s, argv[i], value);
    }
    if (command == "apply") {
        ApplyOptions options;
        std::string file;
        for (int k = i; k < argc; ++k) {
            const std::string a = argv[k];
            if (a == "--dry-run")
                options.dryRun = true;
            else if (a == "--change-sensor-type")
                options.changeSensorType = true;
            else if (a == "--skip-unknown")
                options.skipUnknown = true;
            else if (file.empty() && a.rfind("--", 0) != 0)
                file = a;
            else
                return usage(("apply does not take " + a).c_str());
        }
        if (file.empty())
            return usage("apply takes a settings file");
        DocSession s(portIndex, device, unit);
        return runApply(s, file, options);
    }
    if (command == "save" || command == "diff") {
        if (rest != 1)
            return usage((command + " takes one settings file").c_str());
        DocSession s(portIndex, device, unit);
        return command == "save" ? runSave(s, argv[i]) : runDiff(s, argv[i]);
    }
    if (command == "output") {
        if (rest != 1 || (std::strcmp(argv[i], "on") != 0 && std::strcmp(argv[i], "off") != 0))
            return usage("output takes on or off");
        DocSession s(portIndex, device, unit);
        return runOutput(s, std::strcmp(argv[i], "on") == 0);
    }
    if (command == "watch") {
        WatchOptions options;
        for (; i < argc; i += 2) {
            const std::string option = argv[i];
            const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
            int n = 0;
            if (option == "--interval" && value != nullptr && parseNumber(value, options.intervalSeconds)
                && options.intervalSeconds >= 0.1 && options.intervalSeconds <= 3600)
                continue;
            if (option == "--count" && value != nullptr && parseInt(value, 1, 1000000000, n)) {
                options.count = n;
                continue;
            }
            if (option == "--csv" && value != nullptr && *value != '\0') {
                options.csv = value;
                continue;
            }
            if (option == "--mqtt" && value != nullptr) {
                // Trying a broker this build cannot reach would say "trying
                // again" for ever.
                if (!MqttClient::Unavailable().empty())
                    return usage(("--mqtt cannot be used: " + MqttClient::Unavailable()).c_str());
                std::string problem;
                if (!parseMqttUrl(value, options.broker.address, problem))
                    return usage(problem.c_str());
                options.mqtt = value;
                continue;
            }
            if (option == "--mqtt-control") {
                options.broker.control = true;
                --i;
                continue;
            }
            if (option == "--mqtt-ca" && value != nullptr && *value != '\0') {
                options.broker.caFile = value;
                continue;
            }
            return usage("watch takes --interval S (0.1 to 3600), --count N (1 or more), --csv FILE, --mqtt URL,"
                         " --mqtt-control and --mqtt-ca FILE");
        }
        if (options.mqtt.empty() && (options.broker.control || !options.broker.caFile.empty()))
            return usage("--mqtt-control and --mqtt-ca go with --mqtt URL");
        if (!options.broker.caFile.empty()) {
            if (!options.broker.address.tls)
                return usage("--mqtt-ca goes with an mqtts:// broker");
            std::FILE* ca = std::fopen(options.broker.caFile.c_str(), "r");
            if (ca == nullptr)
                return usage(("cannot read " + options.broker.caFile + ": " + std::strerror(errno)).c_str());
            std::fclose(ca);
        }
        options.broker.login = mqttLogin(nullptr);
        options.broker.host = hostName();
        DocSession s(portIndex, device, unit);
        return runWatch(s, options);
    }
    return usage(("unknown command " + command).c_str());
}
