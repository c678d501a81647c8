#pragma once

#include "platform/SerialDevice.h"

#include <map>

class Profile;

// Serial lines through termios: 19200 baud, 8 data bits, no parity, one stop
// bit, raw, XON/XOFF (0x11/0x13) on input only, no hardware flow control,
// DTR and RTS off where the device has them. Devices are opened exclusively:
// a second open of a device that is held fails with EBUSY. A name with the
// scheme socket:// or rfc2217:// leads to a network line instead
// (platform/NetworkSerial.h); nothing above this layer can tell the two apart.
class PosixSerialPorts : public SerialPorts {
public:
    // `profile` (may be null) takes part in resolving port names to paths.
    explicit PosixSerialPorts(const Profile* profile = nullptr) : profile_(profile) {}

    // Sends the port `name` to `path`, ahead of every other rule.
    void setPath(const std::string& name, const std::string& path) { paths_[name] = path; }
    std::string pathOf(const std::string& name) const;

    std::unique_ptr<SerialDevice> openPort(const std::string& name, unsigned long& osError) override;
    std::string describeOpenFailure(const std::string& name, unsigned long osError) const override;
    // "/dev/ttyUSB0: Permission denied - join the dialout group": the path
    // and the reason, in words a user can act on.
    static std::string describeDeviceFailure(const std::string& path, unsigned long osError);

    // Opens a device by path with the instrument line settings.
    static std::unique_ptr<SerialDevice> openDevice(const std::string& path, unsigned long& osError);

private:
    const Profile* profile_;
    std::map<std::string, std::string> paths_;
};
