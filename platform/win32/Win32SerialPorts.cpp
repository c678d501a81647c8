#include "platform/win32/Win32SerialPorts.h"

#include "platform/NetworkSerial.h"
#include "platform/PortNames.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>

namespace {

void* makeManualResetEvent()
{
    return ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

Win32SerialPorts::EventMaker eventMaker = makeManualResetEvent;

// The read time-out the driver keeps: the whole reply or 5 s, whichever
// comes first. The program gives up on a reply much sooner; this only ends
// a read that nobody collects.
constexpr DWORD kReadTotalMs = 5000;
// How often lost() asks the driver whether the device is still there; a read
// or write that fails counts at once.
constexpr ULONGLONG kLostCheckMs = 500;

// Errors that mean only "not now" or "cut short on purpose", as against a
// device that is gone (ERROR_BROKEN_PIPE and ERROR_NOT_READY from a line
// whose other end has gone, ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND or
// ERROR_DEVICE_NOT_CONNECTED from an unplugged adapter).
bool passingError(DWORD e)
{
    return e == ERROR_IO_INCOMPLETE || e == ERROR_IO_PENDING || e == ERROR_OPERATION_ABORTED || e == ERROR_TIMEOUT
        || e == ERROR_SEM_TIMEOUT || e == ERROR_COUNTER_TIMEOUT;
}

// One background transfer: its record with its own event, and what it has
// moved so far.
struct Transfer {
    OVERLAPPED ov {};
    HANDLE event = nullptr;
    char* buffer = nullptr;
    std::size_t wanted = 0;
    std::size_t done = 0;
    bool issued = false;   // started and not yet collected
    bool failed = false;

    void begin(char* data, std::size_t n)
    {
        buffer = data;
        wanted = n;
        done = 0;
        issued = false;
        failed = false;
        ov = OVERLAPPED {};
        ov.hEvent = event;
    }
};

class Win32SerialDevice : public SerialDevice {
public:
    Win32SerialDevice(HANDLE port, HANDLE readEvent, HANDLE writeEvent) : port_(port)
    {
        read_.event = readEvent;
        write_.event = writeEvent;
    }
    ~Win32SerialDevice() override { close(); }

    HANDLE handle() const { return port_; }
    // The line settings this device gave the driver.
    DCB applied {};

    bool startWrite(const char* data, std::size_t n) override
    {
        abandon(write_);
        write_.begin(const_cast<char*>(data), n);
        if (port_ == INVALID_HANDLE_VALUE) {
            write_.failed = true;
            return false;
        }
        issue(write_, ::WriteFile(port_, data, static_cast<DWORD>(n), nullptr, &write_.ov));
        return !write_.failed;
    }

    bool startRead(char* buffer, std::size_t n) override
    {
        abandon(read_);
        read_.begin(buffer, n);
        if (port_ == INVALID_HANDLE_VALUE) {
            read_.failed = true;
            return false;
        }
        issueRead();
        return !read_.failed;
    }

    std::size_t pollWrite() override
    {
        DWORD n = 0;
        if (collect(write_, n))
            write_.done += n;
        return write_.done;
    }

    std::size_t pollRead() override
    {
        DWORD n = 0;
        if (!collect(read_, n))
            return read_.done;
        // The driver drops received NULs itself; a driver that does not
        // (Wine's, on a pseudo-terminal) has them taken out here, and the
        // read goes on for the bytes they took the place of.
        char* const first = read_.buffer + read_.done;
        char* const last = std::remove(first, first + n, '\0');
        const auto kept = static_cast<std::size_t>(last - first);
        read_.done += kept;
        if (kept < n && read_.done < read_.wanted && !read_.failed) {
            issueRead();
        } else if (read_.done < read_.wanted) {
            // Ended short (time-out, error): nothing more comes for this
            // read, and its event must not keep a waiting caller awake.
            ::ResetEvent(read_.event);
        }
        return read_.done;
    }

    void purge() override
    {
        if (port_ == INVALID_HANDLE_VALUE)
            return;
        ::PurgeComm(port_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
        // PurgeComm aborts what is under way on Windows, but not on every
        // driver that stands in for it (Wine leaves a read running): the
        // records and buffers are free only once both are back.
        abandon(write_);
        abandon(read_);
        write_.begin(nullptr, 0);
        read_.begin(nullptr, 0);
    }

    bool close() override
    {
        if (port_ == INVALID_HANDLE_VALUE)
            return true;
        abandon(write_);
        abandon(read_);
        // The read event, the write event, then the port.
        bool ok = ::CloseHandle(read_.event) != 0;
        ok = ::CloseHandle(write_.event) != 0 && ok;
        ok = ::CloseHandle(port_) != 0 && ok;
        read_.event = write_.event = nullptr;
        port_ = INVALID_HANDLE_VALUE;
        return ok;
    }

    // Event handles fit in 32 bits on every Windows (HandleToLong is made
    // for this), so the read's event travels as the int the interface has.
    int readinessHandle() const override
    {
        return port_ == INVALID_HANDLE_VALUE ? -1 : static_cast<int>(HandleToLong(read_.event));
    }

    int extraLatencyMs() const override { return 0; }

    bool lost() override
    {
        if (port_ == INVALID_HANDLE_VALUE || gone_)
            return true;
        const ULONGLONG now = ::GetTickCount64();
        if (now - checkedAt_ < kLostCheckMs)
            return false;
        checkedAt_ = now;
        // Fails once the device has gone (an adapter unplugged, the other
        // end of the line closed); on a device that is there it also ends
        // the stop that abort-on-error put on after a line error.
        DWORD errors = 0;
        COMSTAT status {};
        if (!::ClearCommError(port_, &errors, &status))
            gone_ = true;
        return gone_;
    }

private:
    void issueRead()
    {
        Transfer& t = read_;
        t.ov = OVERLAPPED {};
        t.ov.hEvent = t.event;
        issue(t, ::ReadFile(port_, t.buffer + t.done, static_cast<DWORD>(t.wanted - t.done), nullptr, &t.ov));
    }

    // After WriteFile or ReadFile: pending and completed at once are both
    // collected by the next poll.
    void issue(Transfer& t, BOOL started)
    {
        const DWORD e = started ? ERROR_SUCCESS : ::GetLastError();
        if (started || e == ERROR_IO_PENDING) {
            t.issued = true;
            return;
        }
        fail(t, e);
    }

    // Asks without waiting whether the transfer has ended; true with the
    // bytes it moved once it has (and it is then collected).
    bool collect(Transfer& t, DWORD& n)
    {
        n = 0;
        if (!t.issued)
            return false;
        if (::GetOverlappedResult(port_, &t.ov, &n, FALSE)) {
            t.issued = false;
            return true;
        }
        const DWORD e = ::GetLastError();
        if (e == ERROR_IO_INCOMPLETE)
            return false;
        t.issued = false;
        fail(t, e);
        return true;
    }

    void fail(Transfer& t, DWORD e)
    {
        t.failed = true;
        if (!passingError(e))
            gone_ = true;
        else if (e == ERROR_OPERATION_ABORTED) {
            // A line error stops every transfer until it is cleared.
            DWORD errors = 0;
            ::ClearCommError(port_, &errors, nullptr);
        }
    }

    // Cancels a transfer that is still under way and waits until the driver
    // has given it back: until then the driver may still write into its
    // record and buffer, so neither may be used again or freed. A cancelled
    // transfer ends at once on any working driver; a read ends by itself
    // within the driver's read time-out in any case.
    void abandon(Transfer& t)
    {
        if (!t.issued)
            return;
        ::CancelIoEx(port_, &t.ov);
        DWORD n = 0;
        ::GetOverlappedResult(port_, &t.ov, &n, TRUE);
        t.issued = false;
        // The cancelled transfer set its event; nothing is to come for it.
        ::ResetEvent(t.event);
    }

    HANDLE port_;
    Transfer read_;
    Transfer write_;
    bool gone_ = false;
    ULONGLONG checkedAt_ = 0;
};

// Everything after the open, in the order the line wants it. False with the
// OS error when the device does not take the line settings; `dcb` is what
// it was given.
bool configure(HANDLE port, DCB& dcb, DWORD& error)
{
    DWORD mask = 0;
    ::GetCommMask(port, &mask);
    ::SetCommMask(port, 0);
    ::PurgeComm(port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = kReadTotalMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    ::SetCommTimeouts(port, &timeouts);
    COMMPROP properties {};
    ::GetCommProperties(port, &properties);

    dcb = DCB {};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(port, &dcb)) {
        error = ::GetLastError();
        return false;
    }
    dcb.BaudRate = CBR_19200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = TRUE;
    dcb.XonLim = 42;
    dcb.XoffLim = 42;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    // fErrorChar stays as the device has it.
    dcb.fNull = TRUE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = TRUE;
    if (!::SetCommState(port, &dcb)) {
        error = ::GetLastError();
        return false;
    }
    return true;
}

// "\\.\COM12" is shown as "COM12".
std::string shownName(const std::string& path)
{
    return path.compare(0, 4, "\\\\.\\") == 0 ? path.substr(4) : path;
}

} // namespace

void Win32SerialPorts::setEventMaker(EventMaker maker)
{
    eventMaker = maker != nullptr ? maker : makeManualResetEvent;
}

std::string Win32SerialPorts::pathOf(const std::string& name) const
{
    const auto it = paths_.find(name);
    return it != paths_.end() ? it->second : resolvePortPath(name, profile_);
}

std::unique_ptr<SerialDevice> Win32SerialPorts::openPort(const std::string& name, unsigned long& osError)
{
    setupFailure_.clear();
    return openDevice(pathOf(name), osError, &setupFailure_);
}

std::unique_ptr<SerialDevice> Win32SerialPorts::openDevice(const std::string& path, unsigned long& osError,
                                                           std::string* setupFailure)
{
    osError = 0;
    if (setupFailure != nullptr)
        setupFailure->clear();
    if (isNetworkLine(path))
        return openNetworkLine(path, osError);

    const auto failBefore = [&](const char* what) {
        osError = ::GetLastError();
        if (setupFailure != nullptr)
            *setupFailure = what;
        return nullptr;
    };
    HANDLE readEvent = static_cast<HANDLE>(eventMaker());
    if (readEvent == nullptr)
        return failBefore("Read Event Creation");
    HANDLE writeEvent = static_cast<HANDLE>(eventMaker());
    if (writeEvent == nullptr) {
        ::CloseHandle(readEvent);
        return failBefore("Write Event Creation");
    }
    // Not shared: a port held by another program fails with
    // ERROR_ACCESS_DENIED.
    HANDLE port = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    DWORD error = ::GetLastError();
    DCB dcb {};
    if (port != INVALID_HANDLE_VALUE && !configure(port, dcb, error)) {
        ::CloseHandle(port);
        port = INVALID_HANDLE_VALUE;
    }
    if (port == INVALID_HANDLE_VALUE) {
        ::CloseHandle(readEvent);
        ::CloseHandle(writeEvent);
        osError = error;
        return nullptr;
    }
    auto device = std::make_unique<Win32SerialDevice>(port, readEvent, writeEvent);
    device->applied = dcb;
    return device;
}

std::string Win32SerialPorts::describeOpenFailure(const std::string& name, unsigned long osError) const
{
    return describeDeviceFailure(pathOf(name), osError);
}

std::string Win32SerialPorts::describeDeviceFailure(const std::string& path, unsigned long osError)
{
    if (isNetworkLine(path))
        return describeNetworkFailure(path, osError);
    std::string why;
    switch (osError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: why = "No such device"; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: why = "Held by another program"; break;
    default: {
        char text[256] = {};
        const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                         static_cast<DWORD>(osError), 0, text, sizeof text, nullptr);
        why.assign(text, n);
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.'))
            why.pop_back();
        if (why.empty())
            why = "error " + std::to_string(osError);
    }
    }
    return shownName(path) + ": " + why;
}

bool readLineState(SerialDevice& device, Win32LineState& s, bool asDriverHasIt)
{
    auto* serial = dynamic_cast<Win32SerialDevice*>(&device);
    if (serial == nullptr || serial->handle() == INVALID_HANDLE_VALUE)
        return false;
    const HANDLE port = serial->handle();
    DCB dcb = serial->applied;
    COMMTIMEOUTS t {};
    DWORD mask = 0;
    if ((asDriverHasIt && !::GetCommState(port, &dcb)) || !::GetCommTimeouts(port, &t) || !::GetCommMask(port, &mask))
        return false;
    s.baudRate = dcb.BaudRate;
    s.byteSize = dcb.ByteSize;
    s.parity = dcb.Parity;
    s.stopBits = dcb.StopBits;
    s.binary = dcb.fBinary;
    s.parityCheck = dcb.fParity;
    s.outxCts = dcb.fOutxCtsFlow;
    s.outxDsr = dcb.fOutxDsrFlow;
    s.dtrControl = static_cast<int>(dcb.fDtrControl);
    s.dsrSensitivity = dcb.fDsrSensitivity;
    s.txContinueOnXoff = dcb.fTXContinueOnXoff;
    s.outX = dcb.fOutX;
    s.inX = dcb.fInX;
    s.xonLimit = dcb.XonLim;
    s.xoffLimit = dcb.XoffLim;
    s.xonChar = static_cast<unsigned char>(dcb.XonChar);
    s.xoffChar = static_cast<unsigned char>(dcb.XoffChar);
    s.discardNull = dcb.fNull;
    s.rtsControl = static_cast<int>(dcb.fRtsControl);
    s.abortOnError = dcb.fAbortOnError;
    s.readInterval = t.ReadIntervalTimeout;
    s.readMultiplier = t.ReadTotalTimeoutMultiplier;
    s.readConstant = t.ReadTotalTimeoutConstant;
    s.writeMultiplier = t.WriteTotalTimeoutMultiplier;
    s.writeConstant = t.WriteTotalTimeoutConstant;
    s.eventMask = mask;
    return true;
}
