// The metrics page: the server against hostile and idle clients, and a real
// Prometheus scraping tessolctl watch and the window program, with the
// page checked by promtool and its values against the readings shown.

#include "config/Controller.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/MetricsServer.h"
#include "tests/support/AppBench.h"
#include "tests/support/CsvText.h"
#include "tests/support/Http.h"
#include "tests/support/Process.h"
#include "tests/support/Prometheus.h"
#include "tests/support/SimChild.h"

#include <QCoreApplication>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

namespace {

// What promtool says of a page; empty when it is clean.
std::string promtoolComplaints(const std::string& page)
{
    char path[] = "/tmp/tessol-page-XXXXXX";
    const int fd = ::mkstemp(path);
    ::close(fd);
    std::ofstream(path) << page;
    const RunResult r = runProgram({"/bin/sh", "-c", std::string(PROMTOOL_PATH) + " check metrics < " + path}, 20000);
    std::remove(path);
    return r.exitCode == 0 ? std::string() : "exit " + std::to_string(r.exitCode) + ": " + r.out + r.err;
}

// The sample's value on the page ("22"), or empty.
std::string sampleOf(const std::string& page, const std::string& series)
{
    const auto at = page.find("\n" + series + " ");
    if (at == std::string::npos)
        return std::string();
    const auto from = at + series.size() + 2;
    return page.substr(from, page.find('\n', from) - from);
}

bool isSet(const std::string& value)
{
    return !value.empty();
}

} // namespace

TEST(MetricsAddress, IsHostAndPortWithLoopbackUnlessAnotherHostIsGiven)
{
    const struct {
        const char* text;
        const char* host;   // null: refused
        int port;
    } cases[] = {
        {"9464", "127.0.0.1", 9464},
        {"0.0.0.0:9464", "0.0.0.0", 9464},
        {"[::1]:80", "::1", 80},
        {"localhost:0", "localhost", 0},
        {"9464x", nullptr, 0},
        {"65536", nullptr, 0},
        {":9464", nullptr, 0},
        {"::1:80", nullptr, 0},
        {"[::1]", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        MetricsAddress a;
        std::string error;
        EXPECT_EQ(parseMetricsAddress(c.text, a, error), c.host != nullptr) << error;
        if (c.host != nullptr) {
            EXPECT_EQ(a.host, c.host);
            EXPECT_EQ(a.port, c.port);
        } else {
            EXPECT_FALSE(error.empty());
        }
    }
}

class MetricsServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(server.Start(MetricsAddress {"127.0.0.1", 0}, error)) << error;
        port = std::stoi(server.Url().substr(server.Url().rfind(':') + 1));
        ASSERT_GT(port, 0);
    }

    // The program's loop: the server's descriptor or its time, then a step.
    void pump()
    {
        pollfd p {server.Socket(), POLLIN, 0};
        const int due = server.DueInMs();
        ::poll(&p, 1, due >= 0 && due < 5 ? due : 5);
        server.Service();
    }

    MetricsServer server {[] { return std::string("tessol_online 1\n"); }};
    int port = 0;
};

TEST_F(MetricsServerTest, OnlyGetMetricsIsServedAndEveryOtherRequestGetsAShortError)
{
    const std::string big(20000, 'a');
    // kRefused: a 4xx of the library's choosing, or the connection closed.
    constexpr int kRefused = -1;
    const struct {
        const char* name;
        std::string request;
        int status;
    } cases[] = {
        {"the page", "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n", 200},
        {"with a query", "GET /metrics?name=x HTTP/1.1\r\nHost: x\r\n\r\n", 200},
        {"HTTP/1.0", "GET /metrics HTTP/1.0\r\n\r\n", 200},
        {"another path", "GET /admin HTTP/1.1\r\nHost: x\r\n\r\n", 404},
        {"a post", "POST /metrics HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello", 405},
        {"a head", "HEAD /metrics HTTP/1.1\r\nHost: x\r\n\r\n", 405},
        {"a huge header", "GET /metrics HTTP/1.1\r\nHost: x\r\nX-Big: " + big + "\r\n\r\n", kRefused},
        {"not HTTP", "HELLO\r\n\r\n", kRefused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpAnswer a = httpExchange(port, c.request, [this] { pump(); });
        if (c.status == kRefused) {
            EXPECT_TRUE(a.status == 0 || (a.status >= 400 && a.status < 500)) << a.head;
            continue;
        }
        EXPECT_EQ(a.status, c.status) << a.head;
        if (c.status == 200) {
            EXPECT_EQ(a.body, "tessol_online 1\n");
            EXPECT_NE(a.head.find("Content-Type: text/plain; version=0.0.4"), std::string::npos) << a.head;
        } else {
            EXPECT_LT(a.body.size(), 100u);
        }
    }
    EXPECT_EQ(server.Scrapes(), 3u);
}

TEST_F(MetricsServerTest, AClientThatSendsNothingHoldsNobodyAndIsClosedInTime)
{
    // Idle, the program sleeps: nothing is due.
    EXPECT_EQ(server.DueInMs(), -1);
    std::vector<int> silent;
    for (int i = 0; i < 3; ++i) {
        const int fd = connectLoopback(port);
        ASSERT_GE(fd, 0);
        silent.push_back(fd);
    }
    ::send(silent[2], "GET /metr", 9, MSG_NOSIGNAL);
    EXPECT_EQ(httpGet(port, "/metrics", [this] { pump(); }).status, 200);
    // Closed once idle for its time, a half-sent request too.
    const auto start = std::chrono::steady_clock::now();
    std::size_t closed = 0;
    while (closed < silent.size()
           && std::chrono::steady_clock::now() - start < std::chrono::seconds(MetricsServer::kIdleSeconds + 3)) {
        pump();
        closed = 0;
        for (int fd : silent) {
            char c;
            closed += ::recv(fd, &c, 1, MSG_DONTWAIT | MSG_PEEK) == 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(closed, silent.size());
    for (int fd : silent)
        ::close(fd);
    // One step to let them go, then nothing is due again.
    pump();
    EXPECT_EQ(server.DueInMs(), -1);
}

TEST_F(MetricsServerTest, APortTakenByAnotherProgramIsSaidAsSuch)
{
    MetricsServer second {[] { return std::string(); }};
    std::string error;
    EXPECT_FALSE(second.Start(MetricsAddress {"127.0.0.1", port}, error));
    EXPECT_EQ(error, "127.0.0.1:" + std::to_string(port) + ": Address already in use");
    EXPECT_FALSE(second.Start(MetricsAddress {"no-such-host.invalid", 0}, error));
    EXPECT_EQ(error.rfind("no-such-host.invalid:0: ", 0), 0u) << error;
}

// ---------------------------------------------------------------- tessolctl watch --metrics

TEST(CtlMetrics, PrometheusScrapesTheWatchAndGetsTheReadingsItPrints)
{
    SimChild sim("metrics");
    ASSERT_TRUE(sim.start(TQK5820_SIM_PATH, "1"));
    // Readings of their own, a negative among them, and a serial number.
    for (const char* line : {"set 1 1 -12.5", "set 1 5 1.25", "set 1 6 -3.5", "set 1 55 \"SN-4711 \""})
        ASSERT_EQ(sim.control(line), "ok") << line;
    const int port = freeLoopbackPort();
    BackgroundProcess watch;
    const std::string errors = sim.dir() + "/stderr.txt";
    ASSERT_TRUE(watch.start({TESSOLCTL_PATH, "--device", sim.link(), "watch", "--metrics",
                             "127.0.0.1:" + std::to_string(port)},
                            {}, errors));
    std::string row = watch.readLine(15000);
    // After the comment and the header, the first row.
    while (!row.empty() && !std::isdigit(static_cast<unsigned char>(row[0])))
        row = watch.readLine(5000);
    ASSERT_NE(row.find(",-12.500,25.000,1.250,-3.500,off"), std::string::npos) << row;

    PrometheusServer prometheus;
    ASSERT_TRUE(prometheus.start({"127.0.0.1:" + std::to_string(port)})) << prometheus.log();
    const std::string labels = R"({serial="SN-4711",line=")" + sim.link() + R"(",unit="1"})";
    EXPECT_EQ(prometheus.waitFor("tessol_temperature_celsius" + labels, isSet), "-12.5") << prometheus.log();
    const struct {
        const char* name;
        const char* value;
    } expected[] = {
        {"tessol_setpoint_celsius", "25"},
        {"tessol_te_current_amperes", "1.25"},
        {"tessol_te_voltage_volts", "-3.5"},
        {"tessol_output_on", "0"},
        {"tessol_online", "1"},
    };
    for (const auto& e : expected)
        EXPECT_EQ(prometheus.value(e.name + labels), e.value) << e.name;
    EXPECT_EQ(prometheus.value(R"(tessol_alarm_active{rule="stopped_answering",severity="major"})"), "0");
    EXPECT_GT(std::stod("0" + prometheus.value("tessol_line_transactions_total")), 5.0);
    EXPECT_EQ(prometheus.value(R"(up{job="tessol"})"), "1");

    const HttpAnswer page = httpGet(port, "/metrics");
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(promtoolComplaints(page.body), "");
    // Its own lines go on meanwhile.
    EXPECT_FALSE(watch.readLine(3000).empty());

    // A unit slow to answer has a read out most of the time: each scrape
    // still has every reading, the last one answered.
    ASSERT_EQ(sim.control("delay 1 300"), "ok");
    for (int k = 0; k < 30; ++k) {
        watch.readLine(100);
        const std::string body = httpGet(port, "/metrics").body;
        for (const char* name : {"tessol_temperature_celsius", "tessol_setpoint_celsius", "tessol_te_current_amperes",
                                 "tessol_output_on"})
            ASSERT_FALSE(sampleOf(body, name + labels).empty()) << name << " missing from scrape " << k;
    }
    ASSERT_EQ(sim.control("delay 1 0"), "ok");

    // Switched off: still named by its serial number, now offline.
    ASSERT_EQ(sim.control("off 1"), "ok");
    std::string offline;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (offline != "0" && std::chrono::steady_clock::now() < deadline) {
        watch.readLine(200);
        offline = sampleOf(httpGet(port, "/metrics").body, "tessol_online" + labels);
    }
    EXPECT_EQ(offline, "0");
    watch.stop();
    std::string said;
    for (const std::string& l : fileLines(errors))
        said += l + "\n";
    EXPECT_NE(said.find("tessolctl: metrics at http://127.0.0.1:" + std::to_string(port) + "/metrics"),
              std::string::npos) << said;
    std::remove(errors.c_str());
}

// ---------------------------------------------------------------- the window program

class AppMetricsTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2}; }

    static void pump() { QCoreApplication::processEvents(QEventLoop::AllEvents, 5); }
};

TEST_F(AppMetricsTest, PrometheusGetsWhatTheWindowsShowInBaseUnits)
{
    std::string error;
    ASSERT_TRUE(app->StartMetrics(MetricsAddress {"127.0.0.1", 0}, error)) << error;
    const std::string url = app->Metrics()->Url();
    const int port = std::stoi(url.substr(url.rfind(':') + 1));
    CTqk5820ConfigDoc* degrees = openOnline(1);
    CTqk5820ConfigDoc* ohms = openOnline(2);
    ohms->SensorTypes().RequestType(1);
    ASSERT_TRUE(runUntil([&] { return ohms->GetSensorType() == 1; }, 10000));
    ASSERT_EQ(sim->sim().control("set 1 1 31.25"), "ok");
    ASSERT_EQ(sim->sim().control("set 2 2 12.345"), "ok");
    app->ControllerOf(degrees)->SetAlarm(alarms::Rule::kAbove, [] {
        alarms::Setting s;
        s.on = true;
        s.value = 30;
        return s;
    }());

    PrometheusServer prometheus;
    ASSERT_TRUE(prometheus.start({"127.0.0.1:" + std::to_string(port)}, pump)) << prometheus.log();
    const std::string one = R"({serial="CALLKV",line="COM2",unit="1"})";
    const std::string two = R"({serial="CALLKV",line="COM2",unit="2"})";
    EXPECT_EQ(prometheus.waitFor("tessol_temperature_celsius" + one, [](const std::string& v) { return v == "31.25"; },
                                 pump),
              "31.25") << prometheus.log();
    EXPECT_EQ(prometheus.waitFor("tessol_sensor_resistance_ohms" + two,
                                 [](const std::string& v) { return v == "12345"; }, pump),
              "12345");
    EXPECT_EQ(prometheus.waitFor(R"(tessol_alarm_active{unit="1",rule="actual_above",severity="minor"})",
                                 [](const std::string& v) { return v == "1"; }, pump),
              "1");

    // The page against what each window's document holds.
    const HttpAnswer page = httpGet(port, "/metrics", pump);
    ASSERT_EQ(page.status, 200);
    EXPECT_EQ(promtoolComplaints(page.body), "");
    const auto shown = [](CTqk5820ConfigDoc* doc, int p) { return protocol::textToDouble(doc->ValueText(p)); };
    EXPECT_EQ(std::stod(sampleOf(page.body, "tessol_setpoint_celsius" + one)), shown(degrees, pn::kSetTemperature));
    EXPECT_EQ(std::stod(sampleOf(page.body, "tessol_setpoint_ohms" + two)), 1000 * shown(ohms, pn::kSetResistance));
    EXPECT_EQ(sampleOf(page.body, "tessol_temperature_celsius" + two), "");
    EXPECT_EQ(sampleOf(page.body, "tessol_online" + two), "1");
    EXPECT_NE(sampleOf(page.body, R"(tessol_line_transactions_total{line="COM2"})"), "");

    // A unit switched off: online 0, and its readings leave the page.
    ASSERT_EQ(sim->sim().control("off 2"), "ok");
    ASSERT_TRUE(runUntil([&] { return !ohms->IsOnline(); }, 15000));
    const std::string after = httpGet(port, "/metrics", pump).body;
    EXPECT_EQ(sampleOf(after, "tessol_online" + two), "0");
    EXPECT_EQ(sampleOf(after, "tessol_sensor_resistance_ohms" + two), "");
    EXPECT_NE(sampleOf(after, "tessol_temperature_celsius" + one), "");
}
