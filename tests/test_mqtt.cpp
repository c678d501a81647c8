// Readings on an MQTT broker from tessolctl watch: a real mosquitto with a
// password file, tqk5820-sim and tessolctl, all child processes; and the
// rules beneath (broker addresses, the id, the meta data, the options).

#include "app/CommandLine.h"
#include "config/MqttPublisher.h"
#include "platform/MqttClient.h"
#include "tests/support/CsvText.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/Process.h"
#include "tests/support/SimChild.h"
#include "tests/support/TopicWatch.h"

#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kDegrees = "\xc2\xb0" "C";

int occurrences(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

bool retained(const TopicWatch& watch, const std::string& topic)
{
    for (const SeenMessage& m : watch.messages) {
        if (m.retained && m.topic == topic)
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- rules

TEST(MqttRulesTest, BrokerAddressesAndWhatIsRefused)
{
    struct Case {
        const char* url;
        bool tls;
        const char* host;
        int port;
        const char* name;
    };
    for (const Case& c : {Case {"mqtt://broker.lab", false, "broker.lab", 1883, "broker.lab:1883"},
                          Case {"mqtts://broker.lab", true, "broker.lab", 8883, "broker.lab:8883"},
                          Case {"mqtt://127.0.0.1:1884/", false, "127.0.0.1", 1884, "127.0.0.1:1884"},
                          Case {"mqtts://[::1]:8884", true, "::1", 8884, "[::1]:8884"}}) {
        MqttAddress a;
        std::string error;
        ASSERT_TRUE(parseMqttUrl(c.url, a, error)) << c.url << ": " << error;
        EXPECT_EQ(a.tls, c.tls) << c.url;
        EXPECT_EQ(a.host, c.host) << c.url;
        EXPECT_EQ(a.port, c.port) << c.url;
        EXPECT_EQ(a.name(), c.name) << c.url;
    }
    for (const char* bad : {"tcp://broker:1883", "broker:1883", "mqtt://", "mqtt://:1883", "mqtt://broker:0",
                            "mqtt://broker:65536", "mqtt://broker:12a", "mqtt://broker:", "mqtt://broker/tessol",
                            "mqtt://[::1", "mqtt://jane:pw@broker"}) {
        MqttAddress a;
        std::string error;
        EXPECT_FALSE(parseMqttUrl(bad, a, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    MqttAddress a;
    std::string error;
    parseMqttUrl("mqtt://jane:pw@broker", a, error);
    EXPECT_NE(error.find("TESSOL_MQTT_USERNAME"), std::string::npos) << error;
}

TEST(MqttRulesTest, TheIdIsTheSerialNumberOrHostLineAndUnit)
{
    struct Case {
        const char* serial;
        const char* line;
        const char* id;
    };
    for (const Case& c : {Case {"0E0A2851", "COM2", "0E0A2851"}, Case {" AB-12_x ", "COM2", "AB-12_x"},
                          Case {"0E0A/28.5", "COM2", "0E0A285"}, Case {"SN#+/ 7", "COM2", "SN7"},
                          // Nothing left, or the blank serial every new unit carries.
                          Case {"#+/.", "COM3", "lab-pc2-COM3-07"}, Case {" CALLKV ", "COM2", "lab-pc2-COM2-07"},
                          Case {"", "/dev/ttyUSB0", "lab-pc2-devttyUSB0-07"}})
        EXPECT_EQ(MqttPublisher::MakeId(c.serial, "lab-pc.2", c.line, 7), c.id) << c.serial;

    EXPECT_EQ(MqttPublisher::MetaJson(7, "COM2", "0E\"A\\2", "1.3", "lab-pc"),
              R"({"unit":7,"line":"COM2","serial":"0E\"A\\2","firmware":"1.3","host":"lab-pc"})");
}

TEST(MqttRulesTest, TheWindowProgramTakesTheBrokerOptions)
{
    CommandLine line = parseCommandLine({"--mqtt", "mqtts://broker.lab", "--mqtt-control", "--mqtt-ca=/etc/ca.pem"});
    ASSERT_TRUE(line.ok) << line.problem;
    EXPECT_EQ(line.mqttUrl, "mqtts://broker.lab");
    EXPECT_TRUE(line.mqttControl);
    EXPECT_EQ(line.mqttCaFile, "/etc/ca.pem");
    line = parseCommandLine({"--mqtt=mqtt://127.0.0.1", "--log-dir", "/tmp/x"});
    EXPECT_TRUE(line.ok && !line.mqttControl && line.logDirectory == "/tmp/x") << line.problem;
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>> {
             {"--mqtt"}, {"--mqtt", "http://broker"}, {"--mqtt-control"}, {"--mqtt-ca", "/etc/ca.pem"},
             {"--mqtt", "mqtt://broker", "--mqtt-ca", "/etc/ca.pem"}, {"--mqtt", "mqtt://a", "--mqtt", "mqtt://b"},
             {"--mqtt", "mqtt://u:p@broker"}}) {
        line = parseCommandLine(bad);
        EXPECT_FALSE(line.ok) << bad.back();
        EXPECT_FALSE(line.problem.empty()) << bad.back();
    }
}

// ---------------------------------------------------------------- tessolctl watch --mqtt

class CtlMqttTest : public ::testing::Test {
protected:
    virtual bool tls() const { return false; }

    void SetUp() override
    {
        dir_ = sim_.dir();
        link_ = sim_.link();
        ASSERT_TRUE(sim_.start(TQK5820_SIM_PATH, "1", {"--seed", "5"}));
        ASSERT_EQ(sim_.control("set 1 55 \"SN-47/11\""), "ok");
        broker_ = std::make_unique<MosquittoBroker>(tls());
        ASSERT_TRUE(broker_->start()) << "mosquitto did not start (" << MOSQUITTO_PATH << ")";
        ASSERT_TRUE(topics_.start(*broker_));
    }

    void TearDown() override
    {
        watch_.stop();
        topics_.stop();
        sim_.stop();
        broker_.reset();
        std::remove((dir_ + "/stderr.txt").c_str());
    }

    std::vector<std::string> watchArgs(const std::vector<std::string>& extra, const std::string& url = "") const
    {
        std::vector<std::string> args = {TESSOLCTL_PATH, "--device", link_, "watch", "--mqtt",
                                         url.empty() ? broker_->url() : url};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    void startWatch(const std::vector<std::string>& extra = {})
    {
        ASSERT_TRUE(watch_.start(watchArgs(extra), broker_->loginEnv(), dir_ + "/stderr.txt"));
    }

    std::string errors() const
    {
        std::string all;
        for (const std::string& l : fileLines(dir_ + "/stderr.txt"))
            all += l + "\n";
        return all;
    }

    // Waits until the watch has said `text` on standard error.
    bool saidWithin(const std::string& text, int ms)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (errors().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            // The watch's rows are read meanwhile, so its output never fills.
            watch_.readLine(50);
        }
        return true;
    }

    bool online()
    {
        return topics_.waitFor([&] { return topics_.seen(topic("online"), "true"); }, 15000);
    }

    static std::string topic(const std::string& leaf) { return "tessol/SN-4711/" + leaf; }

    std::string brokerName() const { return "MQTT broker 127.0.0.1:" + std::to_string(broker_->port()); }

    std::string dir_;
    std::string link_;
    SimChild sim_ {"mqtt"};
    std::unique_ptr<MosquittoBroker> broker_;
    TopicWatch topics_;
    BackgroundProcess watch_;
};

TEST_F(CtlMqttTest, ReadingsArriveUnderTheSerialNumberAndTheWillTakesTheUnitOffline)
{
    startWatch();
    ASSERT_TRUE(topics_.waitFor([&] {
        for (const char* leaf : {"actual", "setpoint", "te_current", "te_voltage", "output", "unit", "meta"}) {
            if (!topics_.seen(topic(leaf)))
                return false;
        }
        return topics_.seen(topic("online"), "true");
    }, 15000)) << errors();
    for (const char* leaf : {"actual", "te_current", "te_voltage"})
        EXPECT_TRUE(isNumber(topics_.last(topic(leaf)))) << leaf << " " << topics_.last(topic(leaf));
    EXPECT_EQ(topics_.last(topic("setpoint")), "25.000");
    EXPECT_EQ(topics_.last(topic("output")), "off");
    EXPECT_EQ(topics_.last(topic("unit")), kDegrees);
    EXPECT_EQ(topics_.last(topic("meta")), "{\"unit\":1,\"line\":\"" + link_
                                               + "\",\"serial\":\"SN-47/11\",\"firmware\":\"1.3\",\"host\":\""
                                               + hostName() + "\"}");
    EXPECT_FALSE(topics_.seen(topic("error")));
    EXPECT_NE(errors().find("tessolctl: Publishing readings to " + brokerName()), std::string::npos) << errors();

    // Whoever subscribes later gets the online flag and the meta data.
    TopicWatch late;
    ASSERT_TRUE(late.start(*broker_));
    ASSERT_TRUE(late.waitFor([&] { return retained(late, topic("online")) && retained(late, topic("meta")); }));
    EXPECT_EQ(late.last(topic("online")), "true");

    // Gone without a word: the broker says it for the program.
    const std::size_t before = topics_.messages.size();
    watch_.kill();
    EXPECT_TRUE(topics_.waitFor([&] { return topics_.seen(topic("online"), "false", before); }, 10000));
}

TEST_F(CtlMqttTest, ControlWritesThroughTheDocumentAndRefusesTheRest)
{
    startWatch({"--mqtt-control"});
    ASSERT_TRUE(online()) << errors();

    ASSERT_TRUE(publishTo(*broker_, topic("setpoint/set"), "30"));
    // The instrument's own value, read back by the watch.
    EXPECT_TRUE(topics_.waitFor([&] { return topics_.last(topic("setpoint")) == "30.000"; })) << errors();

    struct Refusal {
        const char* leaf;
        const char* payload;
        const char* error;
    };
    for (const Refusal& r : {Refusal {"setpoint/set", "500", "setpoint/set 500: outside -199.9 to 199.9 \xc2\xb0" "C"},
                             Refusal {"setpoint/set", "-200", "setpoint/set -200: outside -199.9 to 199.9 \xc2\xb0" "C"},
                             Refusal {"setpoint/set", "abc", "setpoint/set \"abc\": not a number"},
                             Refusal {"setpoint/set", "1e2", "setpoint/set \"1e2\": not a number"},
                             Refusal {"output/set", "1", "output/set \"1\": on or off"},
                             Refusal {"pid/set", "3", "pid/set: unknown topic; setpoint/set and output/set are taken"}}) {
        const std::size_t from = topics_.messages.size();
        ASSERT_TRUE(publishTo(*broker_, topic(r.leaf), r.payload));
        EXPECT_TRUE(topics_.waitFor([&] { return topics_.seen(topic("error"), r.error, from); }))
            << r.leaf << " " << r.payload << ": " << topics_.last(topic("error"));
    }
    // Nothing refused went to the instrument.
    const std::size_t from = topics_.messages.size();
    ASSERT_TRUE(topics_.waitFor([&] { return topics_.payloads(topic("setpoint"), from).size() >= 2; }));
    for (const std::string& p : topics_.payloads(topic("setpoint"), from))
        EXPECT_EQ(p, "30.000");

    ASSERT_TRUE(publishTo(*broker_, topic("output/set"), "on"));
    EXPECT_TRUE(topics_.waitFor([&] { return topics_.last(topic("output")) == "on"; }));
}

TEST_F(CtlMqttTest, WithoutControlNothingPublishedIsWritten)
{
    startWatch();
    ASSERT_TRUE(online()) << errors();
    ASSERT_TRUE(publishTo(*broker_, topic("setpoint/set"), "30"));
    ASSERT_TRUE(publishTo(*broker_, topic("output/set"), "on"));
    const std::size_t from = topics_.messages.size();
    ASSERT_TRUE(topics_.waitFor([&] { return topics_.payloads(topic("setpoint"), from).size() >= 3; }));
    for (const std::string& p : topics_.payloads(topic("setpoint"), from))
        EXPECT_EQ(p, "25.000");
    for (const std::string& p : topics_.payloads(topic("output"), from))
        EXPECT_EQ(p, "off");
    EXPECT_FALSE(topics_.seen(topic("error")));
}

// A broker that refuses the login, or is not there at all (nothing listens
// on port 1): said once, and the rows come a second apart as without one.
TEST_F(CtlMqttTest, ARefusedLoginOrAnAbsentBrokerIsSaidOnceAndTheReadingsGoOn)
{
    const struct {
        const char* name;
        std::string url;
        std::string password;
        std::string said;
        bool alone;   // nothing else said of the broker
    } cases[] = {
        {"refused", "", "not-the-password", "tessolctl: " + brokerName() + " refused the login: not authorised\n",
         false},
        {"absent", "mqtt://127.0.0.1:1", "",
         "MQTT broker 127.0.0.1:1 cannot be reached (Connection refused); trying again\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto t0 = std::chrono::steady_clock::now();
        const RunResult r = runProgram(watchArgs({"--count", "4"}, c.url), 30000,
                                       c.password.empty() ? broker_->loginEnv() : broker_->loginEnv(c.password));
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(occurrences(r.err, c.said), 1) << r.err;
        if (c.alone) {
            EXPECT_EQ(occurrences(r.err, "MQTT broker"), 1) << r.err;
        }
        const auto out = lines(r.out);
        ASSERT_EQ(out.size(), 6u) << r.out;   // comment, columns, 4 rows
        for (std::size_t i = 2; i < out.size(); ++i)
            EXPECT_TRUE(isNumber(fields(out[i]).at(1))) << out[i];
        // Four rows a second apart, plus start-up: retries cost the rows nothing.
        EXPECT_LT(seconds, 10.0);
    }
    topics_.take();
    EXPECT_FALSE(topics_.seen(topic("actual")));
}

TEST_F(CtlMqttTest, ABrokerStoppedAndStartedAgainGetsTheReadingsAndRetainedTopicsAgain)
{
    startWatch();
    ASSERT_TRUE(topics_.waitFor([&] { return topics_.seen(topic("actual")); }, 15000)) << errors();
    topics_.stop();
    broker_->stop();
    ASSERT_TRUE(saidWithin("tessolctl: " + brokerName() + " went away (", 10000)) << errors();
    // The instruments do not wait for the broker: a row a second.
    for (int row = 0; row < 3; ++row) {
        std::string line = watch_.readLine(3000);
        while (line.rfind("20", 0) != 0 && !line.empty())
            line = watch_.readLine(3000);
        const auto f = fields(line);
        ASSERT_EQ(f.size(), 6u) << line;
        EXPECT_TRUE(isNumber(f[1])) << line;
    }
    ASSERT_TRUE(broker_->start());
    // Tried again within the pause, which has grown to a few seconds.
    ASSERT_TRUE(saidWithin(brokerName() + " is back; publishing again", 20000)) << errors();
    // Readings come again; and the broker, which kept nothing, has the
    // retained topics again for whoever subscribes.
    TopicWatch again;
    ASSERT_TRUE(again.start(*broker_));
    EXPECT_TRUE(again.waitFor([&] { return again.seen(topic("actual")); })) << errors();
    TopicWatch late;
    ASSERT_TRUE(late.start(*broker_));
    EXPECT_TRUE(late.waitFor([&] { return retained(late, topic("online")) && retained(late, topic("meta")); }));
    EXPECT_EQ(late.last(topic("online")), "true");
    EXPECT_EQ(occurrences(errors(), "went away"), 1) << errors();
    EXPECT_EQ(occurrences(errors(), "cannot be reached"), 0) << errors();
}

class CtlMqttsTest : public CtlMqttTest {
protected:
    bool tls() const override { return true; }
};

TEST_F(CtlMqttsTest, TlsWithTheBrokersAuthorityAndNotWithoutIt)
{
    startWatch({"--mqtt-ca", broker_->caFile()});
    EXPECT_TRUE(topics_.waitFor([&] { return topics_.seen(topic("actual")) && topics_.seen(topic("online"), "true"); },
                                15000))
        << errors();

    // The system's authorities do not know the broker's certificate.
    watch_.stop();
    const RunResult r = runProgram(watchArgs({"--count", "2"}), 30000, broker_->loginEnv());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(occurrences(r.err, "cannot be reached (TLS handshake failed)"), 1) << r.err;
}

} // namespace
