#pragma once

#include <string>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

// CPU seconds this process has used so far, user and system together.
inline double cpuSeconds()
{
    rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// CPU seconds this thread has used so far.
inline double threadCpuSeconds()
{
    timespec t {};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A program that is built into the same folder as this one.
inline std::string besideMe(const char* name)
{
    char self[4096] = {};
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : std::string("./x");
    return path.substr(0, path.rfind('/') + 1) + name;
}
