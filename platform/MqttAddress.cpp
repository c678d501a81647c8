#include "platform/MqttClient.h"

#include "platform/Profile.h"

#include <cstdlib>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

// The parts of the MQTT client that need no library: the broker's address,
// the login and this computer's name.

namespace {

bool digitsOnly(const std::string& s)
{
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// The URL as an error message may show it: without whatever comes before an
// @ (a user name and password), even where the URL is refused for another
// reason first.
std::string shown(const std::string& url)
{
    const auto at = url.rfind('@');
    if (at == std::string::npos)
        return url;
    // A scheme is letters, digits, + - and . only; anything else before
    // "://" may be part of a password.
    const auto scheme = url.find("://");
    const bool isScheme = scheme > 0 && scheme < at
        && url.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") == scheme;
    return (isScheme ? url.substr(0, scheme + 3) : std::string()) + url.substr(at + 1);
}

} // namespace

std::string MqttAddress::name() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

bool parseMqttUrl(const std::string& url, MqttAddress& address, std::string& error)
{
    MqttAddress a;
    std::string rest;
    if (url.compare(0, 7, "mqtt://") == 0) {
        rest = url.substr(7);
        a.port = 1883;
    } else if (url.compare(0, 8, "mqtts://") == 0) {
        rest = url.substr(8);
        a.tls = true;
        a.port = 8883;
    } else {
        error = "the broker is mqtt://HOST[:PORT] or mqtts://HOST[:PORT], not " + shown(url);
        return false;
    }
    if (rest.find('@') != std::string::npos) {
        error = "no user name or password in the URL: set TESSOL_MQTT_USERNAME and TESSOL_MQTT_PASSWORD";
        return false;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    if (rest.find('/') != std::string::npos) {
        error = "no path after the broker's address in " + shown(url);
        return false;
    }
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) {
            error = "missing ] in " + shown(url);
            return false;
        }
        a.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') {
                error = "bad address in " + shown(url);
                return false;
            }
            port = rest.substr(close + 2);
            if (port.empty()) {
                error = "missing port in " + shown(url);
                return false;
            }
        }
    } else {
        const auto colon = rest.find(':');
        a.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            port = rest.substr(colon + 1);
            if (port.empty()) {
                error = "missing port in " + shown(url);
                return false;
            }
        }
    }
    if (a.host.empty()) {
        error = "missing host in " + shown(url);
        return false;
    }
    if (!port.empty()) {
        const long n = digitsOnly(port) && port.size() <= 5 ? std::atol(port.c_str()) : 0;
        if (n < 1 || n > 65535) {
            error = "invalid port " + port + " in " + shown(url);
            return false;
        }
        a.port = static_cast<int>(n);
    }
    address = a;
    return true;
}

MqttLogin mqttLogin(const Profile* profile)
{
    MqttLogin login;
    const char* user = std::getenv("TESSOL_MQTT_USERNAME");
    const char* password = std::getenv("TESSOL_MQTT_PASSWORD");
    if (user != nullptr)
        login.username = user;
    else if (profile != nullptr)
        login.username = profile->readText(kMqttProfileSection, "sUserName", "");
    if (password != nullptr)
        login.password = password;
    else if (profile != nullptr)
        login.password = profile->readText(kMqttProfileSection, "sPassword", "");
    return login;
}

std::string hostName()
{
#ifdef _WIN32
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!::GetComputerNameA(name, &size) || size == 0)
        return "localhost";
    return std::string(name, size);
#else
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
#endif
}
