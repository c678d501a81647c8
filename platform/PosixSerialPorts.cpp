#include "platform/PosixSerialPorts.h"

#include "platform/PortNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

class PosixSerialDevice : public SerialDevice {
public:
    explicit PosixSerialDevice(int fd) : fd_(fd) {}
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
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    writeFailed_ = true;
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
                // 0 is end of file (the other side hung up); EAGAIN means
                // nothing more for now. Either way the count stays short.
                if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                    readFailed_ = true;
                break;
            }
        }
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

private:
    int fd_;
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
    return std::make_unique<PosixSerialDevice>(fd);
}
