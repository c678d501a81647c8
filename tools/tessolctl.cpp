// tessolctl: talks to TQK-5820 controllers from the command line through the
// program's own instrument link.

#include "link/InstrumentLink.h"
#include "link/Protocol.h"
#include "platform/ConsolePrompts.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "resources/Messages.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <string>
#include <time.h>
#include <vector>

namespace {

enum Exit { kOk = 0, kRefused = 1, kUsage = 2, kPortFailed = 3 };

const char* const kUsageText =
    "usage: tessolctl [--port COMn | --device PATH] [--unit N] COMMAND\n"
    "commands:\n"
    "  read P              read parameter P (0-99) and print its 8-character data\n"
    "  write P NUMBER      write a number to parameter P and print the echo\n"
    "  write-text P TEXT   write an 8-character text to parameter P and print the echo\n"
    "  scan [--units A-B]  list the units that answer on the port (default 1-99)\n"
    "The port defaults to COM2 and the unit to 1. COMn leads to $TESSOL_COMn, else /dev/ttyS(n-1).\n";

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

bool parseNumber(const char* text, double& out)
{
    if (text == nullptr || *text == '\0')
        return false;
    char* end = nullptr;
    out = std::strtod(text, &end);
    return *end == '\0' && std::isfinite(out);
}

std::string endCodeText(const ReplyPacket& r, int unit, int cls, int param)
{
    char text[128];
    std::snprintf(text, sizeof text, msg::kEndCode, unit, cls, param, r.endCode());
    return text;
}

bool succeeded(const ReplyPacket& r)
{
    return r.endCode() == protocol::kEndOk || r.endCode() == protocol::kEndOkAlternate;
}

class Session {
public:
    Session() : ports_(nullptr), link_(ports_, clock_, prompts_) {}

    void usePort(int index) { port_ = index; }
    void useDevice(const std::string& path)
    {
        ports_.setPath("COM1", path);
        port_ = 0;
    }

    bool open()
    {
        if (link_.openPort(port_))
            return true;
        std::fprintf(stderr, "%s\n", link_.lastError(port_).c_str());
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
            pollfd p {link_.readinessHandle(port_), POLLIN, 0};
            if (::poll(&p, 1, 20) > 0 && (p.revents & (POLLHUP | POLLERR))) {
                // The other end has gone: let the time-out run without spinning.
                const timespec pause {0, 20'000'000};
                ::nanosleep(&pause, nullptr);
            }
        }
    }

private:
    SystemClock clock_;
    ConsolePrompts prompts_;
    PosixSerialPorts ports_;
    InstrumentLink link_;
    int port_ = 1;
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

int runScan(Session& session, int first, int last)
{
    if (!session.open())
        return kPortFailed;
    int found = 0;
    for (int unit = first; unit <= last; ++unit) {
        std::fprintf(stderr, "scanning unit %02d of %02d-%02d\n", unit, first, last);
        const auto r = session.transact(unit, protocol::kClassRead, 56, protocol::kZeroData);
        if (r && succeeded(*r)) {
            std::printf("unit %02d  firmware %s\n", unit, r->data().c_str());
            std::fflush(stdout);
            ++found;
        }
    }
    std::fprintf(stderr, "%d unit(s) answered\n", found);
    return found > 0 ? kOk : kRefused;
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

} // namespace

int main(int argc, char** argv)
{
    Session session;
    int unit = 1;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (option == "--help") {
            std::fputs(kUsageText, stdout);
            return kOk;
        }
        if (value == nullptr)
            return usage(("missing value for " + option).c_str());
        ++i;
        if (option == "--port") {
            int n = 0;
            if (std::strncmp(value, "COM", 3) != 0 || !parseInt(value + 3, 1, 4, n))
                return usage("--port takes COM1 to COM4");
            session.usePort(n - 1);
        } else if (option == "--device") {
            session.useDevice(value);
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
    return usage(("unknown command " + command).c_str());
}
