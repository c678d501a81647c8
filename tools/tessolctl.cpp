// tessolctl: talks to TQK-5820 controllers from the command line through the
// program's own instrument link. read, write, write-text and scan speak to
// the link directly; status, set-point, output and watch go through the
// controller's configuration document, exactly as the window's panels do.

#include "config/Alarms.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/Controller.h"
#include "config/Metrics.h"
#include "config/MqttPublisher.h"
#include "config/ProgramRun.h"
#include "config/SensorTypeTracker.h"
#include "config/SensorWords.h"
#include "config/SettingsFile.h"
#include "config/SettingsJob.h"
#include "config/TuneRun.h"
#include "config/SetPointProgram.h"
#include "config/UnitRegistry.h"
#include "link/InstrumentLink.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "link/DecimalText.h"
#include "link/Protocol.h"
#include "link/UnitScanner.h"
#include "platform/ConsolePrompts.h"
#include "platform/LineWait.h"
#include "platform/MemoryProfile.h"
#include "platform/MetricsServer.h"
#include "platform/SystemSerialPorts.h"
#include "config/ReadingsCsv.h"
#include "platform/SystemClock.h"
#include "platform/TextFile.h"
#include "resources/Messages.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

enum Exit { kOk = 0, kRefused = 1, kUsage = 2, kPortFailed = 3, kFileFailed = 4, kNotConfirmed = 5, kLimited = 6,
            kNoAnswer = 7, kAlarm = 8, kProgramStopped = 9, kProgramAborted = 10, kTuneNoRoom = 11,
            kTuneWiring = 12, kTuneUnsettled = 13, kTuneNoModel = 14, kTuneCancelled = 15 };
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
    "                      says what would be written. With --unit LIST (1,3,5-8) to every unit of\n"
    "                      the list at once, each line of the report after \"unit NN\"\n"
    "  run [--resume] FILE run the set-point program in FILE (steps, ramps, soaks; see docs/programs.md),\n"
    "                      printing each step as it starts; --resume takes up an interrupted run of\n"
    "                      FILE on the unit where it stood (kept in $XDG_STATE_HOME/tessol)\n"
    "  tune [--step S] [--no-overshoot] [--response S]\n"
    "                      find P, I and D by experiment: steps of S degrees (default 2) either side\n"
    "                      of the set point with the unit's own gains, a model of the stage fitted to\n"
    "                      its temperature and TE current, a fast and a no-overshoot set, and a step\n"
    "                      with the fast one (or --no-overshoot) to show it; keeps that set. The\n"
    "                      temperature must move the right way within --response seconds (default 30)\n"
    "  watch [--interval S] [--count N] [--csv FILE]\n"
    "        [--mqtt URL [--mqtt-control] [--mqtt-discovery] [--mqtt-ca FILE]]\n"
    "        [--alarm RULE]... [--exit-on-alarm] [--metrics [HOST:]PORT]\n"
    "                      log the readings every S seconds (default 1), N rows (default: until\n"
    "                      interrupted), also into FILE; missing readings show as ???.???\n"
    "                      Alarms are said on standard error: the unit silent for 10 s and an\n"
    "                      instrument error, and each --alarm: above=V, below=V, deviation=V (from\n"
    "                      the set point, once reached), current-limit=S (at its limit S seconds),\n"
    "                      silent=S, error; then ,hysteresis=H ,delay=S ,major ,latched as wanted.\n"
    "                      --exit-on-alarm ends at the first alarm raised, with status 8\n"
    "                      --mqtt publishes them to the broker at mqtt://HOST[:PORT] or\n"
    "                      mqtts://HOST[:PORT] under tessol/<id>/ (log in with TESSOL_MQTT_USERNAME\n"
    "                      and TESSOL_MQTT_PASSWORD); --mqtt-control takes setpoint/set and\n"
    "                      output/set from it; --mqtt-discovery announces the readings to Home\n"
    "                      Assistant; --mqtt-ca trusts FILE's certificates for mqtts\n"
    "                      --metrics serves the readings, alarms and line counters to Prometheus\n"
    "                      at http://HOST:PORT/metrics (HOST 127.0.0.1 unless given)\n"
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
    "--change-sensor-type): nothing written, 5 one is not confirmed, 7 the unit went away.\n"
    "watch: 8 an alarm was raised (--exit-on-alarm). run: 0 done, 4 FILE cannot be run (its problems\n"
    "are listed; --resume: no run of FILE was interrupted on the unit), 9 the set point was changed\n"
    "elsewhere (the program stops there), 10 interrupted. tune: 0 tuned, 7 the unit went away (its\n"
    "gains are written back once it is back), 11 no room for the steps within the temperature limits\n"
    "or a resistance mode, 12 no response or the wrong way (TE wiring), 13 the stage did not settle,\n"
    "14 no model fits the response, 15 interrupted; on every stop but 0 the unit's own P, I, D and\n"
    "set point are written back.\n";

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

// The fields of a list: "1,3,5-8" at ',' is "1", "3" and "5-8"; an empty
// text is one empty field.
std::vector<std::string> fields(const std::string& text, char separator)
{
    std::vector<std::string> out;
    for (std::size_t at = 0; at <= text.size();) {
        const std::size_t end = std::min(text.find(separator, at), text.size());
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

// "5", or a list of units and ranges ("1,3,5-8"), each unit once.
bool parseUnits(const std::string& text, std::vector<int>& units)
{
    units.clear();
    for (const std::string& item : fields(text, ',')) {
        const std::size_t dash = item.find('-');
        int first = 0;
        int last = 0;
        if (dash == std::string::npos ? !parseInt(item.c_str(), 1, 99, first)
                                      : !parseInt(item.substr(0, dash).c_str(), 1, 99, first)
                    || !parseInt(item.substr(dash + 1).c_str(), 1, 99, last) || last < first)
            return false;
        for (int u = first; u <= std::max(first, last); ++u) {
            if (std::find(units.begin(), units.end(), u) != units.end())
                return false;
            units.push_back(u);
        }
    }
    return !units.empty();
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
        link_.dropReplies({port_, unit});
        if (!link_.postCommand({port_, unit}, cls, param, data))
            return nullptr;
        for (;;) {
            link_.servicePort(port_);
            if (auto r = link_.takeReply({port_, unit}))
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
    // `more` are further units on the same line (apply to several): each has
    // a document of its own, and the first unit's is doc().
    DocSession(int port, const std::string& device, int unit, const std::vector<int>& more = {})
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
        docs_.push_back(&doc_);
        for (int u : more) {
            more_.push_back(std::make_unique<CTqk5820ConfigDoc>(link_, clock_, profile_, prompts_, &registry_));
            more_.back()->SetStartAddress(port, u, true);
            docs_.push_back(more_.back().get());
        }
    }

    ~DocSession()
    {
        // The broker hears that this controller goes offline while the
        // document still stands.
        controller_.StopPublishing();
        for (CTqk5820ConfigDoc* doc : docs_)
            doc->OnCloseDocument();
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
        for (auto& doc : more_)
            doc->OnNewDocument();
        return true;
    }

    // Every unit's document, the first unit's first.
    const std::vector<CTqk5820ConfigDoc*>& docs() const { return docs_; }

    // Publishes this controller to a broker from now on; notices go to
    // standard error.
    void publish(const MqttSetup& setup)
    {
        notices_ = std::make_unique<MqttNotices>(
            [](const std::string& text) { std::fprintf(stderr, "tessolctl: %s\n", text.c_str()); });
        controller_.StartPublishing(setup, *notices_, portName());
    }
    MqttPublisher* publisher() { return controller_.Publisher(); }
    // Serves this controller and its line to Prometheus from the passes;
    // readings are kept on the page for `freshMs`. False with `error`.
    bool serveMetrics(const MetricsAddress& address, std::int64_t freshMs, std::string& error)
    {
        auto server = std::make_unique<MetricsServer>([this, freshMs] {
            return metrics::Render({{&controller_, portName(), freshMs}}, {{portName(), link_.counts(port_)}},
                                   clock_.utcMillis());
        });
        if (!server->Start(address, error))
            return false;
        metrics_ = std::move(server);
        return true;
    }
    const MetricsServer* metricsServer() const { return metrics_.get(); }
    // Each pass judges the controller's alarms (watch).
    void judgeAlarms(bool on) { judgeAlarms_ = on; }
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
        for (CTqk5820ConfigDoc* doc : docs_)
            doc->Poll();
        link_.servicePort(port_);
        if (judgeAlarms_)
            controller_.JudgeAlarms();
        if (controller_.Publisher()) {
            controller_.Publisher()->Step(brokerReady_);
            brokerReady_ = false;
        }
        // Cheap when nothing came: one look at its descriptor.
        if (metrics_)
            metrics_->Service();
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
    // On the line, on the broker's socket while publishing, and on the
    // metrics' while serving them.
    void waitForLine(int ms)
    {
        const bool broker = controller_.Publisher() && controller_.Publisher()->Socket() >= 0;
        if (!broker && !metrics_) {
            waitOnLink(link_, port_, ms);
            return;
        }
        std::vector<WaitFd> others;
        if (broker)
            others.push_back(WaitFd {controller_.Publisher()->Socket(), controller_.Publisher()->WantsWrite(), false});
        if (metrics_) {
            others.push_back(WaitFd {metrics_->Socket(), false, false});
            const int due = metrics_->DueInMs();
            if (due >= 0)
                ms = std::min(ms, due);
        }
        waitOnLineAnd(link_.watch(port_), others, ms);
        brokerReady_ = brokerReady_ || (broker && others[0].ready);
    }

    SystemClock clock_;
    ToolPrompts prompts_;
    MemoryProfile profile_;
    SystemSerialPorts ports_;
    InstrumentLink link_;
    UnitRegistry registry_;
    CTqk5820ConfigDoc doc_;
    Controller controller_;
    std::vector<std::unique_ptr<CTqk5820ConfigDoc>> more_;
    std::vector<CTqk5820ConfigDoc*> docs_;
    int port_;
    int unit_;
    std::string device_;
    std::unique_ptr<MqttNotices> notices_;
    bool brokerReady_ = false;
    std::unique_ptr<MetricsServer> metrics_;
    bool judgeAlarms_ = false;
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
        if (wantActual && doc.GetNumber(pn::actual(resistance), v)) {
            actual = number(v);
            wantActual = false;
        }
        if (wantSetPoint && doc.GetNumber(pn::setPoint(resistance), v)) {
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

// Serial number and firmware version as the Info panel shows them.
void identity(DocSession& s, std::string& serial, std::string& firmware)
{
    std::string text;
    serial = protocol::kUnknownSerial;
    firmware = "???";
    bool haveSerial = false;
    bool haveFirmware = false;
    s.runUntil([&] {
        if (!haveSerial && s.doc().ReadSerialNumber(text)) {
            serial = protocol::trimmed(text);
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

std::string unitOnLine(DocSession& s, const CTqk5820ConfigDoc& doc)
{
    char text[64];
    std::snprintf(text, sizeof text, "unit %02d on %s", doc.GetUnitNumber(), s.portName().c_str());
    return text;
}

settingsfile::Header savedHeader(DocSession& s, const CTqk5820ConfigDoc& doc)
{
    settingsfile::Header header;
    header.savedBy = std::string("Tessol ") + TESSOL_VERSION;
    char from[48];
    std::snprintf(from, sizeof from, "%s unit %02d", s.portName().c_str(), doc.GetUnitNumber());
    header.savedFrom = from;
    return header;
}

// Steps every job from the session's passes until all have ended (or the
// user interrupts).
void runJobs(DocSession& s, std::vector<std::unique_ptr<SettingsJob>>& jobs)
{
    s.runUntil([&] {
        bool all = true;
        for (auto& job : jobs) {
            job->Step();
            all = all && job->Finished();
        }
        return all;
    }, 30 * 60 * 1000);
}

std::string joined(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// Says why a job that read nothing whole ended: the unit does not answer,
// or what did not come (and `consequence`).
void sayNoAnswer(DocSession& s, const CTqk5820ConfigDoc& doc, const SettingsJob& job, const char* consequence)
{
    if (!job.Opened())
        std::fprintf(stderr, "tessolctl: unit %02d does not answer on %s\n", doc.GetUnitNumber(), s.portName().c_str());
    else
        std::fprintf(stderr, "tessolctl: %s: no answer for %s%s\n", unitOnLine(s, doc).c_str(),
                     joined(job.Missing()).c_str(), consequence);
}

// The unit's settings, every one read afresh; false (said) when they did
// not all come.
bool readAllSettings(DocSession& s, settingsfile::Settings& settings, const char* consequence)
{
    std::vector<std::unique_ptr<SettingsJob>> jobs;
    jobs.push_back(std::make_unique<SettingsJob>(s.doc(), s.clock(), savedHeader(s, s.doc())));
    runJobs(s, jobs);
    if (jobs[0]->GetEnd() != SettingsJob::End::kDone) {
        sayNoAnswer(s, s.doc(), *jobs[0], consequence);
        return false;
    }
    settings = jobs[0]->Unit();
    return true;
}

int runSave(DocSession& s, const std::string& path)
{
    if (!s.open())
        return kPortFailed;
    settingsfile::Settings settings;
    if (!readAllSettings(s, settings, "; nothing saved"))
        return kNoAnswer;
    std::string error;
    if (!writeTextFile(path, settingsfile::Format(settings), error)) {
        std::fprintf(stderr, "tessolctl: %s\n", error.c_str());
        return kFileFailed;
    }
    std::printf("%zu settings of unit %02d (%s) saved to %s\n", settings.values.size() + 1,
                s.doc().GetUnitNumber(), settings.header.serialNumber.c_str(), path.c_str());
    return kOk;
}

// Reads and checks a settings file; false (said on standard error) when
// it cannot be read or has errors. Unknown settings are said and skipped.
bool loadSettings(const std::string& path, settingsfile::Settings& settings, bool* unknown = nullptr)
{
    std::string text;
    std::string error;
    if (!readTextFile(path, settingsfile::kMaxBytes + 1, text, error)) {
        std::fprintf(stderr, "tessolctl: %s\n", error.c_str());
        return false;
    }
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
    if (!s.open())
        return kPortFailed;
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

// What one unit's apply comes to, as printed (each line after `prefix`,
// "unit 03  " when several units are applied) and as an exit status.
int reportApply(DocSession& s, const CTqk5820ConfigDoc& doc, const SettingsJob& job, const std::string& path,
                const std::string& prefix)
{
    namespace sf = settingsfile;
    const sf::Settings& file = job.File();
    switch (job.GetEnd()) {
    case SettingsJob::End::kRunning:
    case SettingsJob::End::kNoAnswer:
        if (job.GetEnd() == SettingsJob::End::kRunning)
            std::fprintf(stderr, "tessolctl: %s: interrupted; nothing written\n", unitOnLine(s, doc).c_str());
        else
            sayNoAnswer(s, doc, job, "; nothing written");
        // Said of each setting all the same.
        if (job.Opened() && !job.GetOptions().dryRun) {
            std::printf("%s%-24s%s\n", prefix.c_str(), sf::kSensorTypeKey, "not written");
            for (const sf::Value& v : file.values)
                std::printf("%s%-24s%s\n", prefix.c_str(), v.key.c_str(), "not written");
            std::fflush(stdout);
        }
        return kNoAnswer;
    case SettingsJob::End::kOtherType:
        std::fprintf(stderr, "tessolctl: %s is for %s; unit %02d has %s. Nothing written"
                             " (--change-sensor-type changes it)\n",
                     path.c_str(), sensorwords::TypeName(file.sensorType), doc.GetUnitNumber(),
                     sensorwords::TypeName(job.TypeBefore()));
        return kFileFailed;
    case SettingsJob::End::kGone:
    case SettingsJob::End::kDone:
        break;
    }
    if (job.GetOptions().dryRun) {
        if (job.ChangesType())
            std::printf("%s%-24s%s\n", prefix.c_str(), sf::kSensorTypeKey, sensorwords::TypeName(file.sensorType));
        for (const sf::Definition& d : job.Plan()) {
            const sf::Value* now = job.ChangesType() ? nullptr : job.Unit().Find(d.key);
            std::printf("%s%-24s%s -> %s\n", prefix.c_str(), d.key, now ? now->text.c_str() : "-",
                        file.Find(d.key)->text.c_str());
        }
        std::printf("%s%zu setting(s) would be written\n", prefix.c_str(), job.Plan().size() + job.ChangesType());
        return job.Plan().empty() && !job.ChangesType() ? kOk : kDiffers;
    }
    std::vector<std::string> landed;
    int worst = kOk;
    for (const SettingsJob::Row& row : job.Report()) {
        if (row.outcome == SettingsJob::Outcome::kLanded)
            landed.push_back(row.key);
        if (row.outcome == SettingsJob::Outcome::kRefused && worst == kOk)
            worst = kRefused;
        if (row.outcome == SettingsJob::Outcome::kNotConfirmed)
            worst = kNotConfirmed;
    }
    if (job.GetEnd() == SettingsJob::End::kGone) {
        std::fprintf(stderr, "tessolctl: %s went away%s%s\n", unitOnLine(s, doc).c_str(),
                     landed.empty() ? "; nothing landed" : "; landed before: ", joined(landed).c_str());
        worst = kNoAnswer;
    }
    for (const SettingsJob::Row& row : job.Report())
        std::printf("%s%-24s%s\n", prefix.c_str(), row.key.c_str(), SettingsJob::OutcomeText(row.outcome));
    std::fflush(stdout);
    return worst;
}

// Applies the file to every unit of the session at once, each in its turn
// on the line. The exit status is the worst of the units'.
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
    if (!s.open())
        return kPortFailed;
    SettingsJob::Options jobOptions;
    jobOptions.dryRun = options.dryRun;
    jobOptions.changeSensorType = options.changeSensorType;
    std::vector<std::unique_ptr<SettingsJob>> jobs;
    for (CTqk5820ConfigDoc* doc : s.docs())
        jobs.push_back(std::make_unique<SettingsJob>(*doc, s.clock(), savedHeader(s, *doc), file, jobOptions));
    runJobs(s, jobs);
    // Worst first: the unit gone, not confirmed, refused, the file not for it.
    const int rank[] = {0, 2, 0, 0, 1, 3, 0, 4};
    int worst = kOk;
    for (std::size_t k = 0; k < jobs.size(); ++k) {
        const CTqk5820ConfigDoc& doc = *s.docs()[k];
        char prefix[16] = "";
        if (jobs.size() > 1)
            std::snprintf(prefix, sizeof prefix, "unit %02d  ", doc.GetUnitNumber());
        const int status = reportApply(s, doc, *jobs[k], path, prefix);
        if (rank[status] > rank[worst])
            worst = status;
    }
    return worst;
}

int runSetPoint(DocSession& s, const char* typed, double value)
{
    if (!s.open())
        return kPortFailed;
    if (!s.waitOnline(kAnswerWaitMs))
        return notAnswering(s);
    CTqk5820ConfigDoc& doc = s.doc();
    const bool resistance = SensorTypeTracker::IsResistanceMode(doc.GetSensorType());
    const int p = pn::setPoint(resistance);
    const std::string unit = csvlog::unitText(resistance);
    const auto shown = [&](const std::string& text) {
        char line[48];
        std::snprintf(line, sizeof line, "%.3f %s", protocol::textToDouble(text), unit.c_str());
        return std::string(line);
    };
    // The Measurement panel's entry range for the mode. The instrument
    // would limit a value beyond it by itself and answer as if it had been
    // taken; the user learns of it here instead, and from the exit status.
    const std::uint8_t row = ParameterTable::setPointRow(resistance);
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
    const std::string word = on ? protocol::kOutputOnWord : protocol::kOutputOffWord;
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
    std::vector<std::pair<alarms::Rule, alarms::Setting>> alarms;
    bool exitOnAlarm = false;
    std::string metrics;   // where to serve them, or empty
};

// "above=30", "below=10", "deviation=1", "current-limit=5" (the delay in
// seconds), "silent=10" (the same), "error", each optionally followed by
// ",hysteresis=H", ",delay=S", ",major", ",latched". False for anything else.
bool parseAlarm(const std::string& text, alarms::Rule& rule, alarms::Setting& setting)
{
    const std::vector<std::string> parts = fields(text, ',');
    const auto split = [](const std::string& part, std::string& name, double& value) {
        const std::size_t eq = part.find('=');
        name = part.substr(0, eq);
        return eq == std::string::npos || parseDecimal(part.c_str() + eq + 1, value);
    };
    std::string name;
    double value = 0;
    if (!split(parts[0], name, value))
        return false;
    const struct {
        const char* name;
        alarms::Rule rule;
        bool valueIsDelay;
    } rules[] = {{"above", alarms::Rule::kAbove, false},           {"below", alarms::Rule::kBelow, false},
                 {"deviation", alarms::Rule::kDeviation, false},   {"current-limit", alarms::Rule::kCurrentAtLimit, true},
                 {"silent", alarms::Rule::kStoppedAnswering, true}, {"error", alarms::Rule::kInstrumentError, false}};
    const auto known = std::find_if(std::begin(rules), std::end(rules), [&](const auto& r) { return name == r.name; });
    if (known == std::end(rules) || (parts[0].find('=') == std::string::npos) != (known->rule == alarms::Rule::kInstrumentError))
        return false;
    rule = known->rule;
    // From the rule's defaults: the silent and error rules stay major.
    setting = alarms::DefaultSettings()[static_cast<std::size_t>(rule)];
    setting.on = true;
    (known->valueIsDelay ? setting.delaySeconds : setting.value) = value;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        double v = 0;
        if (!split(parts[i], name, v))
            return false;
        if (name == "hysteresis" && v >= 0)
            setting.hysteresis = v;
        else if (name == "delay" && v >= 0)
            setting.delaySeconds = v;
        else if (name == "major" && parts[i] == "major")
            setting.severity = alarms::Severity::kMajor;
        else if (name == "latched" && parts[i] == "latched")
            setting.latched = true;
        else
            return false;
    }
    return setting.delaySeconds >= 0;
}

// Says each alarm change on standard error, and remembers a raise.
class AlarmSay : public Controller::Observer {
public:
    void OnSecond(const Controller&, const csvlog::Row&, bool) override {}
    explicit AlarmSay(std::string where) : where_(std::move(where)) {}
    void OnAlarm(const Controller&, const alarms::Event& e) override
    {
        std::fprintf(stderr, "tessolctl: %s %s: %s alarm (%s) %s%s%s\n", csvlog::isoTime(e.utcMillis).c_str(),
                     where_.c_str(), alarms::RuleName(e.rule), alarms::SeverityName(e.severity),
                     alarms::WhatName(e.what), e.value ? " at " : "", e.value ? csvlog::number(*e.value).c_str() : "");
        raised = raised || e.what == alarms::Event::What::kRaised;
    }
    bool raised = false;

private:
    std::string where_;
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
    if (!options.metrics.empty()) {
        MetricsAddress address;
        std::string problem;
        parseMetricsAddress(options.metrics, address, problem);
        // A page kept two rows' time, and never less than a window's.
        const auto freshMs = std::max<std::int64_t>(metrics::kFreshMs,
                                                    static_cast<std::int64_t>(2000 * options.intervalSeconds));
        if (!s.serveMetrics(address, freshMs, problem)) {
            std::fprintf(stderr, "tessolctl: cannot serve the metrics at %s\n", problem.c_str());
            return kUsage;
        }
        std::fprintf(stderr, "tessolctl: metrics at %s\n", s.metricsServer()->Url().c_str());
    }
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
    AlarmSay alarmSay(unitOnLine(s, s.doc()));
    s.controller().AddObserver(&alarmSay);
    for (const auto& [rule, setting] : options.alarms)
        s.controller().SetAlarm(rule, setting);
    s.judgeAlarms(true);
    struct Leave {
        DocSession& s;
        AlarmSay& say;
        ~Leave()
        {
            s.judgeAlarms(false);
            s.controller().RemoveObserver(&say);
        }
    } leave {s, alarmSay};

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
        if (options.exitOnAlarm && alarmSay.raised)
            return kAlarm;
        if (options.count != 0 && row + 1 >= options.count)
            break;
        // The line keeps working until the next row is due: the document
        // probes a unit that has gone and finds it again.
        s.runUntil([&] { return options.exitOnAlarm && alarmSay.raised; }, next - s.clock().utcMillis());
        if (options.exitOnAlarm && alarmSay.raised)
            return kAlarm;
        tick = next;
    }
    return kOk;
}

// Where a program run on a unit keeps its place while it runs, so that
// run --resume takes it up after an interruption: one file per line and
// unit under $XDG_STATE_HOME/tessol (else ~/.local/state/tessol).
std::string placeFile(DocSession& s)
{
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    const char* local = std::getenv("LOCALAPPDATA");
    std::string dir = state != nullptr && *state != '\0' ? std::string(state)
                    : home != nullptr && *home != '\0'   ? std::string(home) + "/.local/state"
                    : local != nullptr                  ? std::string(local)
                                                        : std::string(".");
    dir += "/tessol";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    std::string line = s.portName();
    for (char& c : line)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-')
            c = '_';
    char unit[8];
    std::snprintf(unit, sizeof unit, "%02d", s.doc().GetUnitNumber());
    return dir + "/program-" + line + "-" + unit + ".txt";
}

// Runs a set-point program to its end, printing each step as it starts;
// with `resume`, from where it was interrupted on this unit.
// For a command that runs until it ends or is stopped: Ctrl+C and SIGTERM
// ask it to stop, the line is opened and the unit waited for. kOk, or the
// exit status when the line cannot be opened or the unit does not answer.
int openStoppable(DocSession& s)
{
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    if (!s.open())
        return kPortFailed;
    if (!s.waitOnline(kAnswerWaitMs))
        return notAnswering(s);
    return kOk;
}

int runProgram(DocSession& s, const std::string& path, bool resume)
{
    namespace spp = setpointprogram;
    LoadedProgram loaded = LoadProgram(path);
    if (!loaded.error.empty())
        std::fprintf(stderr, "tessolctl: %s\n", loaded.error.c_str());
    for (const spp::Problem& problem : loaded.problems)
        std::fprintf(stderr, "tessolctl: %s: %s\n", path.c_str(), spp::ProblemText(problem).c_str());
    if (!loaded.Runs())
        return kFileFailed;
    if (const int failed = openStoppable(s))
        return failed;
    const bool resistance = SensorTypeTracker::IsResistanceMode(s.doc().GetSensorType());
    const std::string misfit = spp::FitsController(loaded.program, resistance);
    if (!misfit.empty()) {
        std::fprintf(stderr, "tessolctl: %s: %s\n", path.c_str(), misfit.c_str());
        return kFileFailed;
    }
    // The place of the last run of a program on this unit.
    std::error_code ignored;
    const std::string source = std::filesystem::absolute(path, ignored).lexically_normal().string();
    const std::string placePath = placeFile(s);
    std::string placeText;
    std::string error;
    ProgramPlace was;
    const bool interrupted = readTextFile(placePath, 4096, placeText, error)
        && ProgramPlace::Parse(protocol::trimmed(placeText, " \r\n"), was) && was.path == source
        && was.step < loaded.program.steps.size();
    was.steps = loaded.program.steps.size();
    if (resume && !interrupted) {
        std::fprintf(stderr, "tessolctl: %s: no run of %s was interrupted there; run without --resume starts it\n",
                     unitOnLine(s, s.doc()).c_str(), path.c_str());
        return kFileFailed;
    }
    if (interrupted)
        std::fprintf(stderr, "tessolctl: %s: %s; %s\n", unitOnLine(s, s.doc()).c_str(), was.Text().c_str(),
                     resume ? "taken up there" : "started from the beginning (run --resume takes it up there)");
    ProgramRun run(s.doc(), s.clock(), std::move(loaded.program), path);
    run.SetSource(source);
    std::int64_t placedAt = -1;
    const auto keepPlace = [&] {
        std::string failed;
        if (!writeTextFile(placePath, run.Place().Format() + "\n", failed) && placedAt < 0)
            std::fprintf(stderr, "tessolctl: %s; run --resume will not find this run\n", failed.c_str());
        placedAt = s.clock().utcMillis();
    };
    std::size_t shownStep = static_cast<std::size_t>(-1);
    ProgramRun::State shownState = ProgramRun::State::kRunning;
    run.SetChangeHandler([&](const ProgramRun& r) {
        const std::string when = csvlog::isoTime(s.clock().utcMillis());
        if (r.StepIndex() != shownStep && r.StepIndex() < r.GetProgram().steps.size()) {
            shownStep = r.StepIndex();
            const spp::Step& step = r.GetProgram().steps[shownStep];
            std::printf("%s step %zu of %zu: %s\n", when.c_str(), shownStep + 1, r.GetProgram().steps.size(),
                        spp::Describe(step, r.GetProgram().resistance).c_str());
            std::fflush(stdout);
        }
        if (r.GetState() != shownState) {
            shownState = r.GetState();
            std::fprintf(stderr, "tessolctl: %s %s: program %s%s\n", when.c_str(), unitOnLine(s, s.doc()).c_str(),
                         ProgramRun::StateName(shownState), r.Why().empty() ? "" : (": " + r.Why()).c_str());
        }
    });
    if (resume)
        run.Start(was.step, was.seconds);
    else
        run.Start();
    keepPlace();
    // The actual value and the set point are read twice a second: the
    // soaks judge the one, and the other shows a change made elsewhere.
    const bool ohms = resistance;
    std::int64_t readAt = 0;
    while (!run.Finished() && run.GetState() != ProgramRun::State::kForeignSetPoint) {
        if (stopRequested) {
            run.Abort();
            break;
        }
        const std::int64_t now = s.clock().utcMillis();
        if (now - readAt >= 500 && s.doc().IsOnline()) {
            float v = 0;
            s.doc().GetNumber(pn::actual(ohms), v);
            s.doc().GetNumber(pn::setPoint(ohms), v);
            readAt = now;
        }
        const std::size_t step = run.StepIndex();
        run.Step();
        s.pass();
        // Its place every five seconds, and at each step.
        if (run.StepIndex() != step || s.clock().utcMillis() - placedAt >= 5000)
            keepPlace();
    }
    switch (run.GetState()) {
    case ProgramRun::State::kDone:
        std::remove(placePath.c_str());
        std::printf("%s done\n", csvlog::isoTime(s.clock().utcMillis()).c_str());
        return kOk;
    case ProgramRun::State::kForeignSetPoint:
        keepPlace();
        std::fprintf(stderr, "tessolctl: program stopped at %s; the set point is left as it is; run --resume "
                     "takes it up there\n", run.StatusText().c_str());
        return kProgramStopped;
    case ProgramRun::State::kFailed:
        std::remove(placePath.c_str());
        return kFileFailed;
    default:
        keepPlace();
        std::fprintf(stderr, "tessolctl: %s; the set point and the output are left as they are; run --resume "
                     "takes it up there\n", run.StatusText().c_str());
        return kProgramAborted;
    }
}

// What has been written to the unit for the tuner: nothing yet (NaN, -1).
int runTune(DocSession& s, double step, bool gentle, double responseSeconds)
{
    if (const int failed = openStoppable(s))
        return failed;
    CTqk5820ConfigDoc& doc = s.doc();
    const std::string who = unitOnLine(s, doc);
    TuneRun::Options options;
    options.step = step;
    options.noOvershoot = gentle;
    options.responseSeconds = responseSeconds;
    TuneRun run(doc, s.clock(), options);
    std::string shown;
    const auto say = [&](const std::string& text) {
        std::printf("%s %s\n", csvlog::isoTime(s.clock().utcMillis()).c_str(), text.c_str());
        std::fflush(stdout);
    };
    while (run.Tuning()) {
        if (stopRequested)
            run.Cancel();
        run.Step();
        if (run.GetState() == TuneRun::State::kTuning && run.GetTuner()->Running()
            && run.GetTuner()->Status() != shown) {
            shown = run.GetTuner()->Status();
            say(shown);
        }
        s.pass();
    }
    if (run.GetState() == TuneRun::State::kNotStarted) {
        if (run.StoppedFor() == Tuner::Reason::kByOwner)
            return notAnswering(s);
        std::fprintf(stderr, "tessolctl: %s: %s\n", who.c_str(), run.Why().c_str());
        return kTuneNoRoom;
    }
    if (run.GetTuner() == nullptr) {
        std::fprintf(stderr, "tessolctl: %s: interrupted; nothing written\n", who.c_str());
        return kTuneCancelled;
    }
    // The end: the found set, or the unit's own back, once it answers
    // again (for a minute at the most).
    const std::int64_t endAt = s.clock().utcMillis();
    while (!run.Finished() && s.clock().utcMillis() - endAt < 60000) {
        run.Step();
        s.pass();
    }
    const bool back = run.Finished();
    const Tuner& tuner = *run.GetTuner();
    const tune::Model& m = tuner.Found();
    if (m.fitted) {
        char text[256];
        std::snprintf(text, sizeof text,
                      "found: time constant %.1f s, dead time %.1f s, %s %.2f C/A, %s %.2f C/A, noise %.3f C",
                      m.tau, m.dead, "heating", m.heatGain, "cooling", m.coolGain, m.noise);
        say(text);
        say("fast: " + TuneRun::GainsText(tuner.Fast()) + "; no overshoot: " + TuneRun::GainsText(tuner.NoOvershoot()));
    }
    const Tuner::Setup& setup = run.GetSetup();
    if (run.Tuned()) {
        const tune::StepResult& v = tuner.Verified();
        char text[160];
        if (tuner.FellBack())
            say("the fast set's step overshot more than 5 %: the no-overshoot set was verified and kept instead");
        std::snprintf(text, sizeof text, "the %s set's step settled within 0.1 C in %.0f s, overshoot %.1f %%",
                      gentle || tuner.FellBack() ? "no-overshoot" : "fast", v.settleSeconds, 100 * v.overshoot);
        say(text);
        say(std::string(back ? "kept: " : "not confirmed: ") + TuneRun::GainsText(tuner.Chosen()) + " (was "
            + TuneRun::GainsText(setup.original) + ")");
        return back ? kOk : kNotConfirmed;
    }
    std::fprintf(stderr, "tessolctl: %s: tuning stopped: %s; %s %s and set point %g %s\n", who.c_str(),
                 run.Why().c_str(), TuneRun::GainsText(setup.original).c_str(),
                 back ? "written back" : "NOT written back", setup.setPoint, back ? "" : "(the unit does not answer)");
    switch (run.StoppedFor()) {
    case Tuner::Reason::kNoRoom: return kTuneNoRoom;
    case Tuner::Reason::kWrongWay:
    case Tuner::Reason::kNoResponse: return kTuneWiring;
    case Tuner::Reason::kUnsettled: return kTuneUnsettled;
    case Tuner::Reason::kNoModel: return kTuneNoModel;
    case Tuner::Reason::kCancelled: return kTuneCancelled;
    default: return kNoAnswer;
    }
}

} // namespace

int main(int argc, char** argv)
{
    Session session;
    int unit = 1;
    std::vector<int> units {1};
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
            if (!parseUnits(value, units))
                return usage("--unit takes a unit number from 1 to 99 (apply: several, as 1,3,5-8)");
            unit = units[0];
        } else {
            return usage(("unknown option " + option).c_str());
        }
    }
    if (i >= argc)
        return usage();
    const std::string command = argv[i++];
    const int rest = argc - i;
    if (units.size() > 1 && command != "apply")
        return usage("only apply takes several units");
    int param = 0;

    if (command == "read") {
        if (rest != 1 || !parseInt(argv[i], 0, 99, param))
            return usage("read takes one parameter number from 0 to 99");
        return runTransaction(session, unit, protocol::kClassRead, param, protocol::kZeroData);
    }
    if (command == "write") {
        double value = 0;
        if (rest != 2 || !parseInt(argv[i], 0, 99, param) || !parseDecimal(argv[i + 1], value))
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
        if (rest != 1 || !parseDecimal(argv[i], value))
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
        DocSession s(portIndex, device, unit, std::vector<int>(units.begin() + 1, units.end()));
        return runApply(s, file, options);
    }
    if (command == "run") {
        const bool resume = rest == 2 && std::strcmp(argv[i], "--resume") == 0;
        if (rest != 1 + (resume ? 1 : 0) || std::strncmp(argv[argc - 1], "--", 2) == 0)
            return usage("run takes a program file, and --resume before it");
        DocSession s(portIndex, device, unit);
        return runProgram(s, argv[argc - 1], resume);
    }
    if (command == "tune") {
        double step = 2;
        double response = 30;
        bool gentle = false;
        for (int k = i; k < argc; ++k) {
            const std::string a = argv[k];
            if (a == "--no-overshoot") {
                gentle = true;
            } else if ((a == "--step" || a == "--response") && k + 1 < argc) {
                double& v = a == "--step" ? step : response;
                // A step of less than half a degree drowns in the sensor's
                // noise and never tells its end.
                if (!parseDecimal(argv[++k], v) || !(v >= (a == "--step" ? 0.5 : 1)) || v > (a == "--step" ? 50 : 3600))
                    return usage(a == "--step" ? "--step takes degrees from 0.5 to 50"
                                               : "--response takes seconds from 1 to 3600");
            } else {
                return usage("tune takes --step S, --no-overshoot and --response S");
            }
        }
        DocSession s(portIndex, device, unit);
        return runTune(s, step, gentle, response);
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
            if (option == "--interval" && value != nullptr && parseDecimal(value, options.intervalSeconds)
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
            if (option == "--mqtt-discovery") {
                options.broker.discovery = true;
                --i;
                continue;
            }
            if (option == "--alarm" && value != nullptr) {
                alarms::Rule rule {};
                alarms::Setting setting;
                if (!parseAlarm(value, rule, setting))
                    return usage("--alarm takes above=V, below=V, deviation=V, current-limit=S, silent=S or error, each"
                                 " with ,hysteresis=H ,delay=S ,major ,latched if wanted");
                options.alarms.emplace_back(rule, setting);
                continue;
            }
            if (option == "--metrics" && value != nullptr) {
                if (!MetricsServer::Unavailable().empty())
                    return usage(("--metrics cannot be used: " + MetricsServer::Unavailable()).c_str());
                MetricsAddress address;
                std::string problem;
                if (!parseMetricsAddress(value, address, problem))
                    return usage(problem.c_str());
                options.metrics = value;
                continue;
            }
            if (option == "--exit-on-alarm") {
                options.exitOnAlarm = true;
                --i;
                continue;
            }
            if (option == "--mqtt-ca" && value != nullptr && *value != '\0') {
                options.broker.caFile = value;
                continue;
            }
            return usage("watch takes --interval S (0.1 to 3600), --count N (1 or more), --csv FILE, --mqtt URL,"
                         " --mqtt-control, --mqtt-discovery, --mqtt-ca FILE, --alarm RULE, --exit-on-alarm and --metrics"
                         " [HOST:]PORT");
        }
        if (options.mqtt.empty() && (options.broker.control || options.broker.discovery || !options.broker.caFile.empty()))
            return usage("--mqtt-control, --mqtt-discovery and --mqtt-ca go with --mqtt URL");
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
