#include "tests/support/MosquittoBroker.h"

#include "tests/support/Http.h"
#include "tests/support/Process.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Steady = std::chrono::steady_clock;

bool ran(const std::vector<std::string>& argv)
{
    return runProgram(argv, 20000).exitCode == 0;
}

} // namespace

MosquittoBroker::MosquittoBroker(bool tls, bool keeps) : tls_(tls), keeps_(keeps) {}

MosquittoBroker::~MosquittoBroker()
{
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::string MosquittoBroker::url() const
{
    return std::string(tls_ ? "mqtts" : "mqtt") + "://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> MosquittoBroker::loginEnv(const std::string& password) const
{
    return {std::string("TESSOL_MQTT_USERNAME=") + kUser, "TESSOL_MQTT_PASSWORD=" + password};
}

bool MosquittoBroker::prepare()
{
    char dir[] = "/tmp/tessol-broker-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        return false;
    dir_ = dir;
    if (!ran({MOSQUITTO_PASSWD_PATH, "-b", "-c", dir_ + "/passwd", kUser, kPassword}))
        return false;
    if (tls_) {
        // A certificate authority of its own and a certificate for the
        // loopback address, signed by it.
        caFile_ = dir_ + "/ca.crt";
        std::ofstream(dir_ + "/san.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
        const std::string ec = "ec:" + dir_ + "/params.pem";
        if (!ran({OPENSSL_PATH, "ecparam", "-name", "prime256v1", "-out", dir_ + "/params.pem"})
            || !ran({OPENSSL_PATH, "req", "-x509", "-newkey", ec, "-nodes", "-keyout", dir_ + "/ca.key", "-out",
                     caFile_, "-days", "2", "-subj", "/CN=Tessol test CA"})
            || !ran({OPENSSL_PATH, "req", "-newkey", ec, "-nodes", "-keyout", dir_ + "/server.key", "-out",
                     dir_ + "/server.csr", "-subj", "/CN=127.0.0.1"})
            || !ran({OPENSSL_PATH, "x509", "-req", "-in", dir_ + "/server.csr", "-CA", caFile_, "-CAkey",
                     dir_ + "/ca.key", "-CAcreateserial", "-out", dir_ + "/server.crt", "-days", "2", "-extfile",
                     dir_ + "/san.cnf"}))
            return false;
    }
    prepared_ = true;
    return true;
}

bool MosquittoBroker::launch()
{
    {
        const passwd* me = ::getpwuid(::getuid());
        std::ofstream conf(dir_ + "/mosquitto.conf");
        conf << "listener " << port_ << " 127.0.0.1\n"
             << "allow_anonymous false\n"
             << "password_file " << dir_ << "/passwd\n"
             << "persistence " << (keeps_ ? "true" : "false") << "\n"
             << "persistence_location " << dir_ << "/\n"
             // Started as root it would otherwise become "mosquitto", who
             // cannot read this folder.
             << "user " << (me != nullptr ? me->pw_name : "root") << "\n";
        if (tls_)
            conf << "cafile " << caFile_ << "\ncertfile " << dir_ << "/server.crt\nkeyfile " << dir_
                 << "/server.key\n";
    }
    const std::string log = dir_ + "/broker.log";
    const std::string conf = dir_ + "/mosquitto.conf";
    pid_ = ::fork();
    if (pid_ == 0) {
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        ::execl(MOSQUITTO_PATH, MOSQUITTO_PATH, "-c", conf.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    if (pid_ < 0)
        return false;
    const auto deadline = Steady::now() + std::chrono::seconds(10);
    while (Steady::now() < deadline) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        if (acceptsConnections(port_))
            return true;
        ::poll(nullptr, 0, 20);
    }
    stop();
    return false;
}

bool MosquittoBroker::start()
{
    if (running())
        return true;
    if (!prepared_ && !prepare())
        return false;
    if (port_ != 0)
        return launch();
    // A port found free may be taken before the broker binds it: another.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLoopbackPort();
        if (launch())
            return true;
    }
    return false;
}

void MosquittoBroker::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = Steady::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (Steady::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        ::poll(nullptr, 0, 10);
    }
    pid_ = -1;
}
