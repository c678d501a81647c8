#include "platform/MetricsServer.h"

// The Windows build has no HTTP library: the server says so when started,
// and the instruments go on as without it.

struct MetricsServer::Daemon {};

MetricsServer::MetricsServer(std::function<std::string()> render) : render_(std::move(render)) {}

MetricsServer::~MetricsServer() = default;

std::string MetricsServer::Unavailable()
{
    return "this build of the program has no metrics server";
}

bool MetricsServer::Start(const MetricsAddress&, std::string& error)
{
    error = Unavailable();
    return false;
}

int MetricsServer::Socket() const
{
    return -1;
}

int MetricsServer::DueInMs() const
{
    return -1;
}

void MetricsServer::Service() {}

std::string MetricsServer::Url() const
{
    return std::string();
}
