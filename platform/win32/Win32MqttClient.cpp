#include "platform/MqttClient.h"

// The Windows build has no MQTT library: a client says so once and never
// connects, and the instruments go on as without a broker.

struct MqttClient::Lookup {};

std::string MqttClient::Unavailable()
{
    return "this build of the program has no MQTT client";
}

MqttClient::MqttClient(const Options& options, const Clock& clock)
    : options_(options)
    , clock_(clock)
{
    events_.push_back({MqttEvent::kUnreachable, Unavailable()});
}

MqttClient::~MqttClient() = default;

void MqttClient::Service(bool) {}

int MqttClient::Socket() const
{
    return -1;
}

bool MqttClient::WantsWrite() const
{
    return false;
}

bool MqttClient::Publish(const std::string&, const std::string&, bool)
{
    return false;
}

bool MqttClient::Subscribe(const std::string&)
{
    return false;
}

std::vector<MqttMessage> MqttClient::TakeMessages()
{
    return {};
}

std::vector<MqttEvent> MqttClient::TakeEvents()
{
    std::vector<MqttEvent> out;
    out.swap(events_);
    return out;
}
