#include "tests/support/Prometheus.h"

#include "tests/support/Http.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

// Query text as a URL wants it.
std::string escaped(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '_' || c == '.' || c == '-')
            out += static_cast<char>(c);
        else
            out += std::string("%") + hex[c >> 4] + hex[c & 15];
    }
    return out;
}

} // namespace

PrometheusServer::~PrometheusServer()
{
    if (process_)
        process_->stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool PrometheusServer::start(const std::vector<std::string>& targets, const std::function<void()>& pump)
{
    char dir[] = "/tmp/tessol-prometheus-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return false;
    dir_ = dir;
    {
        std::ofstream conf(dir_ + "/prometheus.yml");
        conf << "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
             << "scrape_configs:\n  - job_name: tessol\n    static_configs:\n      - targets: [";
        for (std::size_t i = 0; i < targets.size(); ++i)
            conf << (i ? ", " : "") << "'" << targets[i] << "'";
        conf << "]\n";
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLoopbackPort();
        process_ = std::make_unique<BackgroundProcess>();
        if (!process_->start({PROMETHEUS_PATH, "--config.file=" + dir_ + "/prometheus.yml",
                              "--storage.tsdb.path=" + dir_ + "/data",
                              "--web.listen-address=127.0.0.1:" + std::to_string(port_), "--log.level=warn"},
                             {}, dir_ + "/prometheus.log"))
            return false;
        const auto deadline = Steady::now() + std::chrono::seconds(20);
        while (Steady::now() < deadline && process_->running()) {
            if (httpGet(port_, "/-/ready", pump, 1000).status == 200)
                return true;
            const auto pause = Steady::now() + std::chrono::milliseconds(100);
            while (Steady::now() < pause) {
                if (pump)
                    pump();
                ::usleep(5000);
            }
        }
        process_->stop();
    }
    return false;
}

std::string PrometheusServer::value(const std::string& query, const std::function<void()>& pump) const
{
    const HttpAnswer a = httpGet(port_, "/api/v1/query?query=" + escaped(query), pump, 5000);
    // ..."value":[1765300000.123,"22.5"]...
    const auto at = a.body.find("\"value\":[");
    if (a.status != 200 || at == std::string::npos)
        return std::string();
    const auto open = a.body.find(",\"", at);
    const auto close = a.body.find('"', open + 2);
    return open == std::string::npos || close == std::string::npos ? std::string()
                                                                   : a.body.substr(open + 2, close - open - 2);
}

std::string PrometheusServer::waitFor(const std::string& query, const std::function<bool(const std::string&)>& good,
                                      const std::function<void()>& pump, int ms) const
{
    const auto deadline = Steady::now() + std::chrono::milliseconds(ms);
    std::string last;
    while (Steady::now() < deadline) {
        last = value(query, pump);
        if (good(last))
            return last;
        const auto pause = Steady::now() + std::chrono::milliseconds(200);
        while (Steady::now() < pause) {
            if (pump)
                pump();
            ::usleep(5000);
        }
    }
    return last;
}

std::string PrometheusServer::log() const
{
    std::ifstream in(dir_ + "/prometheus.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
