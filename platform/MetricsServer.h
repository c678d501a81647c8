#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Where the metrics are served: HOST:PORT, [IPV6]:PORT, or PORT alone for
// 127.0.0.1 (nothing but this computer reaches it unless another address
// is given). Port 0 takes a free one. False with `error` for anything else.
struct MetricsAddress {
    std::string host = "127.0.0.1";   // without brackets
    int port = 0;
};
bool parseMetricsAddress(const std::string& text, MetricsAddress& address, std::string& error);

// Serves GET /metrics over HTTP (libmicrohttpd), driven by its owner's event
// loop: no thread of its own, and nothing here waits for a client. The owner
// waits on Socket() for reading and by DueInMs() at the latest, then calls
// Service(), which answers every request that is complete by calling
// `render` for the page.
//
// Anything but GET /metrics gets a short error (404 or 405). A request's
// head is bounded in size (a longer one gets an error), a connection that
// stays idle or sends nothing is closed after kIdleSeconds, and at most
// kMaxConnections are served at once, kMaxPerClient of them from one
// address: no client can hold the program or its memory, nor one client
// every connection.
class MetricsServer {
public:
    static constexpr int kIdleSeconds = 5;
    static constexpr int kMaxConnections = 16;
    static constexpr int kMaxPerClient = 4;

    explicit MetricsServer(std::function<std::string()> render);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    // Listens at `address`; false with `error` ("127.0.0.1:9464: Address
    // already in use") when it cannot.
    bool Start(const MetricsAddress& address, std::string& error);
    // What to wait on for reading (-1 before Start).
    int Socket() const;
    // Milliseconds until Service() is due though nothing is readable (a
    // connection to time out, or one with work left); -1 for none.
    int DueInMs() const;
    void Service();
    // "http://127.0.0.1:9464/metrics", with the port actually taken.
    std::string Url() const;
    // Pages served so far.
    std::uint64_t Scrapes() const { return scrapes_; }

    // Empty where metrics can be served, else why not.
    static std::string Unavailable();

private:
    struct Daemon;
    std::function<std::string()> render_;
    std::unique_ptr<Daemon> daemon_;
    std::string host_;
    int port_ = 0;
    std::uint64_t scrapes_ = 0;
};
