#include "platform/MetricsServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The HTTP side is libmicrohttpd's, in its external mode with epoll: one
// descriptor stands for the listening socket and every connection, and
// MHD_run does the work of a pass without waiting.

namespace {

// A request's head beyond this gets an error from the library, not memory.
constexpr std::size_t kConnectionMemory = 16 * 1024;
constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

std::string addressName(const std::string& host, int port)
{
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

MHD_Result answer(MHD_Connection* connection, unsigned status, const std::string& body, const char* allow = nullptr)
{
    MHD_Response* response
        = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, status == MHD_HTTP_OK ? kContentType : "text/plain");
    if (allow != nullptr)
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

} // namespace

struct MetricsServer::Daemon {
    MHD_Daemon* mhd = nullptr;
    ~Daemon()
    {
        if (mhd != nullptr)
            MHD_stop_daemon(mhd);
    }

    static MHD_Result OnRequest(void* cls, MHD_Connection* connection, const char* url, const char* method,
                                const char* /*version*/, const char* /*upload*/, std::size_t* uploadSize,
                                void** /*state*/)
    {
        auto* server = static_cast<MetricsServer*>(cls);
        // A body is never wanted: its bytes are dropped as they come, and
        // the answer is the error below.
        *uploadSize = 0;
        if (std::strcmp(url, "/metrics") != 0)
            return answer(connection, MHD_HTTP_NOT_FOUND, "only GET /metrics is served here\n");
        if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0)
            return answer(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "only GET /metrics is served here\n", "GET");
        ++server->scrapes_;
        return answer(connection, MHD_HTTP_OK, server->render_());
    }
};

MetricsServer::MetricsServer(std::function<std::string()> render) : render_(std::move(render)) {}

MetricsServer::~MetricsServer() = default;

std::string MetricsServer::Unavailable()
{
    return std::string();
}

bool MetricsServer::Start(const MetricsAddress& address, std::string& error)
{
    daemon_.reset();
    const std::string shown = addressName(address.host, address.port);
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.port);
    if (const int rc = getaddrinfo(address.host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = shown + ": " + gai_strerror(rc);
        return false;
    }
    // The listening socket is made here, so that a port taken by another
    // program is said as such; the library serves it from then on.
    int fd = -1;
    int why = 0;
    int family = AF_INET;
    for (addrinfo* ai = found; ai != nullptr && fd < 0; ai = ai->ai_next) {
        fd = socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (fd < 0) {
            why = errno;
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || listen(fd, 16) != 0) {
            why = errno;
            close(fd);
            fd = -1;
            continue;
        }
        family = ai->ai_family;
    }
    freeaddrinfo(found);
    if (fd < 0) {
        error = shown + ": " + std::strerror(why);
        return false;
    }
    sockaddr_storage bound {};
    socklen_t length = sizeof bound;
    int port = address.port;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0)
        port = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                        : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);

    auto daemon = std::make_unique<Daemon>();
    unsigned flags = MHD_USE_EPOLL;
    if (family == AF_INET6)
        flags |= MHD_USE_IPv6;
    daemon->mhd = MHD_start_daemon(flags, 0, nullptr, nullptr, &Daemon::OnRequest, this,
                                   MHD_OPTION_LISTEN_SOCKET, fd,
                                   MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
                                   MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(kIdleSeconds),
                                   MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(kMaxConnections),
                                   MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(kMaxPerClient),
                                   MHD_OPTION_END);
    if (daemon->mhd == nullptr) {
        close(fd);
        error = shown + ": the HTTP server could not start";
        return false;
    }
    daemon_ = std::move(daemon);
    host_ = address.host;
    port_ = port;
    return true;
}

int MetricsServer::Socket() const
{
    if (!daemon_)
        return -1;
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_->mhd, MHD_DAEMON_INFO_EPOLL_FD);
    return info != nullptr ? info->epoll_fd : -1;
}

int MetricsServer::DueInMs() const
{
    MHD_UNSIGNED_LONG_LONG ms = 0;
    if (!daemon_ || MHD_get_timeout(daemon_->mhd, &ms) != MHD_YES)
        return -1;
    return ms > 60000 ? 60000 : static_cast<int>(ms);
}

void MetricsServer::Service()
{
    if (daemon_)
        MHD_run(daemon_->mhd);
}

std::string MetricsServer::Url() const
{
    return "http://" + addressName(host_, port_) + "/metrics";
}
