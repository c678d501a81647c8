#include "sim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "link/Protocol.h"
#include "sim/SimCommand.h"

namespace sim {

namespace {

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool parseInt(const std::string& text, int* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < -1000000 || v > 1000000)
        return false;
    *value = static_cast<int>(v);
    return true;
}

bool parseProbability(const std::string& text, double* value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(v >= 0.0 && v <= 1.0))
        return false;
    *value = v;
    return true;
}

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// A control VALUE: an exact 8-character text (optionally in double quotes,
// for texts with blanks) or a number, rendered as the unit would store it.
bool valueText(const std::string& raw, std::string* text)
{
    std::string value = raw;
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n'))
        value.pop_back();
    if (value.size() != protocol::kDataLength)
        value = trim(value);
    if (value.size() == protocol::kDataLength + 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, protocol::kDataLength);
    if (value.size() == protocol::kDataLength) {
        *text = value;
        return true;
    }
    char* end = nullptr;
    const double number = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(number))
        return false;
    const std::string rendered = protocol::renderNumber(number);
    if (rendered.size() != protocol::kDataLength)
        return false;
    *text = rendered;
    return true;
}

std::string fixed(double value, int decimals)
{
    return protocol::formatFixed(value, 0, decimals, false);
}

} // namespace

Simulator::Simulator(const Options& options)
    : options_(options)
    , random_(options.seed)
    , stages_(options.seed)
{
    for (int number : options_.units) {
        if (number < 1 || number > 99 || unit(number))
            continue;
        units_.push_back(std::make_unique<SimUnit>(number));
        units_.back()->setSensorNoise(options_.sensorNoise);
        units_.back()->setReversed(options_.reversed);
        if (options_.randomStages)
            units_.back()->setStage(SimUnit::randomStage(stages_));
        else if (options_.stage)
            units_.back()->setStage(options_.stage);
        if (options_.testBox) {
            units_.back()->setBoard(SimUnit::uncalibratedBoard());
            units_.back()->attachTestBox(true);
        }
    }
}

Simulator::~Simulator()
{
    if (linked_) {
        // Only our own link: someone may have replaced it meanwhile.
        char target[4096];
        const ssize_t n = ::readlink(linkPath_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == slavePath_)
            ::unlink(linkPath_.c_str());
    }
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

bool Simulator::open(const std::string& linkPath, std::string* error)
{
    const auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (master_ >= 0)
        return fail("already open on " + linkPath_);
    if (linkPath.empty())
        return fail("no link path");

    struct stat st {};
    if (::lstat(linkPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode))
            return fail(linkPath + " exists and is not a symbolic link; not replacing it");
        if (::unlink(linkPath.c_str()) != 0)
            return fail(systemError("cannot remove stale link " + linkPath));
    }

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return fail(systemError("posix_openpt"));
    const char* name = nullptr;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 || (name = ::ptsname(master)) == nullptr) {
        const std::string why = systemError("cannot unlock the pty");
        ::close(master);
        return fail(why);
    }
    const std::string slavePath = name;
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0) {
        const std::string why = systemError("cannot open " + slavePath);
        ::close(master);
        return fail(why);
    }
    termios tio {};
    if (::tcgetattr(slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B19200);
        ::cfsetospeed(&tio, B19200);
        ::tcsetattr(slave, TCSANOW, &tio);
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        const std::string why = systemError("cannot make the pty non-blocking");
        ::close(slave);
        ::close(master);
        return fail(why);
    }
    if (::symlink(slavePath.c_str(), linkPath.c_str()) != 0) {
        const std::string why = systemError("cannot link " + linkPath + " to " + slavePath);
        ::close(slave);
        ::close(master);
        return fail(why);
    }
    master_ = master;
    slave_ = slave;
    linkPath_ = linkPath;
    slavePath_ = slavePath;
    linked_ = true;
    return true;
}

SimUnit* Simulator::unit(int unitNumber)
{
    for (auto& u : units_)
        if (u->address() == unitNumber)
            return u.get();
    return nullptr;
}

void Simulator::pump(double nowSeconds)
{
    if (!clockStarted_) {
        clockStarted_ = true;
        lastNow_ = nowSeconds;
    }
    if (nowSeconds > lastNow_) {
        for (auto& u : units_)
            u->advance((nowSeconds - lastNow_) * options_.speed);
        lastNow_ = nowSeconds;
    }
    if (master_ >= 0) {
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) {
                input_.append(buf, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            break;
        }
    }
    frame(nowSeconds);
    flush(nowSeconds);
}

void Simulator::frame(double now)
{
    for (;;) {
        const auto start = input_.find('!');
        if (start == std::string::npos) {
            input_.clear();
            return;
        }
        input_.erase(0, start);
        if (input_.size() < protocol::kCommandLength)
            return;
        const std::string text = input_.substr(0, protocol::kCommandLength);
        if (!SimCommand::parse(text)) {
            // Not a command: the real one may begin inside these bytes.
            input_.erase(0, 1);
            continue;
        }
        input_.erase(0, protocol::kCommandLength);
        answer(text, now);
    }
}

void Simulator::answer(const std::string& text, double now)
{
    const auto command = SimCommand::parse(text);
    ++commandsSeen_;
    if (command->device != protocol::kDeviceDigit)
        return;
    SimUnit* target = unit(command->unit);
    if (!target)
        return;
    const auto result = target->handle(command->commandClass, command->parameter, command->data);
    if (!result)
        return;

    std::string reply = command->reply(result->endCode, result->data);
    const Faults& f = options_.faults;
    const double r = draw();
    if (r < f.drop)
        return;
    if (r < f.drop + f.corrupt) {
        // Still fits the template; only the checksum is off.
        const std::uint8_t sum = protocol::checksum(reply.data(), 17) ^ 0x5a;
        reply.replace(17, 2, protocol::checksumText(sum));
    } else if (r < f.drop + f.corrupt + f.garble) {
        // Two data characters lost and the frame filled up with blanks: the
        // header still names the unit, but the data field runs into the
        // checksum and the reply no longer fits the template.
        const std::string cut = reply.substr(0, 15);
        reply = cut + protocol::checksumText(protocol::checksum(cut)) + "  \r\n";
    }

    if (f.noise > 0 && draw() < f.noise) {
        static const char kNoise[] = {'\xff', 'x', '\r', '\n'};
        reply.insert(reply.begin(), kNoise[random_() % sizeof kNoise]);
    }

    double due = now + replyDelayMs(command->unit) / 1000.0;
    if (options_.lineRate)
        due += protocol::kCommandLength * kByteSeconds;
    Outgoing out {std::max(due, lineFreeAt_), reply};
    if (options_.lineRate)
        lineFreeAt_ = out.start + reply.size() * kByteSeconds;
    // Units answer after their own delays, so a quick unit's reply may go
    // out before a slow one's that was asked earlier; one already under way
    // keeps its place.
    auto at = output_.end();
    while (at != output_.begin() && std::prev(at)->start > out.start && std::prev(at)->sent == 0)
        --at;
    output_.insert(at, std::move(out));
}

int Simulator::replyDelayMs(int unitNumber) const
{
    const auto own = options_.unitDelayMs.find(unitNumber);
    return own != options_.unitDelayMs.end() ? own->second : options_.replyDelayMs;
}

std::size_t Simulator::releasable(const Outgoing& out, double now) const
{
    if (now < out.start)
        return 0;
    if (!options_.lineRate)
        return out.bytes.size();
    const double bytes = std::floor((now - out.start) / kByteSeconds + 1e-9);
    return std::min(out.bytes.size(), static_cast<std::size_t>(bytes));
}

double Simulator::nextRelease(const Outgoing& out) const
{
    if (!options_.lineRate)
        return out.start;
    return out.start + static_cast<double>(out.sent + 1) * kByteSeconds;
}

void Simulator::flush(double now)
{
    blocked_ = false;
    while (!output_.empty()) {
        Outgoing& out = output_.front();
        const std::size_t ready = releasable(out, now);
        if (ready > out.sent) {
            if (master_ < 0)
                return;
            const ssize_t n = ::write(master_, out.bytes.data() + out.sent, ready - out.sent);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                blocked_ = true;   // EAGAIN: the client is not reading
                return;
            }
            out.sent += static_cast<std::size_t>(n);
            if (out.sent < ready) {
                blocked_ = true;
                return;
            }
        }
        if (out.sent < out.bytes.size())
            return;
        ++repliesSent_;
        output_.pop_front();
    }
}

int Simulator::msUntilDue(double nowSeconds) const
{
    const double wait = secondsUntilDue(nowSeconds);
    if (wait < 0)
        return -1;
    return static_cast<int>(std::ceil(wait * 1000.0 - 1e-6));
}

double Simulator::secondsUntilDue(double nowSeconds) const
{
    if (output_.empty())
        return -1;
    if (blocked_)
        return 0.010;
    return std::max(0.0, nextRelease(output_.front()) - nowSeconds);
}

double Simulator::draw()
{
    return static_cast<double>(random_()) / 4294967296.0;
}

std::string Simulator::control(const std::string& line)
{
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    const auto unitArgument = [&](SimUnit** target, std::string* why) {
        std::string word;
        int number = 0;
        if (!(in >> word) || !parseInt(word, &number)) {
            *why = "error: " + verb + " needs a unit number";
            return false;
        }
        *target = unit(number);
        if (!*target) {
            *why = "error: no unit " + word + " on this line";
            return false;
        }
        return true;
    };
    std::string why;
    SimUnit* target = nullptr;

    if (verb == "off" || verb == "on" || verb == "halt") {
        if (!unitArgument(&target, &why))
            return why;
        if (verb == "halt")
            target->halt();
        else
            target->setPowered(verb == "on");
        return "ok";
    }
    if (verb == "set" || verb == "release") {
        if (!unitArgument(&target, &why))
            return why;
        std::string word;
        int parameter = 0;
        if (!(in >> word) || !parseInt(word, &parameter))
            return "error: " + verb + " needs a parameter number";
        if (verb == "release") {
            target->release(parameter);
            return "ok";
        }
        // The value is the rest of the line after one blank, so that an
        // 8-character text may carry blanks of its own.
        std::string rest;
        std::getline(in, rest);
        if (!rest.empty() && (rest[0] == ' ' || rest[0] == '\t'))
            rest.erase(0, 1);
        std::string text;
        if (!valueText(rest, &text))
            return "error: value must be a number or an 8-character text";
        if (!target->force(parameter, text, &why))
            return "error: " + why;
        return "ok";
    }
    if (verb == "faults") {
        Faults f = options_.faults;
        std::string word;
        bool any = false;
        while (in >> word) {
            const auto eq = word.find('=');
            const std::string key = word.substr(0, eq);
            double* slot = key == "drop" ? &f.drop
                         : key == "corrupt" ? &f.corrupt
                         : key == "garble" ? &f.garble
                         : key == "noise" ? &f.noise : nullptr;
            if (!slot || eq == std::string::npos || !parseProbability(word.substr(eq + 1), slot))
                return "error: expected drop=P, corrupt=P, garble=P or noise=P with P from 0 to 1, got " + word;
            any = true;
        }
        if (!any)
            return "error: faults needs drop=P, corrupt=P, garble=P or noise=P";
        options_.faults = f;
        return "ok";
    }
    if (verb == "sensor-noise") {
        if (!unitArgument(&target, &why))
            return why;
        std::string word;
        in >> word;
        char* end = nullptr;
        const double celsius = std::strtod(word.c_str(), &end);
        if (word.empty() || *end != '\0' || !(celsius >= 0.0 && celsius <= 10.0))
            return "error: sensor-noise U C needs degrees 0 to 10";
        target->setSensorNoise(celsius);
        return "ok";
    }
    if (verb == "plant") {
        if (!unitArgument(&target, &why))
            return why;
        std::string word;
        in >> word;
        if (word == "off") {
            target->setStage(std::nullopt);
        } else if (word == "random") {
            target->setStage(SimUnit::randomStage(stages_));
        } else if (!word.empty()) {
            SimUnit::Stage stage;
            std::string problem;
            if (!SimUnit::parseStage(word, stage, &problem))
                return "error: plant U STAGE: " + problem;
            target->setStage(stage);
        }
        if (!target->stage())
            return "ok none";
        const SimUnit::Stage& s = *target->stage();
        char text[160];
        std::snprintf(text, sizeof text, "ok tau=%g,dead=%g,cool=%g,heat=%g", s.tau, s.dead, s.cool, s.heat);
        return text;
    }
    if (verb == "reversed") {
        if (!unitArgument(&target, &why))
            return why;
        std::string word;
        in >> word;
        if (word != "on" && word != "off")
            return "error: reversed U on|off";
        target->setReversed(word == "on");
        return "ok";
    }
    if (verb == "delay") {
        if (!unitArgument(&target, &why))
            return why;
        std::string word;
        int ms = 0;
        if (!(in >> word) || !parseInt(word, &ms) || ms < 0 || ms > 60000)
            return "error: delay U MS needs milliseconds 0 to 60000";
        options_.unitDelayMs[target->address()] = ms;
        return "ok";
    }
    if (verb == "testbox") {
        if (!unitArgument(&target, &why))
            return why;
        std::string what;
        std::string value;
        in >> what >> value;
        if (what == "on" || what == "off") {
            target->attachTestBox(what == "on");
            return "ok";
        }
        if (!target->testBoxAttached())
            return "error: unit has no test box (testbox U on)";
        if (what == "resistor") {
            char* end = nullptr;
            const double kiloOhms = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(kiloOhms >= 0.0 && kiloOhms <= 1000.0))
                return "error: resistor needs kOhms from 0 (none) to 1000";
            target->setTestResistor(kiloOhms);
            return "ok";
        }
        if (what == "ammeter" && (value == "on" || value == "off")) {
            target->setBiasAmmeter(value == "on");
            return "ok";
        }
        return "error: testbox U on|off, testbox U resistor KOHMS, testbox U ammeter on|off";
    }
    if (verb == "board") {
        if (!unitArgument(&target, &why))
            return why;
        std::string kind;
        in >> kind;
        if (kind != "ideal" && kind != "uncalibrated")
            return "error: board U ideal|uncalibrated";
        target->setBoard(kind == "ideal" ? SimUnit::Board {} : SimUnit::uncalibratedBoard());
        return "ok";
    }
    if (verb == "meters") {
        if (!unitArgument(&target, &why))
            return why;
        const SimUnit::Meters m = target->meters();
        return "ok sensor_v=" + fixed(m.sensorVolts, 4) + " bias=" + fixed(m.biasCurrent, 3)
               + " te_i=" + fixed(m.teCurrent, 4) + " te_v=" + fixed(m.teVolts, 4) + " ref+=" + fixed(m.refPlus, 3)
               + " ref-=" + fixed(m.refMinus, 3) + " r10k=" + fixed(m.senseResistor, 3);
    }
    if (verb == "status") {
        std::string summary = "ok units=";
        for (std::size_t i = 0; i < units_.size(); ++i) {
            const SimUnit& u = *units_[i];
            if (i)
                summary += ",";
            summary += std::to_string(u.address()) + ":";
            summary += !u.powered() ? "off" : u.halted() ? "halted" : u.outputOn() ? "output-on" : "output-off";
            summary += "/T=" + fixed(u.trueTemperature(), 2);
        }
        summary += " commands=" + std::to_string(commandsSeen_) + " replies=" + std::to_string(repliesSent_);
        summary += " drop=" + fixed(options_.faults.drop, 3) + " corrupt=" + fixed(options_.faults.corrupt, 3)
                   + " garble=" + fixed(options_.faults.garble, 3) + " noise=" + fixed(options_.faults.noise, 3);
        return summary;
    }
    if (verb.empty())
        return "error: empty control line";
    return "error: unknown control '" + verb
           + "' (off, on, halt, set, release, faults, delay, testbox, board, meters, status)";
}

} // namespace sim
