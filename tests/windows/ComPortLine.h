#pragma once

// The line the Windows tests talk over: the port named by TESSOL_TEST_PORT
// (COM2 under Wine, mapped to tqk5820-sim's pseudo-terminal), with units 1
// and 2 answering on it. Tests that need it are skipped without it.

#include "platform/LineWait.h"

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

inline std::string testPort()
{
    const char* port = std::getenv("TESSOL_TEST_PORT");
    return port != nullptr ? port : "";
}

// Port index 0 to 3 of the test port ("COM2" is 1).
inline int testPortIndex()
{
    const std::string port = testPort();
    return port.size() == 4 ? port[3] - '1' : -1;
}

#define REQUIRE_TEST_PORT()                                                                          \
    do {                                                                                             \
        if (testPortIndex() < 0 || testPortIndex() > 3)                                              \
            GTEST_SKIP() << "TESSOL_TEST_PORT (COM1 to COM4, a simulated line) is not set";          \
    } while (0)

// Calls `step` until `done` holds or `ms` have passed; whether it held.
inline bool within(int ms, const std::function<bool()>& done, const std::function<void()>& step)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        step();
    }
    return true;
}
