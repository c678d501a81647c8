#include "platform/CsvFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <time.h>

namespace csvlog {

std::string isoTime(std::int64_t utcMillis)
{
    const time_t t = static_cast<time_t>(utcMillis / 1000);
    tm local {};
#ifdef _WIN32
    localtime_s(&local, &t);
    // The local time read as if it were UTC, less the time itself: the
    // offset in force at that moment, summer time included.
    tm asUtc = local;
    const long offset = static_cast<long>(_mkgmtime(&asUtc) - t) / 60;
#else
    localtime_r(&t, &local);
    const long offset = local.tm_gmtoff / 60;
#endif
    char text[40];
    const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    return text;
}

bool File::fail(int osError)
{
    failed_ = true;
    error_ = std::strerror(osError);
    return false;
}

bool File::start(const std::string& path, bool truncate)
{
    path_ = path;
    error_.clear();
    failed_ = false;
    std::FILE* f = std::fopen(path.c_str(), truncate ? "w+" : "a+");
    if (f == nullptr)
        return fail(errno);
    // A run that met a full disk may have left its last row torn; rows
    // added now start on a line of their own.
    struct stat st {};
    if (!truncate && ::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
        && std::fseek(f, -1, SEEK_END) == 0 && std::fgetc(f) != '\n') {
        std::fseek(f, 0, SEEK_END);
        std::fputc('\n', f);
    }
    if (std::fclose(f) != 0)
        return fail(errno);
    return true;
}

bool File::append(const std::vector<std::string>& lines)
{
    if (failed_ || path_.empty())
        return false;
    // Opened by name each time: a folder removed while logging makes this
    // fail, where a file kept open would go on writing into nothing.
    errno = 0;
    std::FILE* f = std::fopen(path_.c_str(), "a");
    if (f == nullptr)
        return fail(errno);
    int osError = 0;
    for (const std::string& line : lines) {
        if (std::fputs(line.c_str(), f) == EOF || std::fputc('\n', f) == EOF) {
            osError = errno != 0 ? errno : EIO;
            break;
        }
    }
    // Buffered bytes meet a full disk only here.
    if (std::fclose(f) != 0 && osError == 0)
        osError = errno != 0 ? errno : EIO;
    if (osError != 0)
        return fail(osError);
    return true;
}

} // namespace csvlog
