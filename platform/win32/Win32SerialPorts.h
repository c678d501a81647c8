#pragma once

#include "platform/SerialDevice.h"

#include <map>
#include <string>

class Profile;

// Serial lines on Windows: the port is opened exclusively for overlapped
// I/O, set to 19200 baud, 8 data bits, no parity, one stop bit, XON/XOFF
// on input only, received NULs discarded, and given a read time-out of 5 s
// in total. Writes and reads run in the background, each with an event of
// its own, and are polled without waiting.
//
// What a poll reports: the driver fills the caller's buffer in one go, so a
// write or read counts 0 until it has completed and then all it transferred.
// The read's event is the readiness handle: it is set once the whole reply
// has arrived, so a waiting caller wakes once per reply.
//
// A name with the scheme socket:// or rfc2217:// leads to a network line
// instead (platform/NetworkSerial.h).
class Win32SerialPorts : public SerialPorts {
public:
    // `profile` (may be null) takes part in resolving port names.
    explicit Win32SerialPorts(const Profile* profile = nullptr) : profile_(profile) {}

    // Sends the port `name` to the device `path` ("COM7", "\\.\COM12", a
    // network line), ahead of every other rule.
    void setPath(const std::string& name, const std::string& path) { paths_[name] = path; }
    // The device a port name leads to: "\\.\COM2" for COM2 unless the
    // environment or the profile says otherwise (platform/PortNames.h).
    std::string pathOf(const std::string& name) const;

    std::unique_ptr<SerialDevice> openPort(const std::string& name, unsigned long& osError) override;
    std::string describeOpenFailure(const std::string& name, unsigned long osError) const override;
    std::string setupFailure() const override { return setupFailure_; }

    // "COM3: No such device": the device and the reason, in words a user
    // can act on.
    static std::string describeDeviceFailure(const std::string& path, unsigned long osError);

    // Opens a device by path with the instrument line settings. On failure
    // `setupFailure` (if given) says what could not be made before the
    // device was reached ("Read Event Creation", "Write Event Creation"),
    // or is empty when the device itself refused.
    static std::unique_ptr<SerialDevice> openDevice(const std::string& path, unsigned long& osError,
                                                    std::string* setupFailure = nullptr);

    // How the two events of an open are made; tests replace it to see an
    // event that cannot be made. Returns the event, or null.
    using EventMaker = void* (*)();
    static void setEventMaker(EventMaker maker);

private:
    const Profile* profile_;
    std::map<std::string, std::string> paths_;
    std::string setupFailure_;
};

// What the tests read back from an open Windows serial device.
struct Win32LineState {
    unsigned long baudRate = 0;
    int byteSize = 0, parity = -1, stopBits = -1;
    bool binary = false, parityCheck = true, outxCts = true, outxDsr = true, dsrSensitivity = true;
    bool txContinueOnXoff = false, outX = true, inX = false, discardNull = false, abortOnError = false;
    int dtrControl = -1, rtsControl = -1;
    unsigned xonLimit = 0, xoffLimit = 0;
    int xonChar = 0, xoffChar = 0;
    unsigned long readInterval = 0, readMultiplier = 0, readConstant = 0, writeMultiplier = 0, writeConstant = 0;
    unsigned long eventMask = ~0ul;
};

// The line settings, time-outs and event mask of `device`; false if it is
// not an open Windows serial device. The line settings are those the device
// gave the driver, or with `asDriverHasIt` those the driver reports (which
// a driver that stands in for Windows, such as Wine's, reports only in part:
// speed, frame, XON/XOFF, not the modem lines, limits or error handling).
bool readLineState(SerialDevice& device, Win32LineState& state, bool asDriverHasIt);
