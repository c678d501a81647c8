#include "platform/MqttClient.h"

#include "platform/Clock.h"
#include "platform/Profile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mosquitto.h>
#include <netdb.h>
#include <pthread.h>
#include <unistd.h>

namespace {

bool numericHost(const std::string& host)
{
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 || ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The broker's answer to a refused login, as MQTT 3.1.1 numbers it.
std::string refusal(int code)
{
    switch (code) {
    case 1: return "unacceptable protocol version";
    case 2: return "client identifier rejected";
    case 3: return "broker unavailable";
    case 4: return "bad user name or password";
    case 5: return "not authorised";
    default: return "refusal " + std::to_string(code);
    }
}

std::string failure(int rc, int osError)
{
    switch (rc) {
    case MOSQ_ERR_ERRNO: return osError != 0 ? std::strerror(osError) : "connection failed";
    case MOSQ_ERR_CONN_LOST: return "connection lost";
    case MOSQ_ERR_KEEPALIVE: return "no answer to keep-alive";
    case MOSQ_ERR_TLS: return "TLS handshake failed";
    case MOSQ_ERR_EAI: return "unknown host";
    case MOSQ_ERR_NO_CONN: return "not connected";
    default: return mosquitto_strerror(rc);
    }
}

// Writes to a TLS connection whose broker has gone raise SIGPIPE, which
// would end the program; for the length of a library call it is blocked
// and, if it came, taken off again.
class PipeSignalGuard {
public:
    explicit PipeSignalGuard(bool active) : active_(active)
    {
        if (!active_)
            return;
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe, &old_);
    }
    ~PipeSignalGuard()
    {
        if (!active_)
            return;
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            const timespec none {0, 0};
            sigtimedwait(&pipe, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    PipeSignalGuard(const PipeSignalGuard&) = delete;
    PipeSignalGuard& operator=(const PipeSignalGuard&) = delete;

private:
    bool active_;
    bool wasPending_ = false;
    sigset_t old_ {};
};

} // namespace

// An asynchronous lookup of the broker's name. The request must stay where
// it is until the system is done with it.
struct MqttClient::Lookup {
    std::string host;
    addrinfo hints {};
    gaicb request {};
    gaicb* list[1] = {&request};

    explicit Lookup(const std::string& name) : host(name)
    {
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        request.ar_name = host.c_str();
        request.ar_request = &hints;
    }
    bool start() { return ::getaddrinfo_a(GAI_NOWAIT, list, 1, nullptr) == 0; }
    // EAI_INPROGRESS while under way, 0 when found.
    int state() { return ::gai_error(&request); }
    // What was found, as numbers ("192.0.2.7", "fe80::1%eth0"), in the
    // system's order of preference.
    std::vector<std::string> addresses() const
    {
        std::vector<std::string> out;
        for (const addrinfo* a = request.ar_result; a != nullptr; a = a->ai_next) {
            char text[NI_MAXHOST];
            if (::getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
                continue;
            if (std::find(out.begin(), out.end(), text) == out.end())
                out.emplace_back(text);
        }
        return out;
    }
    ~Lookup()
    {
        if (request.ar_result != nullptr)
            ::freeaddrinfo(request.ar_result);
    }
};

// What the library's callbacks report, gathered for the step that made the
// call; nothing is acted on inside a callback.
struct MqttCallbacks {
    static MqttClient& of(void* user) { return *static_cast<MqttClient*>(user); }

    static void connected(mosquitto*, void* user, int rc)
    {
        MqttClient& c = of(user);
        if (rc == 0) {
            c.state_ = MqttClient::State::kConnected;
            c.everConnected_ = true;
            c.pauseMs_ = 0;
            c.events_.push_back({MqttEvent::kConnected, std::string()});
        } else {
            c.refusedCode_ = rc;
        }
    }
    static void disconnected(mosquitto*, void* user, int rc)
    {
        MqttClient& c = of(user);
        c.disconnectRc_ = rc == 0 ? MOSQ_ERR_CONN_LOST : rc;
        c.disconnectErrno_ = errno;
    }
    static void published(mosquitto*, void* user, int)
    {
        MqttClient& c = of(user);
        if (c.queued_ > 0)
            --c.queued_;
    }
    static void message(mosquitto*, void* user, const mosquitto_message* m)
    {
        MqttClient& c = of(user);
        if (m->topic == nullptr)
            return;
        // The oldest goes: of an "on" and a later "off" the "off" must stay.
        if (c.received_.size() >= static_cast<std::size_t>(MqttClient::kMaxReceived))
            c.received_.erase(c.received_.begin());
        MqttMessage copy;
        copy.topic = m->topic;
        if (m->payload != nullptr && m->payloadlen > 0)
            copy.payload.assign(static_cast<const char*>(m->payload), static_cast<std::size_t>(m->payloadlen));
        copy.retained = m->retain;
        c.received_.push_back(std::move(copy));
    }
};

std::string MqttClient::Unavailable()
{
    return {};
}

MqttClient::MqttClient(const Options& options, const Clock& clock)
    : options_(options)
    , clock_(clock)
{
    static const bool initialised = [] {
        mosquitto_lib_init();
        return true;
    }();
    (void)initialised;
    StartAttempt();
}

MqttClient::~MqttClient()
{
    if (mosq_ != nullptr) {
        PipeSignalGuard guard(options_.address.tls);
        if (state_ == State::kConnected) {
            // What waits goes out before the goodbye, as far as the socket
            // takes it now.
            if (mosquitto_want_write(mosq_))
                mosquitto_loop_write(mosq_, 1);
            mosquitto_disconnect(mosq_);
            if (mosquitto_want_write(mosq_))
                mosquitto_loop_write(mosq_, 1);
        }
    }
    Drop();
    // A lookup the system is still working on cannot be freed under it.
    if (lookup_ && ::gai_cancel(&lookup_->request) == EAI_NOTCANCELED)
        static_cast<void>(lookup_.release());
}

void MqttClient::StartAttempt()
{
    attemptAt_ = clock_.utcMillis();
    addresses_.clear();
    addressAt_ = 0;
    if (numericHost(options_.address.host)) {
        BeginConnect(options_.address.host);
        return;
    }
    lookup_ = std::make_unique<Lookup>(options_.address.host);
    if (!lookup_->start()) {
        lookup_.reset();
        Fail(MqttEvent::kUnreachable, "cannot look up " + options_.address.host, 0);
        return;
    }
    state_ = State::kLookingUp;
}

bool MqttClient::NextAddress()
{
    if (addressAt_ + 1 >= addresses_.size())
        return false;
    ++addressAt_;
    BeginConnect(addresses_[addressAt_]);
    return true;
}

void MqttClient::BeginConnect(const std::string& host)
{
    Drop();
    queued_ = 0;
    refusedCode_ = 0;
    disconnectRc_ = 0;
    mosq_ = mosquitto_new(options_.clientId.empty() ? nullptr : options_.clientId.c_str(), true, this);
    if (mosq_ == nullptr) {
        Fail(MqttEvent::kUnreachable, "out of memory", 0);
        return;
    }
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq_, &MqttCallbacks::connected);
    mosquitto_disconnect_callback_set(mosq_, &MqttCallbacks::disconnected);
    mosquitto_publish_callback_set(mosq_, &MqttCallbacks::published);
    mosquitto_message_callback_set(mosq_, &MqttCallbacks::message);
    if (!options_.login.username.empty() || !options_.login.password.empty())
        mosquitto_username_pw_set(mosq_, options_.login.username.c_str(),
                                  options_.login.password.empty() ? nullptr : options_.login.password.c_str());
    if (!options_.willTopic.empty())
        mosquitto_will_set(mosq_, options_.willTopic.c_str(), static_cast<int>(options_.willPayload.size()),
                           options_.willPayload.data(), 1, true);
    if (options_.address.tls) {
        const int rc = options_.caFile.empty()
            ? mosquitto_int_option(mosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
            : mosquitto_tls_set(mosq_, options_.caFile.c_str(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            Fail(MqttEvent::kUnreachable, "cannot use the certificates " + options_.caFile, kLongestPauseMs);
            return;
        }
    }
    PipeSignalGuard guard(options_.address.tls);
    errno = 0;
    const int rc = mosquitto_connect_async(mosq_, host.c_str(), options_.address.port, kKeepAliveSeconds);
    const int osError = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        if (NextAddress())
            return;
        Fail(MqttEvent::kUnreachable, failure(rc, osError), 0);
        return;
    }
    state_ = State::kConnecting;
    lastReadAt_ = clock_.utcMillis();
}

void MqttClient::Fail(MqttEvent::Kind kind, const std::string& reason, int pauseMs)
{
    Drop();
    lookup_.reset();
    events_.push_back({kind, reason});
    if (pauseMs > 0)
        pauseMs_ = pauseMs;
    else
        pauseMs_ = pauseMs_ == 0 ? kFirstPauseMs : std::min(2 * pauseMs_, kLongestPauseMs);
    state_ = State::kWaiting;
    retryAt_ = clock_.utcMillis() + pauseMs_;
}

void MqttClient::Drop()
{
    if (mosq_ != nullptr) {
        mosquitto_destroy(mosq_);
        mosq_ = nullptr;
    }
    queued_ = 0;
}

void MqttClient::Service(bool readable)
{
    const std::int64_t now = clock_.utcMillis();
    switch (state_) {
    case State::kWaiting:
        if (now >= retryAt_ || retryAt_ - now > kLongestPauseMs)
            StartAttempt();
        return;
    case State::kLookingUp: {
        const int found = lookup_->state();
        if (found == EAI_INPROGRESS) {
            if (now - attemptAt_ > kConnectTimeoutMs) {
                if (::gai_cancel(&lookup_->request) == EAI_NOTCANCELED)
                    static_cast<void>(lookup_.release());
                Fail(MqttEvent::kUnreachable, "no answer when looking up " + options_.address.host, 0);
            }
            return;
        }
        if (found == 0 && !options_.address.tls)
            addresses_ = lookup_->addresses();
        lookup_.reset();
        if (found != 0 || (!options_.address.tls && addresses_.empty())) {
            Fail(MqttEvent::kUnreachable, "unknown host", 0);
            return;
        }
        // TLS checks the broker's certificate against the name the library
        // is given, so it gets the name and looks it up once more.
        BeginConnect(options_.address.tls ? options_.address.host : addresses_.front());
        return;
    }
    case State::kConnecting:
    case State::kConnected:
        break;
    }

    const bool wasConnected = state_ == State::kConnected;
    int rc = MOSQ_ERR_SUCCESS;
    int osError = 0;
    {
        PipeSignalGuard guard(options_.address.tls);
        if (readable || now - lastReadAt_ >= 1000) {
            lastReadAt_ = now;
            errno = 0;
            rc = mosquitto_loop_read(mosq_, 1);
            osError = errno;
        }
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0 && mosquitto_want_write(mosq_)) {
            errno = 0;
            rc = mosquitto_loop_write(mosq_, 1);
            osError = errno;
        }
        if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(mosq_) >= 0)
            rc = mosquitto_loop_misc(mosq_);
    }
    if (refusedCode_ != 0) {
        Fail(MqttEvent::kRefused, refusal(refusedCode_), kLongestPauseMs);
        return;
    }
    const bool ended = rc != MOSQ_ERR_SUCCESS || disconnectRc_ != 0 || mosquitto_socket(mosq_) < 0;
    // An address that takes no connection: the next one the name has.
    if (ended && !wasConnected && state_ == State::kConnecting && NextAddress())
        return;
    if (ended) {
        const int why = disconnectRc_ != 0 ? disconnectRc_ : rc;
        const int err = disconnectRc_ != 0 && disconnectErrno_ != 0 ? disconnectErrno_ : osError;
        // A connection that was up starts again after the shortest pause.
        if (wasConnected || state_ == State::kConnected)
            pauseMs_ = 0;
        Fail(wasConnected || state_ == State::kConnected ? MqttEvent::kLost : MqttEvent::kUnreachable,
             failure(why, err), 0);
        return;
    }
    if (state_ == State::kConnecting && now - attemptAt_ > kConnectTimeoutMs)
        Fail(MqttEvent::kUnreachable, "no answer within 10 s", 0);
}

int MqttClient::Socket() const
{
    if (mosq_ == nullptr || (state_ != State::kConnecting && state_ != State::kConnected))
        return -1;
    return mosquitto_socket(mosq_);
}

bool MqttClient::WantsWrite() const
{
    return Socket() >= 0 && mosquitto_want_write(mosq_);
}

bool MqttClient::Publish(const std::string& topic, const std::string& payload, bool retain)
{
    if (state_ != State::kConnected || queued_ >= kMaxQueued)
        return false;
    // Counted first: the library may write it, and say so, before it returns.
    ++queued_;
    PipeSignalGuard guard(options_.address.tls);
    const int rc = mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                                     payload.data(), 0, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        if (queued_ > 0)
            --queued_;
        return false;
    }
    return true;
}

bool MqttClient::Subscribe(const std::string& pattern)
{
    if (state_ != State::kConnected)
        return false;
    PipeSignalGuard guard(options_.address.tls);
    return mosquitto_subscribe(mosq_, nullptr, pattern.c_str(), 0) == MOSQ_ERR_SUCCESS;
}

std::vector<MqttMessage> MqttClient::TakeMessages()
{
    std::vector<MqttMessage> out;
    out.swap(received_);
    return out;
}

std::vector<MqttEvent> MqttClient::TakeEvents()
{
    std::vector<MqttEvent> out;
    out.swap(events_);
    return out;
}
