#include "platform/MetricsServer.h"

// The address the metrics are served at; the server itself is the system's.

bool parseMetricsAddress(const std::string& text, MetricsAddress& address, std::string& error)
{
    MetricsAddress a;
    std::string port = text;
    if (!text.empty() && text[0] == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "the metrics address is HOST:PORT, [IPV6]:PORT or PORT, not " + text;
            return false;
        }
        a.host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const auto colon = text.rfind(':'); colon != std::string::npos) {
        a.host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (a.host.find(':') != std::string::npos) {
            error = "an IPv6 address goes in brackets: [" + a.host + "]:" + port;
            return false;
        }
    }
    if (a.host.empty()) {
        error = "the metrics address is HOST:PORT, [IPV6]:PORT or PORT, not " + text;
        return false;
    }
    const bool digits = !port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos;
    const long n = digits ? std::stol(port) : -1;
    if (n < 0 || n > 65535) {
        error = "invalid port " + port + " for the metrics: 0 to 65535";
        return false;
    }
    a.port = static_cast<int>(n);
    address = a;
    return true;
}
