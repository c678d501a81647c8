#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Clock;
class Profile;

// Where a broker is: mqtt://HOST[:PORT] (port 1883 by default) or
// mqtts://HOST[:PORT] (TLS, port 8883 by default). HOST is a name, an IPv4
// address or an IPv6 address in brackets.
struct MqttAddress {
    bool tls = false;
    std::string host;   // without brackets
    int port = 0;

    // "127.0.0.1:1883", "[::1]:8883": how messages name the broker.
    std::string name() const;
};

// False with `error` set for anything else: another scheme, a user name or
// password in the URL (they would show in the process list), a path, or a
// port outside 1 to 65535.
bool parseMqttUrl(const std::string& url, MqttAddress& address, std::string& error);

// The user name and password for the broker: TESSOL_MQTT_USERNAME and
// TESSOL_MQTT_PASSWORD from the environment, each where set, else the
// settings keys sUserName and sPassword of section MQTT (none when
// `profile` is null). Both empty: no login.
struct MqttLogin {
    std::string username;
    std::string password;
};
MqttLogin mqttLogin(const Profile* profile);
inline constexpr const char* kMqttProfileSection = "MQTT";

// This computer's name (gethostname), "localhost" when it has none.
std::string hostName();

struct MqttMessage {
    std::string topic;
    std::string payload;
    // Kept by the broker and handed over because of a new subscription (at
    // every connection), not sent just now.
    bool retained = false;
};

// What happened to the connection, for the owner to tell the user.
struct MqttEvent {
    enum Kind {
        kConnected,     // the broker accepted the login
        kRefused,       // the broker refused the login (reason: "not authorised")
        kUnreachable,   // no connection came about (reason: "Connection refused")
        kLost,          // an accepted connection ended (reason)
    };
    Kind kind;
    std::string reason;
};

// One connection to an MQTT broker through libmosquitto, driven by its
// owner's event loop: no thread of its own, and no call here waits for the
// network. The owner waits on Socket() (for reading, and for writing while
// WantsWrite()) and calls Service() on every pass.
//
// The client connects by itself: at once when started, then after a pause
// that grows from 1 s to 30 s while the broker cannot be reached or drops the
// connection, and every 30 s after a refused login. A host name is looked up
// without waiting (the system's asynchronous lookup) and, for mqtt://, the
// addresses found are connected to in turn, so the library never looks the
// name up again (it would wait for the network); for mqtts:// the library is
// given the name, which it checks the broker's certificate against, and looks
// it up again itself. A connection that is not accepted within 10 s is given
// up and tried again. Messages go out at
// QoS 0; while the broker is away nothing is kept, and at most kMaxQueued
// messages wait for a slow broker, so memory stays bounded whatever the
// broker does.
class MqttClient {
public:
    static constexpr int kMaxQueued = 512;
    static constexpr int kMaxReceived = 64;
    static constexpr int kFirstPauseMs = 1000;
    static constexpr int kLongestPauseMs = 30000;
    static constexpr int kConnectTimeoutMs = 10000;
    static constexpr int kKeepAliveSeconds = 30;

    struct Options {
        MqttAddress address;
        // TLS only: the certificate authorities to trust; empty, the
        // system's certificates.
        std::string caFile;
        MqttLogin login;
        std::string clientId;
        // Published by the broker (retained) when the connection ends
        // without a clean disconnect; none when the topic is empty.
        std::string willTopic;
        std::string willPayload;
    };

    // Empty when this build can reach a broker; otherwise why it cannot
    // ("this build of the program has no MQTT client"), for a caller that
    // should refuse a broker at once rather than try one for ever.
    static std::string Unavailable();

    // `clock` times the pauses and time-outs; it must outlive the client.
    MqttClient(const Options& options, const Clock& clock);
    // A clean disconnect (the broker keeps the will to itself).
    ~MqttClient();
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // One step, never blocking: reads what the broker sent (when `readable`,
    // and at least once a second in any case), writes what waits, keeps the
    // connection alive, gives up a connection that does not come about, and
    // connects again when the pause is over.
    void Service(bool readable);
    // The descriptor to wait on, or -1 while there is no connection.
    int Socket() const;
    bool WantsWrite() const;
    bool IsConnected() const { return state_ == State::kConnected; }

    // Queued for sending; false (nothing queued) while not connected or
    // while kMaxQueued messages still wait to go out.
    bool Publish(const std::string& topic, const std::string& payload, bool retain);
    bool Subscribe(const std::string& pattern);
    // Messages that arrived on subscribed topics, oldest first; at most the
    // kMaxReceived newest are kept between two calls (a later command
    // outweighs an earlier one).
    std::vector<MqttMessage> TakeMessages();
    // What happened since the last call, oldest first.
    std::vector<MqttEvent> TakeEvents();
    // Messages published but not yet taken by the socket.
    int Queued() const { return queued_; }

private:
    enum class State { kLookingUp, kConnecting, kConnected, kWaiting };

    struct Library;
    struct Lookup;

    void StartAttempt();
    void BeginConnect(const std::string& host);
    // The next address found for the name, after one that could not be
    // reached; false when none is left.
    bool NextAddress();
    void Fail(MqttEvent::Kind kind, const std::string& reason, int pauseMs);
    void Drop();

    Options options_;
    const Clock& clock_;
    struct mosquitto* mosq_ = nullptr;
    std::unique_ptr<Lookup> lookup_;
    // The numeric addresses of the broker's name, and the one tried now.
    std::vector<std::string> addresses_;
    std::size_t addressAt_ = 0;
    State state_ = State::kWaiting;
    bool everConnected_ = false;
    int pauseMs_ = 0;
    std::int64_t attemptAt_ = 0;
    std::int64_t retryAt_ = 0;
    std::int64_t lastReadAt_ = 0;
    int queued_ = 0;
    // Set by the library's callbacks during a step.
    int refusedCode_ = 0;
    int disconnectRc_ = 0;
    int disconnectErrno_ = 0;
    std::vector<MqttMessage> received_;
    std::vector<MqttEvent> events_;

    friend struct MqttCallbacks;
};
