#pragma once

#include "tests/support/Process.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// A real Prometheus server for a test: its own folder, a loopback port, and
// one job "tessol" that scrapes the given targets ("127.0.0.1:9464") every
// second. The destructor stops it and removes the folder.
class PrometheusServer {
public:
    PrometheusServer() = default;
    ~PrometheusServer();
    PrometheusServer(const PrometheusServer&) = delete;
    PrometheusServer& operator=(const PrometheusServer&) = delete;

    // Starts it and waits until it is ready (at most 20 s), calling `pump`
    // meanwhile. False when it did not come up: its log tells why.
    bool start(const std::vector<std::string>& targets, const std::function<void()>& pump = {});
    // The value of the first series an instant query gives ("22.5"), or
    // empty when it gives none.
    std::string value(const std::string& query, const std::function<void()>& pump = {}) const;
    // Asks until the query gives a value for which `good` holds, for at
    // most `ms`; that value, or the last one seen.
    std::string waitFor(const std::string& query, const std::function<bool(const std::string&)>& good,
                        const std::function<void()>& pump = {}, int ms = 20000) const;
    std::string log() const;

private:
    std::string dir_;
    int port_ = 0;
    std::unique_ptr<BackgroundProcess> process_;
};
