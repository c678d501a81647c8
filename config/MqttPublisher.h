#pragma once

#include "platform/MqttClient.h"
#include "config/ReadingsCsv.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CTqk5820ConfigDoc;

// What publishing to a broker needs besides the controller.
struct MqttSetup {
    MqttAddress address;
    std::string caFile;    // mqtts only; empty: the system's certificates
    MqttLogin login;
    // Whether setpoint/set and output/set are taken; without it no command
    // topic is subscribed.
    bool control = false;
    // Whether Home Assistant is told of every reading (retained discovery
    // configurations, sent again when homeassistant/status says online).
    bool discovery = false;
    std::string host;      // this computer's name
};

// What the publishers of a program share: telling the user how the broker
// is doing, once per change, for all of them together (forty windows that
// lose the broker say so once, not forty times), and keeping their topics
// apart.
class MqttNotices {
public:
    explicit MqttNotices(std::function<void(const std::string&)> say) : say_(std::move(say)) {}
    void Take(const MqttAddress& broker, const MqttEvent& event);

    // The id that publisher `who`, for the unit at `line` and `unit`, goes
    // by: `id` (MakeId's) while no other publisher of the program has the
    // same, else `id` with line and unit appended (SN4711-COM2-07) for every
    // one of them, so that no two share a topic and a .../set drives one
    // unit. The first clash of an id is said once. Held until Release.
    std::string Claim(const void* who, const std::string& id, const std::string& line, int unit);
    void Release(const void* who);

    // "MQTT broker 127.0.0.1:1883 refused the login: not authorised"
    static std::string RefusedText(const MqttAddress& broker, const std::string& reason);

private:
    enum class Told { kNothing, kPublishing, kAway, kRefused };
    struct Claimed {
        const void* who;
        std::string id;
        std::string line;
        int unit;
    };
    std::function<void(const std::string&)> say_;
    Told told_ = Told::kNothing;
    std::vector<Claimed> claims_;
    std::vector<std::string> clashesTold_;
};

// Publishes one controller's readings and state under tessol/<id>/ and,
// with control, takes set points and output switching from the broker.
//
//   tessol/<id>/actual, setpoint, te_current, te_voltage   numbers as text
//   tessol/<id>/output                                      on / off
//   tessol/<id>/unit                                        °C / kΩ
//   tessol/<id>/online   true / false, retained; false by the broker's last
//                        will when the program goes away
//   tessol/<id>/meta     retained JSON: unit, line, serial, firmware, host
//   tessol/<id>/error    why something published to .../set was refused
//   tessol/<id>/state    JSON: every reading of a second as a number, its
//                        unit, and when the instrument gave it
//   tessol/<id>/alarm    retained JSON: the active alarms; .../alarm/event
//                        each change
//   tessol/<id>/program  retained JSON: the set-point program's name, step
//                        and state, at each step and change
//
// With discovery, Home Assistant's configurations go to
// homeassistant/sensor/tessol_<id>/<reading>/config (actual, setpoint,
// te_current, te_voltage) and homeassistant/binary_sensor/tessol_<id>/output/
// config, retained, naming the plain topics, their unit (sent again when the
// sensor type moves between degrees and kOhms) and the online topic for
// availability; one device per instrument, identified by <id>.
//
// <id> is the serial number with everything but letters, digits, - and _
// dropped; a unit without one (or with the blank serial of a unit never
// given one) is <host>-<line>-NN. Units of one program whose ids would be
// the same get -<line>-NN appended (see MqttNotices::Claim).
//
// Only commands published while connected are carried out: one the broker
// kept (retained) and hands over at every connection is ignored, said once
// per connection and topic on the error topic; an empty one (a retained
// command being cleared) says nothing. The connection, with its last will on the
// online topic, is made once the id is known, that is once the unit has
// answered; another unit or line, or another instrument answering in its
// place, ends it (the old id goes offline) and starts another. So does a
// new serial number written to the unit: the serial is read again, and the
// old id goes offline (its discovery configurations removed: that device is
// gone) while the new one announces itself.
//
// It reads nothing of its own on the line beyond the serial number and
// firmware version once per unit (from the document's cache where a panel
// has read them): the readings come from whoever reads them anyway, through
// Publish(). Writes go through the document as a user's entry does.
class MqttPublisher {
public:
    // `line` names the controller's line in the meta data and the id; empty,
    // the document's port ("COM2").
    MqttPublisher(CTqk5820ConfigDoc& doc, const MqttSetup& setup, MqttNotices& notices,
                  const std::string& line = std::string());
    // The controller goes offline on the broker, and the connection ends
    // cleanly.
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // One step of the pass: follows the document (unit, line, online, the
    // instrument's identity), services the connection (`readable`: its
    // socket has bytes), takes what was published to .../set and writes
    // what waits for the document.
    void Step(bool readable = false);
    // The connection's part of a step alone, for a pass that must leave the
    // document alone (its step is under way): what was published to .../set
    // waits for the next Step. True while connected.
    bool KeepAlive(bool readable = false);
    // One interval's readings: each that came (not ???.???) is published,
    // with the unit of actual value and set point.
    void Publish(const csvlog::Row& row, bool resistance);

    // The active alarms as JSON, retained on .../alarm (sent again after a
    // reconnection); and one change, on .../alarm/event. Changes made
    // while not connected (the first alarms of a unit, judged before the
    // broker has taken the login) wait, the newest kMaxWaitingEvents of
    // them, and go out once connected.
    void SetAlarms(const std::string& json);
    void PublishAlarmEvent(const std::string& json);
    // The running program's state as JSON, retained on .../program (sent
    // again after a reconnection).
    void SetProgram(const std::string& json);

    // What to wait on: the broker's socket (-1 for none) and whether it
    // waits to be written.
    int Socket() const;
    bool WantsWrite() const;
    // Empty until the unit has answered.
    const std::string& Id() const { return id_; }
    bool IsConnected() const;
    // Writes from the broker wait for the document: Step() on every pass
    // until they are taken.
    bool HasPending() const { return !pending_.empty(); }
    // After a set point or output state from the broker went to the
    // document, with the parameter number: a window shows it at once.
    void SetWrittenHandler(std::function<void(int parameter)> written) { written_ = std::move(written); }

    // The id rule, before telling apart units of the same id.
    static std::string MakeId(const std::string& serial, const std::string& host, const std::string& line,
                              int unit);
    static std::string MetaJson(int unit, const std::string& line, const std::string& serial,
                                const std::string& firmware, const std::string& host);
    // Home Assistant's configuration of one reading ("actual", "setpoint",
    // "te_current", "te_voltage", "output") of the unit published as `id`,
    // and its topic.
    static std::string DiscoveryTopic(const std::string& id, const std::string& reading);
    static std::string DiscoveryJson(const std::string& id, const std::string& reading, bool resistance,
                                     const std::string& serial, const std::string& firmware);
    static constexpr const char* kReadings[] = {"actual", "setpoint", "te_current", "te_voltage", "output"};

private:
    struct Pending {
        int parameter = 0;
        bool number = false;
        float value = 0.0f;
        std::string text;
    };

    std::string LineName() const;
    std::string Topic(const std::string& leaf) const;
    void FollowDocument();
    void Connect();
    void Disconnect();
    void Announce();
    // The online flag and the meta data, where the broker lacks them.
    void SendState();
    void TakeControl(const MqttMessage& message);
    // The discovery configurations, for the sensor type as it is now.
    void SendDiscovery();
    void Refuse(const std::string& what);
    void WritePending();

    CTqk5820ConfigDoc& doc_;
    MqttSetup setup_;
    MqttNotices& notices_;
    std::string line_;
    std::unique_ptr<MqttClient> client_;
    std::function<void(int)> written_;

    // The controller as last seen, and who answers there.
    int port_ = -1;
    int unit_ = -1;
    bool online_ = false;
    bool haveSerial_ = false;
    bool haveFirmware_ = false;
    std::string serial_;
    std::string firmware_;
    std::string baseId_;   // MakeId's, once the unit is known
    std::string id_;       // the topics' id: baseId_, told apart from others
    std::string meta_;
    // What this connection has published of the retained topics.
    int onlineSent_ = -1;
    std::string metaSent_;
    std::string alarms_ = "{\"alarms\":[]}";
    std::string alarmsSent_;
    std::string program_;
    std::string programSent_;
    static constexpr std::size_t kMaxWaitingEvents = 32;
    std::vector<std::string> waitingEvents_;
    // The mode the discovery configurations went with on this connection:
    // -1 none yet, 0 degrees, 1 kOhms.
    int discoverySent_ = -1;
    // Writes from the broker that the document has not taken yet.
    std::vector<Pending> pending_;
    // The control topics whose retained command this connection has said it
    // ignores.
    bool toldRetainedSetPoint_ = false;
    bool toldRetainedOutput_ = false;
    bool toldRetainedOther_ = false;
};
