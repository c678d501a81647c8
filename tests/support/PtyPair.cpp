#include "tests/support/PtyPair.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0)
        return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        ::close(master_);
        master_ = -1;
        return;
    }
    slave_ = ::ptsname(master_);
    // Holding the slave open keeps the master readable when the program
    // under test closes and reopens its side.
    slaveKeep_ = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio {};
    if (slaveKeep_ >= 0 && ::tcgetattr(slaveKeep_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slaveKeep_, TCSANOW, &tio);
    }
}

PtyPair::~PtyPair()
{
    if (slaveKeep_ >= 0)
        ::close(slaveKeep_);
    if (master_ >= 0)
        ::close(master_);
}

std::string PtyPair::readAvailable()
{
    std::string out;
    char buf[256];
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return out;
}

void PtyPair::write(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
}
