#include "platform/ReadingsCsv.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <ctime>
#include <time.h>

namespace csvlog {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string age(std::int64_t millis)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(millis < 0 ? 0 : millis) / 1000.0);
    return text;
}

std::string outputText(const std::string& word)
{
    if (word.size() != 8)
        return kNoOutput;
    return word[7] == '1' ? "on" : "off";
}

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

std::string unitText(bool resistance)
{
    return resistance ? "kOhms" : "\xc2\xb0"
                                  "C";
}

std::string commentLine(int unit, const std::string& serial, const std::string& port)
{
    char number[8];
    std::snprintf(number, sizeof number, "%02d", unit);
    return std::string("# unit ") + number + ", serial number " + serial + ", " + port;
}

std::string noteLine(std::int64_t utcMillis, const std::string& text)
{
    // A line end inside the text would start a line that is not a comment.
    std::string flat = text;
    for (char& c : flat) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return "# " + isoTime(utcMillis) + " " + flat;
}

std::string headerLine(bool resistance)
{
    const std::string unit = unitText(resistance);
    return "time,actual (" + unit + "),set point (" + unit + "),TE current (A),TE voltage (V),output,age (s)";
}

std::string rowLine(const Row& row)
{
    return isoTime(row.utcMillis) + "," + row.actual + "," + row.setPoint + "," + row.current + "," + row.voltage
        + "," + row.output + "," + row.age;
}

std::vector<std::string> Writer::lines(const Identity& who, const Row& row)
{
    std::vector<std::string> out;
    if (!started_ || who != last_) {
        out.push_back(commentLine(who.unit, who.serial, who.port));
        out.push_back(headerLine(who.resistance));
        started_ = true;
        last_ = who;
    }
    out.push_back(rowLine(row));
    return out;
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
