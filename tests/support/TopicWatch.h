#pragma once

#include "tests/support/MosquittoBroker.h"
#include "tests/support/Process.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct SeenMessage {
    bool retained = false;
    std::string topic;
    std::string payload;
};

// What arrives on a broker's topics, as mosquitto_sub prints it (the line a
// user would type to watch them), collected for a test.
class TopicWatch {
public:
    bool start(const MosquittoBroker& broker, const std::string& pattern = "tessol/#")
    {
        std::vector<std::string> argv = {MOSQUITTO_SUB_PATH, "-h", "127.0.0.1", "-p", std::to_string(broker.port()),
                                         "-u", MosquittoBroker::kUser, "-P", MosquittoBroker::kPassword, "-t",
                                         pattern, "-F", "%r|%t|%p"};
        if (!broker.caFile().empty()) {
            argv.push_back("--cafile");
            argv.push_back(broker.caFile());
        }
        return process_.start(argv);
    }
    void stop() { process_.stop(); }

    // Takes what has arrived, without waiting.
    void take()
    {
        for (std::string line = process_.readLine(0); !line.empty(); line = process_.readLine(0))
            add(line);
    }
    // Takes what arrives until `done` holds or `ms` have passed; whether it holds.
    bool waitFor(const std::function<bool()>& done, int ms = 10000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            take();
            if (done())
                return true;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                return false;
            const std::string line = process_.readLine(static_cast<int>(left < 50 ? left : 50));
            if (!line.empty())
                add(line);
        }
    }
    // Whether a message came on `topic` (with `payload`, when given) since
    // message number `from`.
    bool seen(const std::string& topic, const std::string& payload = std::string(), std::size_t from = 0) const
    {
        for (std::size_t i = from; i < messages.size(); ++i) {
            if (messages[i].topic == topic && (payload.empty() || messages[i].payload == payload))
                return true;
        }
        return false;
    }
    std::vector<std::string> payloads(const std::string& topic, std::size_t from = 0) const
    {
        std::vector<std::string> out;
        for (std::size_t i = from; i < messages.size(); ++i) {
            if (messages[i].topic == topic)
                out.push_back(messages[i].payload);
        }
        return out;
    }
    std::string last(const std::string& topic) const
    {
        const auto all = payloads(topic);
        return all.empty() ? std::string() : all.back();
    }

    std::vector<SeenMessage> messages;

private:
    void add(const std::string& line)
    {
        const auto first = line.find('|');
        const auto second = first == std::string::npos ? first : line.find('|', first + 1);
        if (second == std::string::npos)
            return;
        messages.push_back({line.compare(0, first, "1") == 0, line.substr(first + 1, second - first - 1),
                            line.substr(second + 1)});
    }

    BackgroundProcess process_;
};

// Publishes once, as the broker's user; with `retain` the broker keeps it
// (an empty payload then clears what it kept).
inline bool publishTo(const MosquittoBroker& broker, const std::string& topic, const std::string& payload,
                      bool retain = false)
{
    std::vector<std::string> argv = {MOSQUITTO_PUB_PATH, "-h", "127.0.0.1", "-p", std::to_string(broker.port()),
                                     "-u", MosquittoBroker::kUser, "-P", MosquittoBroker::kPassword, "-t", topic};
    if (payload.empty()) {
        argv.push_back("-n");
    } else {
        argv.push_back("-m");
        argv.push_back(payload);
    }
    if (retain)
        argv.push_back("-r");
    if (!broker.caFile().empty()) {
        argv.push_back("--cafile");
        argv.push_back(broker.caFile());
    }
    return runProgram(argv, 10000).exitCode == 0;
}
