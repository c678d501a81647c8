#include "platform/PosixSerialPorts.h"

#include "platform/NetworkSerial.h"
#include "platform/PortNames.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace {

// Errors after which a device is no use any more, as against a moment
// without data.
bool hardError(int e)
{
    return e != EAGAIN && e != EWOULDBLOCK && e != EINTR;
}

std::int64_t monotonicMillis()
{
    timespec t {};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// How often lost() looks at the path and the descriptor's hang-up state; a
// read or write error counts at once.
constexpr std::int64_t kLostCheckMs = 500;

class PosixSerialDevice : public SerialDevice {
public:
    PosixSerialDevice(int fd, std::string path) : fd_(fd), path_(std::move(path))
    {
        struct stat st {};
        if (::fstat(fd_, &st) == 0) {
            dev_ = st.st_rdev;
            ino_ = st.st_ino;
        }
        haveSettings_ = ::tcgetattr(fd_, &settings_) == 0;
    }
    ~PosixSerialDevice() override { close(); }

    bool startWrite(const char* data, std::size_t n) override
    {
        writeData_ = data;
        writeWanted_ = n;
        writeDone_ = 0;
        writeFailed_ = fd_ < 0;
        pollWrite();
        return !writeFailed_;
    }

    bool startRead(char* buffer, std::size_t n) override
    {
        readBuffer_ = buffer;
        readWanted_ = n;
        readDone_ = 0;
        readFailed_ = fd_ < 0;
        wakeAfter(n);
        return !readFailed_;
    }

    std::size_t pollWrite() override
    {
        while (!writeFailed_ && writeDone_ < writeWanted_) {
            const ssize_t n = ::write(fd_, writeData_ + writeDone_, writeWanted_ - writeDone_);
            if (n > 0) {
                writeDone_ += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && hardError(errno)) {
                    writeFailed_ = true;
                    gone_ = true;
                }
                break;
            }
        }
        return writeDone_;
    }

    std::size_t pollRead() override
    {
        // Read no more than the reply still lacks, so that the bytes of the
        // next reply stay in the driver for the next read.
        while (!readFailed_ && readDone_ < readWanted_) {
            const ssize_t n = ::read(fd_, readBuffer_ + readDone_, readWanted_ - readDone_);
            if (n > 0) {
                char* const first = readBuffer_ + readDone_;
                char* const last = std::remove(first, first + n, '\0');
                readDone_ += static_cast<std::size_t>(last - first);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                // With VMIN and VTIME at 0 a terminal answers 0 when it has
                // nothing for now; EAGAIN means the same. Anything else (EIO
                // once the other side of a line has gone) ends the device.
                if (n < 0 && hardError(errno)) {
                    readFailed_ = true;
                    gone_ = true;
                } else if (n == 0 && hungUp()) {
                    // A hung-up terminal (its adapter unplugged, the other
                    // side of a pseudo-terminal closed) also reads as 0.
                    gone_ = true;
                }
                break;
            }
        }
        if (readDone_ < readWanted_)
            wakeAfter(readWanted_ - readDone_);
        return readDone_;
    }

    void purge() override
    {
        writeWanted_ = writeDone_ = 0;
        readWanted_ = readDone_ = 0;
        if (fd_ >= 0)
            ::tcflush(fd_, TCIOFLUSH);
    }

    bool close() override
    {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

    int readinessHandle() const override { return fd_; }

    int extraLatencyMs() const override { return 0; }

    bool lost() override
    {
        if (fd_ < 0 || gone_)
            return true;
        const std::int64_t now = monotonicMillis();
        if (now - checkedAt_ < kLostCheckMs)
            return false;
        checkedAt_ = now;
        if (hungUp())
            gone_ = true;
        // The path must still lead to the device node that was opened: an
        // unplugged adapter takes its node along, and a re-created line
        // (a pseudo-terminal behind a link) names a new one.
        struct stat st {};
        if (::stat(path_.c_str(), &st) != 0 ? errno == ENOENT || errno == ENOTDIR
                                              : st.st_rdev != dev_ || st.st_ino != ino_)
            gone_ = true;
        return gone_;
    }

private:
    // Readiness comes only once `n` bytes wait in the driver (VMIN, with
    // VTIME 0, is what poll() compares with), so a reply that trickles in
    // at line rate wakes its reader once, not once per byte. Reads do not
    // block whatever VMIN says: the descriptor is non-blocking.
    void wakeAfter(std::size_t n)
    {
        const auto wanted = static_cast<cc_t>(std::clamp<std::size_t>(n, 1, 255));
        if (!haveSettings_ || fd_ < 0 || settings_.c_cc[VMIN] == wanted)
            return;
        settings_.c_cc[VMIN] = wanted;
        ::tcsetattr(fd_, TCSANOW, &settings_);
    }

    bool hungUp() const
    {
        pollfd p {fd_, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }

    int fd_;
    std::string path_;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    bool gone_ = false;
    termios settings_ {};
    bool haveSettings_ = false;
    std::int64_t checkedAt_ = 0;
    const char* writeData_ = nullptr;
    std::size_t writeWanted_ = 0;
    std::size_t writeDone_ = 0;
    bool writeFailed_ = false;
    char* readBuffer_ = nullptr;
    std::size_t readWanted_ = 0;
    std::size_t readDone_ = 0;
    bool readFailed_ = false;
};

bool applyLineSettings(int fd)
{
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B19200);
    ::cfsetospeed(&tio, B19200);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXANY | INPCK | PARMRK);
    tio.c_iflag |= IXOFF | IGNBRK;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

std::string PosixSerialPorts::pathOf(const std::string& name) const
{
    const auto it = paths_.find(name);
    return it != paths_.end() ? it->second : resolvePortPath(name, profile_);
}

std::unique_ptr<SerialDevice> PosixSerialPorts::openPort(const std::string& name, unsigned long& osError)
{
    return openDevice(pathOf(name), osError);
}

std::unique_ptr<SerialDevice> PosixSerialPorts::openDevice(const std::string& path, unsigned long& osError)
{
    osError = 0;
    if (isNetworkLine(path))
        return openNetworkLine(path, osError);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        osError = static_cast<unsigned long>(errno);
        return nullptr;
    }
    // The line belongs to one program at a time. An advisory lock keeps a
    // second opener out even when it runs as root, which TIOCEXCL does not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        osError = errno == EWOULDBLOCK ? EBUSY : static_cast<unsigned long>(errno);
        ::close(fd);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    if (!applyLineSettings(fd)) {
        osError = static_cast<unsigned long>(errno);
        ::close(fd);
        return nullptr;
    }
    // Pseudo-terminals and some adapters have no modem lines; that is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(fd, TIOCMBIC, &lines);
    ::tcflush(fd, TCIOFLUSH);
    return std::make_unique<PosixSerialDevice>(fd, path);
}

std::string PosixSerialPorts::describeOpenFailure(const std::string& name, unsigned long osError) const
{
    return describeDeviceFailure(pathOf(name), osError);
}

std::string PosixSerialPorts::describeDeviceFailure(const std::string& path, unsigned long osError)
{
    if (isNetworkLine(path))
        return describeNetworkFailure(path, osError);
    const int e = static_cast<int>(osError);
    std::string why;
    switch (e) {
    case ENOENT:
    case ENODEV:
    case ENXIO: why = "No such device"; break;
    case EACCES:
    case EPERM: why = "Permission denied - join the dialout group"; break;
    case EBUSY: why = "Held by another program"; break;
    default: why = std::strerror(e); break;
    }
    return path + ": " + why;
}
