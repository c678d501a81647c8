#include "platform/PortNames.h"

#include "platform/Profile.h"

#include <cstdlib>

std::string resolvePortPath(const std::string& portName, const Profile* profile)
{
    if (portName.size() != 4 || portName.compare(0, 3, "COM") != 0 || portName[3] < '1' || portName[3] > '4')
        return portName;
    const char digit = portName[3];
    const std::string variable = std::string("TESSOL_COM") + digit;
    if (const char* env = std::getenv(variable.c_str()); env != nullptr && *env != '\0')
        return env;
    if (profile != nullptr) {
        const std::string stored = profile->readText("Ports", std::string("sCOM") + digit, "");
        if (!stored.empty())
            return stored;
    }
#ifdef _WIN32
    // The native port; the "\\.\" form works for every port number.
    return std::string("\\\\.\\COM") + digit;
#else
    return std::string("/dev/ttyS") + static_cast<char>(digit - 1);
#endif
}
