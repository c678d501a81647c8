#include "config/MqttPublisher.h"

#include "config/CTqk5820ConfigDoc.h"
#include "link/DecimalText.h"
#include "config/SensorTypeTracker.h"
#include "link/ParameterNumbers.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {


// What a unit that was never given a serial number carries; every such unit
// carries the same, so it names none of them.
const char* const kBlankSerial = "CALLKV";

const char* const kDegrees = "\xc2\xb0" "C";
const char* const kHomeAssistantStatus = "homeassistant/status";
const char* const kKiloOhms = "k\xce\xa9";

std::string topicSafe(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_')
            out += c;
    }
    return out;
}

std::string jsonString(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// A payload as an error message quotes it: short, and printable.
std::string quoted(const std::string& payload)
{
    std::string shown;
    for (char c : payload.substr(0, 32))
        shown += std::isprint(static_cast<unsigned char>(c)) ? c : '?';
    return "\"" + shown + (payload.size() > 32 ? "...\"" : "\"");
}

std::string unitNumber(int unit)
{
    char number[16];
    std::snprintf(number, sizeof number, "%02d", unit);
    return number;
}

// An id told apart from another unit's that is the same.
std::string distinctId(const std::string& id, const std::string& line, int unit)
{
    return id + "-" + topicSafe(line) + "-" + unitNumber(unit);
}

} // namespace

std::string MqttNotices::Claim(const void* who, const std::string& id, const std::string& line, int unit)
{
    auto mine = std::find_if(claims_.begin(), claims_.end(), [&](const Claimed& c) { return c.who == who; });
    if (mine == claims_.end())
        mine = claims_.insert(claims_.end(), Claimed {who, id, line, unit});
    else
        *mine = Claimed {who, id, line, unit};
    // Two windows on the same unit are one controller, not a clash.
    const auto other = std::find_if(claims_.begin(), claims_.end(), [&](const Claimed& c) {
        return c.who != who && c.id == id && (c.line != line || c.unit != unit);
    });
    if (other == claims_.end())
        return id;
    const std::string apart = distinctId(id, line, unit);
    if (std::find(clashesTold_.begin(), clashesTold_.end(), id) == clashesTold_.end()) {
        clashesTold_.push_back(id);
        say_(other->line + " unit " + std::to_string(other->unit) + " and " + line + " unit "
             + std::to_string(unit) + " both go by tessol/" + id + "; published as tessol/"
             + distinctId(id, other->line, other->unit) + " and tessol/" + apart);
    }
    return apart;
}

void MqttNotices::Release(const void* who)
{
    claims_.erase(std::remove_if(claims_.begin(), claims_.end(), [&](const Claimed& c) { return c.who == who; }),
                  claims_.end());
}

std::string MqttNotices::RefusedText(const MqttAddress& broker, const std::string& reason)
{
    return "MQTT broker " + broker.name() + " refused the login: " + reason;
}

void MqttNotices::Take(const MqttAddress& broker, const MqttEvent& event)
{
    const std::string name = "MQTT broker " + broker.name();
    switch (event.kind) {
    case MqttEvent::kConnected:
        if (told_ == Told::kNothing)
            say_("Publishing readings to " + name);
        else if (told_ != Told::kPublishing)
            say_(name + " is back; publishing again");
        told_ = Told::kPublishing;
        break;
    case MqttEvent::kRefused:
        if (told_ != Told::kRefused)
            say_(RefusedText(broker, event.reason));
        told_ = Told::kRefused;
        break;
    case MqttEvent::kUnreachable:
        if (told_ == Told::kNothing) {
            say_(name + " cannot be reached (" + event.reason + "); trying again");
            told_ = Told::kAway;
        }
        break;
    case MqttEvent::kLost:
        if (told_ != Told::kAway && told_ != Told::kRefused)
            say_(name + " went away (" + event.reason + "); trying again");
        if (told_ != Told::kRefused)
            told_ = Told::kAway;
        break;
    }
}

MqttPublisher::MqttPublisher(CTqk5820ConfigDoc& doc, const MqttSetup& setup, MqttNotices& notices,
                             const std::string& line)
    : doc_(doc)
    , setup_(setup)
    , notices_(notices)
    , line_(line)
{
}

MqttPublisher::~MqttPublisher()
{
    Disconnect();
    notices_.Release(this);
}

std::string MqttPublisher::MakeId(const std::string& serial, const std::string& host, const std::string& line,
                                  int unit)
{
    const std::string given = protocol::trimmed(serial);
    std::string id = given == kBlankSerial ? std::string() : topicSafe(given);
    if (!id.empty())
        return id;
    return topicSafe(host) + "-" + topicSafe(line) + "-" + unitNumber(unit);
}

std::string MqttPublisher::MetaJson(int unit, const std::string& line, const std::string& serial,
                                    const std::string& firmware, const std::string& host)
{
    return "{\"unit\":" + std::to_string(unit) + ",\"line\":" + jsonString(line) + ",\"serial\":"
        + jsonString(serial) + ",\"firmware\":" + jsonString(firmware) + ",\"host\":" + jsonString(host) + "}";
}

std::string MqttPublisher::DiscoveryTopic(const std::string& id, const std::string& reading)
{
    return std::string("homeassistant/") + (reading == "output" ? "binary_sensor" : "sensor") + "/tessol_" + id + "/"
        + reading + "/config";
}

std::string MqttPublisher::DiscoveryJson(const std::string& id, const std::string& reading, bool resistance,
                                         const std::string& serial, const std::string& firmware)
{
    struct Kind {
        const char* reading;
        const char* name;
        const char* deviceClass;   // null: none (Home Assistant has none for resistance)
        const char* unit;
    };
    const Kind kinds[] = {
        {"actual", "Actual", resistance ? nullptr : "temperature", resistance ? kKiloOhms : kDegrees},
        {"setpoint", "Set point", resistance ? nullptr : "temperature", resistance ? kKiloOhms : kDegrees},
        {"te_current", "TE current", "current", "A"},
        {"te_voltage", "TE voltage", "voltage", "V"},
        {"output", "Output", "power", nullptr},
    };
    const Kind* kind = std::find_if(std::begin(kinds), std::end(kinds),
                                    [&](const Kind& k) { return reading == k.reading; });
    if (kind == std::end(kinds))
        return std::string();
    const std::string base = "tessol/" + id + "/";
    std::string json = "{\"name\":" + jsonString(kind->name) + ",\"unique_id\":" + jsonString("tessol_" + id + "_" + reading)
        + ",\"state_topic\":" + jsonString(base + reading);
    if (kind->deviceClass != nullptr)
        json += ",\"device_class\":" + jsonString(kind->deviceClass);
    if (kind->unit != nullptr)
        json += ",\"unit_of_measurement\":" + jsonString(kind->unit) + ",\"state_class\":\"measurement\"";
    else
        json += ",\"payload_on\":\"on\",\"payload_off\":\"off\"";
    json += ",\"availability_topic\":" + jsonString(base + "online")
        + ",\"payload_available\":\"true\",\"payload_not_available\":\"false\"";
    const std::string given = protocol::trimmed(serial);
    json += ",\"device\":{\"identifiers\":[" + jsonString("tessol_" + id) + "],\"name\":"
        + jsonString("TQK-5820 " + (given.empty() || given == kBlankSerial ? id : given))
        + ",\"model\":\"TQK-5820\",\"sw_version\":" + jsonString(firmware) + "}}";
    return json;
}

std::string MqttPublisher::LineName() const
{
    return line_.empty() ? "COM" + std::to_string(port_ + 1) : line_;
}

std::string MqttPublisher::Topic(const std::string& leaf) const
{
    return "tessol/" + id_ + "/" + leaf;
}

int MqttPublisher::Socket() const
{
    return client_ ? client_->Socket() : -1;
}

bool MqttPublisher::WantsWrite() const
{
    return client_ && client_->WantsWrite();
}

bool MqttPublisher::IsConnected() const
{
    return client_ && client_->IsConnected();
}

void MqttPublisher::FollowDocument()
{
    if (doc_.GetPortIndex() != port_ || doc_.GetUnitNumber() != unit_) {
        // Another controller: the one published so far goes offline.
        Disconnect();
        notices_.Release(this);
        baseId_.clear();
        id_.clear();
        pending_.clear();
        // The last unit's changes are not the new one's.
        waitingEvents_.clear();
        port_ = doc_.GetPortIndex();
        unit_ = doc_.GetUnitNumber();
        haveSerial_ = haveFirmware_ = false;
        meta_.clear();
    }
    online_ = doc_.IsOnline();
    // A serial number written (or read afresh) that is not the one known:
    // read it again, and the id follows.
    const std::string& cached = doc_.ValueText(pn::kSerialNumber);
    if (online_ && haveSerial_ && cached.size() == protocol::kDataLength && protocol::trimmed(cached) != serial_) {
        haveSerial_ = false;
        doc_.RequestRead(pn::kSerialNumber);
    }
    if (!online_) {
        // Whoever answers next may be another instrument: asked again then.
        haveSerial_ = haveFirmware_ = false;
        pending_.clear();
    } else if (!haveSerial_ || !haveFirmware_) {
        std::string text;
        if (!haveSerial_ && doc_.ReadSerialNumber(text)) {
            serial_ = protocol::trimmed(text);
            haveSerial_ = true;
        }
        if (!haveFirmware_ && doc_.ReadFirmwareVersion(text)) {
            char version[32];
            std::snprintf(version, sizeof version, "%.1f", protocol::textToDouble(text));
            firmware_ = version;
            haveFirmware_ = true;
        }
        if (!haveSerial_ || !haveFirmware_)
            return;
        // Who answers is known (again): the id and the meta data follow.
        meta_ = MetaJson(unit_, LineName(), serial_, firmware_, setup_.host);
        baseId_ = MakeId(serial_, setup_.host, LineName(), unit_);
    }
    if (baseId_.empty())
        return;
    // Checked on every step: another window may have come, or gone, with
    // the same id.
    const std::string id = notices_.Claim(this, baseId_, LineName(), unit_);
    if (id != id_) {
        if (client_ && client_->IsConnected()) {
            // The old id's alarms are not the new unit's.
            if (!alarmsSent_.empty())
                client_->Publish(Topic("alarm"), "{\"alarms\":[]}", true);
            // Its device is gone from Home Assistant.
            if (discoverySent_ >= 0) {
                for (const char* reading : kReadings)
                    client_->Publish(DiscoveryTopic(id_, reading), "", true);
            }
        }
        Disconnect();
        id_ = id;
    }
    if (!client_ && online_)
        Connect();
}

void MqttPublisher::Connect()
{
    MqttClient::Options options;
    options.address = setup_.address;
    options.caFile = setup_.caFile;
    options.login = setup_.login;
    options.willTopic = Topic("online");
    options.willPayload = "false";
    client_ = std::make_unique<MqttClient>(options, doc_.GetClock());
    onlineSent_ = -1;
    metaSent_.clear();
    alarmsSent_.clear();
    programSent_.clear();
    discoverySent_ = -1;
}

void MqttPublisher::Disconnect()
{
    if (!client_)
        return;
    if (client_->IsConnected())
        client_->Publish(Topic("online"), "false", true);
    client_.reset();
    onlineSent_ = -1;
    metaSent_.clear();
}

void MqttPublisher::Announce()
{
    // A broker that restarted has forgotten the retained topics and the
    // subscription.
    onlineSent_ = -1;
    metaSent_.clear();
    alarmsSent_.clear();
    programSent_.clear();
    discoverySent_ = -1;
    toldRetainedSetPoint_ = toldRetainedOutput_ = toldRetainedOther_ = false;
    if (setup_.control)
        client_->Subscribe(Topic("+/set"));
    // Home Assistant says online when it (re)starts: everything again then.
    if (setup_.discovery)
        client_->Subscribe(kHomeAssistantStatus);
}

void MqttPublisher::SendDiscovery()
{
    const int type = doc_.GetSensorType();
    if (!setup_.discovery || meta_.empty() || type == SensorTypeTracker::kNoType)
        return;
    const int mode = SensorTypeTracker::IsResistanceMode(type) ? 1 : 0;
    if (mode == discoverySent_)
        return;
    for (const char* reading : kReadings) {
        if (!client_->Publish(DiscoveryTopic(id_, reading), DiscoveryJson(id_, reading, mode == 1, serial_, firmware_),
                              true))
            return;
    }
    discoverySent_ = mode;
}

void MqttPublisher::SendState()
{
    const int online = online_ ? 1 : 0;
    if (online != onlineSent_ && client_->Publish(Topic("online"), online_ ? "true" : "false", true))
        onlineSent_ = online;
    if (!meta_.empty() && meta_ != metaSent_ && client_->Publish(Topic("meta"), meta_, true))
        metaSent_ = meta_;
    if (alarms_ != alarmsSent_ && client_->Publish(Topic("alarm"), alarms_, true))
        alarmsSent_ = alarms_;
    if (program_ != programSent_ && client_->Publish(Topic("program"), program_, true))
        programSent_ = program_;
    // After the active list, which they led to.
    while (!waitingEvents_.empty() && alarmsSent_ == alarms_
           && client_->Publish(Topic("alarm/event"), waitingEvents_.front(), false))
        waitingEvents_.erase(waitingEvents_.begin());
    SendDiscovery();
}

void MqttPublisher::SetAlarms(const std::string& json)
{
    alarms_ = json;
}

void MqttPublisher::SetProgram(const std::string& json)
{
    program_ = json;
}

void MqttPublisher::PublishAlarmEvent(const std::string& json)
{
    if (IsConnected() && waitingEvents_.empty() && client_->Publish(Topic("alarm/event"), json, false))
        return;
    waitingEvents_.push_back(json);
    if (waitingEvents_.size() > kMaxWaitingEvents)
        waitingEvents_.erase(waitingEvents_.begin());
}

void MqttPublisher::Step(bool readable)
{
    FollowDocument();
    if (!KeepAlive(readable))
        return;
    for (const MqttMessage& message : client_->TakeMessages()) {
        if (message.topic == kHomeAssistantStatus) {
            if (message.payload == "online")
                discoverySent_ = -1;
            SendDiscovery();
        } else if (setup_.control) {
            TakeControl(message);
        }
    }
    WritePending();
}

bool MqttPublisher::KeepAlive(bool readable)
{
    if (!client_)
        return false;
    client_->Service(readable);
    for (const MqttEvent& event : client_->TakeEvents()) {
        notices_.Take(setup_.address, event);
        if (event.kind == MqttEvent::kConnected)
            Announce();
    }
    if (!client_->IsConnected())
        return false;
    SendState();
    return true;
}

void MqttPublisher::Publish(const csvlog::Row& row, bool resistance)
{
    if (!IsConnected())
        return;
    bool any = false;
    const auto put = [&](const char* leaf, const std::string& text) {
        if (text.empty() || text == csvlog::kNoReading || text == csvlog::kNoOutput)
            return;
        client_->Publish(Topic(leaf), text, false);
        any = true;
    };
    put("actual", row.actual);
    put("setpoint", row.setPoint);
    put("te_current", row.current);
    put("te_voltage", row.voltage);
    put("output", row.output);
    if (!any)
        return;
    // Retained: whoever subscribes later knows what the numbers are in.
    client_->Publish(Topic("unit"), resistance ? kKiloOhms : kDegrees, true);
    // Every reading of the second in one message, as numbers with their
    // unit and the time the instrument gave the actual value (the second's
    // start when that is not known), for dashboards that keep it.
    const std::int64_t readAt = doc_.ReadAt(pn::actual(resistance));
    const std::int64_t time = readAt >= row.utcMillis && readAt < row.utcMillis + 1000 ? readAt : row.utcMillis;
    std::string state = "{\"time\":" + std::to_string(time) + ",\"unit\":\""
        + (resistance ? kKiloOhms : kDegrees) + "\"";
    const auto number = [&](const char* key, const std::string& text) {
        if (!text.empty() && text != csvlog::kNoReading)
            state += ",\"" + std::string(key) + "\":" + text;
    };
    number("actual", row.actual);
    number("setpoint", row.setPoint);
    number("te_current", row.current);
    number("te_voltage", row.voltage);
    if (row.output == "on" || row.output == "off")
        state += ",\"output\":" + std::string(row.output == "on" ? "true" : "false");
    // Each number's unit by name, for consumers that do not know which
    // readings "unit" covers.
    const std::string unit = resistance ? kKiloOhms : kDegrees;
    state += ",\"units\":{\"actual\":\"" + unit + "\",\"setpoint\":\"" + unit
        + "\",\"te_current\":\"A\",\"te_voltage\":\"V\"}";
    client_->Publish(Topic("state"), state + "}", false);
}

void MqttPublisher::Refuse(const std::string& what)
{
    client_->Publish(Topic("error"), what, false);
}

void MqttPublisher::TakeControl(const MqttMessage& message)
{
    const std::string prefix = Topic("");
    if (message.topic.compare(0, prefix.size(), prefix) != 0)
        return;
    const std::string leaf = message.topic.substr(prefix.size());
    // Clearing a retained command publishes an empty one; no command is
    // empty.
    if (message.payload.empty())
        return;
    if (message.retained) {
        // Left on the broker by someone, perhaps long ago: carried out it
        // would switch the output or move the set point at every start and
        // reconnection.
        bool& told = leaf == "setpoint/set" ? toldRetainedSetPoint_
            : leaf == "output/set"          ? toldRetainedOutput_
                                            : toldRetainedOther_;
        if (!told)
            Refuse(leaf + " " + quoted(message.payload) + ": retained on the broker, not carried out");
        told = true;
        return;
    }
    const std::string value = protocol::trimmed(message.payload, " \t\r\n");
    Pending entry;
    if (leaf == "setpoint/set") {
        double number = 0.0;
        std::string problem;
        if (!readDecimal(message.payload, number, problem))
            return Refuse("setpoint/set: " + problem);
        const int type = doc_.GetSensorType();
        if (!doc_.IsOnline())
            return Refuse("setpoint/set " + value + ": the controller does not answer");
        if (type == SensorTypeTracker::kNoType)
            return Refuse("setpoint/set " + value + ": the sensor type is not known yet");
        const bool resistance = SensorTypeTracker::IsResistanceMode(type);
        const std::uint8_t row = ParameterTable::setPointRow(resistance);
        const auto v = static_cast<float>(number);
        problem = outsideRange(row, number, resistance ? kKiloOhms : kDegrees);
        if (!problem.empty())
            return Refuse("setpoint/set " + value + ": " + problem);
        entry.parameter = pn::setPoint(resistance);
        entry.number = true;
        entry.value = v;
    } else if (leaf == "output/set") {
        // In any case: dashboards' switches send ON and OFF.
        std::string word = value;
        for (char& c : word)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (word != "on" && word != "off")
            return Refuse("output/set " + quoted(message.payload) + ": on or off");
        if (!doc_.IsOnline())
            return Refuse("output/set " + value + ": the controller does not answer");
        entry.parameter = pn::kOutputState;
        entry.text = word == "on" ? protocol::kOutputOnWord : protocol::kOutputOffWord;
    } else {
        return Refuse(leaf + ": unknown topic; setpoint/set and output/set are taken");
    }
    // The newest value for a parameter replaces one that still waits.
    pending_.erase(std::remove_if(pending_.begin(), pending_.end(),
                                  [&](const Pending& p) { return p.parameter == entry.parameter; }),
                   pending_.end());
    pending_.push_back(entry);
}

void MqttPublisher::WritePending()
{
    for (auto it = pending_.begin(); it != pending_.end();) {
        const bool taken = it->number ? doc_.CommitNumber(it->parameter, it->value)
                                      : doc_.CommitText(it->parameter, it->text);
        if (!taken) {
            ++it;
            continue;
        }
        const int parameter = it->parameter;
        it = pending_.erase(it);
        if (written_)
            written_(parameter);
    }
}
