#pragma once

#include <cstddef>
#include <memory>
#include <string>

// One open serial line, driven without ever blocking: a write or a read is
// started, then its progress is polled. The caller's buffers must stay valid
// until the operation has completed or the device has been purged.
class SerialDevice {
public:
    virtual ~SerialDevice() = default;

    // Starts writing `n` bytes from `data`. Returns false when the start
    // failed at once; the write then stays short and the caller's time-out
    // decides. Replaces any write still in progress.
    virtual bool startWrite(const char* data, std::size_t n) = 0;
    // Starts reading exactly `n` bytes into `buffer`. Returns false when the
    // start failed at once. Replaces any read still in progress.
    virtual bool startRead(char* buffer, std::size_t n) = 0;
    // Bytes the current write has transferred so far (0 to n); never blocks.
    virtual std::size_t pollWrite() = 0;
    // Bytes the current read has received so far (0 to n); never blocks.
    // Received NUL bytes are discarded and not counted.
    virtual std::size_t pollRead() = 0;
    // Abandons the current write and read and discards what the driver holds
    // in both directions.
    virtual void purge() = 0;
    // Closes the device; returns false if the OS reported an error.
    virtual bool close() = 0;
    // A descriptor that becomes readable when bytes arrive (on Windows an
    // event that is set when the read has what it asked for), or -1. The
    // window program watches it so that an idle program sleeps until the
    // line speaks.
    virtual int readinessHandle() const = 0;
    // Whether the device has gone for good: a hard read or write error, a
    // hang-up, or its path no longer names the device that was opened (an
    // adapter unplugged, a line re-created). Cheap enough to ask every pass.
    virtual bool lost() = 0;
    // How much later than on a local line an answer can begin, in
    // milliseconds: a network line's round trip and its server's buffering;
    // 0 for a local line.
    virtual int extraLatencyMs() const = 0;
};

// Opens serial devices by the program's port names "COM1" to "COM4".
class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // Opens the port exclusively with the instrument line settings. Returns
    // the device, or null with `osError` set to the OS error code.
    virtual std::unique_ptr<SerialDevice> openPort(const std::string& name, unsigned long& osError) = 0;
    // What to tell the user about a failed open of `name`: the device it
    // leads to and why, e.g. "/dev/ttyUSB0: Permission denied - join the
    // dialout group". Empty when there is nothing to add.
    virtual std::string describeOpenFailure(const std::string& name, unsigned long osError) const = 0;
    // When the last failed open failed before the device was reached, what
    // could not be made for it ("Read Event Creation"); empty when the
    // device itself refused, and on systems where an open needs nothing
    // beforehand.
    virtual std::string setupFailure() const { return {}; }
};
