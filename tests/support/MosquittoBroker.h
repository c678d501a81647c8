#pragma once

#include <string>
#include <vector>

// A real mosquitto broker for a test: its own folder, a password file with
// one user, anonymous clients refused, nothing kept on disk, listening on a
// free loopback port (with TLS and a certificate authority made for it when
// asked). The destructor kills it and removes the folder. With `keeps` it
// keeps its retained messages across a stop and start, as a broker with
// persistence does across a restart.
class MosquittoBroker {
public:
    static constexpr const char* kUser = "rack";
    static constexpr const char* kPassword = "s3cret-pw";

    explicit MosquittoBroker(bool tls = false, bool keeps = false);
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker&) = delete;
    MosquittoBroker& operator=(const MosquittoBroker&) = delete;

    // Starts it (on the same port as before after a stop) and waits until it
    // takes connections; false if it did not within 10 s.
    bool start();
    // Stops it and waits until it has gone.
    void stop();
    bool running() const { return pid_ > 0; }
    int pid() const { return pid_; }

    int port() const { return port_; }
    // mqtt://127.0.0.1:PORT, or mqtts://
    std::string url() const;
    // The certificate authority that signed the broker's certificate (TLS).
    const std::string& caFile() const { return caFile_; }
    const std::string& folder() const { return dir_; }
    // The environment that logs in as kUser (with `password` instead of
    // kPassword when given).
    std::vector<std::string> loginEnv(const std::string& password = kPassword) const;

private:
    bool prepare();
    bool launch();

    bool tls_;
    bool keeps_;
    std::string dir_;
    std::string caFile_;
    int port_ = 0;
    int pid_ = -1;
    bool prepared_ = false;
};
