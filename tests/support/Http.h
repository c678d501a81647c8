#pragma once

#include <functional>
#include <string>

// Plain HTTP over loopback for tests, with no library between the test and
// the bytes: a request is sent as written, and the answer read until the
// server closes or has sent its Content-Length.

// A loopback port that was free a moment ago.
int freeLoopbackPort();
// A connected socket to the loopback port, or -1.
int connectLoopback(int port);
// Whether something takes connections on the loopback port.
bool acceptsConnections(int port);

struct HttpAnswer {
    int status = 0;        // 0: no answer (refused, closed or timed out)
    std::string head;      // status line and headers
    std::string body;
};

// Sends `request` (whole, "GET / HTTP/1.1\r\n...") to 127.0.0.1:`port` and
// reads the answer, calling `pump` between looks (the program under test
// runs in the test's own loop), for at most `timeoutMs`.
HttpAnswer httpExchange(int port, const std::string& request, const std::function<void()>& pump = {},
                        int timeoutMs = 10000);
// GET `target` ("/metrics", "/api/v1/query?query=up").
HttpAnswer httpGet(int port, const std::string& target, const std::function<void()>& pump = {},
                   int timeoutMs = 10000);
