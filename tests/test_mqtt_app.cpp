// The window program publishing its controller windows to a real mosquitto,
// with the simulator in the test's own event loop.

#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/MqttPublisher.h"
#include "controls/CLibDatamineEdit.h"
#include "app/CKvtDocTemplate.h"
#include "app/Floor.h"
#include "resources/Menus.h"
#include "config/Controller.h"
#include "link/ParameterNumbers.h"
#include "platform/qt/CChildFrame.h"
#include "tests/support/AppBench.h"
#include "tests/support/MosquittoBroker.h"
#include "tests/support/TopicWatch.h"

#include <algorithm>

namespace {

class AppMqttTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2}; }

    void SetUp() override
    {
        AppBench::SetUp();
        ASSERT_TRUE(broker.start());
        ASSERT_TRUE(topics.start(broker));
    }

    void TearDown() override
    {
        topics.stop();
        AppBench::TearDown();
    }

    void publish(bool control, bool discovery = false)
    {
        MqttSetup setup;
        std::string error;
        ASSERT_TRUE(parseMqttUrl(broker.url(), setup.address, error));
        setup.login = {MosquittoBroker::kUser, MosquittoBroker::kPassword};
        setup.control = control;
        setup.discovery = discovery;
        setup.host = "bench-pc";
        app->StartPublishing(setup);
    }

    // The program runs while the test waits for what reaches the broker.
    bool arrives(const std::function<bool()>& done, int ms = 15000)
    {
        return runUntil([&] {
            topics.take();
            return done();
        }, ms);
    }

    static std::string topic(int unit, const std::string& leaf)
    {
        return "tessol/bench-pc-COM2-0" + std::to_string(unit) + "/" + leaf;
    }

    // What the simulated unit holds: its set point and output state.
    std::string setPoint(int unit) const { return sim->sim().unit(unit)->handle(1, 3, "+000.000")->data; }
    std::string output(int unit) const { return sim->sim().unit(unit)->handle(1, 51, "+000.000")->data; }

    MosquittoBroker broker;
    TopicWatch topics;
};

TEST_F(AppMqttTest, EveryWindowPublishesAndAClosedWindowGoesOffline)
{
    publish(false);
    CTqk5820ConfigDoc* first = openOnline(1);
    openOnline(2);
    ASSERT_TRUE(arrives([&] {
        for (int unit : {1, 2}) {
            for (const char* leaf : {"actual", "setpoint", "te_current", "te_voltage", "output", "unit"}) {
                if (!topics.seen(topic(unit, leaf)))
                    return false;
            }
            if (!topics.seen(topic(unit, "online"), "true") || !topics.seen(topic(unit, "meta")))
                return false;
        }
        return true;
    }));
    // Units never given a serial number are known by computer, line and unit.
    EXPECT_EQ(topics.last(topic(2, "meta")),
              R"({"unit":2,"line":"COM2","serial":"CALLKV","firmware":"1.3","host":"bench-pc"})");
    EXPECT_EQ(topics.last(topic(1, "unit")), "\xc2\xb0" "C");
    // One broker, told once for all the windows.
    const std::string told = "Publishing readings to MQTT broker 127.0.0.1:" + std::to_string(broker.port());
    EXPECT_EQ(std::count(prompts.statusMessages.begin(), prompts.statusMessages.end(), told), 1);

    const std::size_t from = topics.messages.size();
    app->ConfigTemplate().CloseDocument(first);
    EXPECT_TRUE(arrives([&] { return topics.seen(topic(1, "online"), "false", from); }));
    EXPECT_FALSE(topics.seen(topic(2, "online"), "false"));
}

TEST_F(AppMqttTest, AControllerWatchedWithoutItsWindowKeepsItsTopicsUntilStopWatching)
{
    publish(false);
    app->GetFloor().ShowOverview();
    CTqk5820ConfigDoc* doc = openOnline(1);
    ASSERT_TRUE(arrives([&] { return topics.seen(topic(1, "online"), "true") && topics.seen(topic(1, "actual")); }));
    static_cast<CTqk5820ConfigView*>(doc->GetViews().front())->GetFrame()->close();
    ASSERT_TRUE(doc->GetViews().empty());
    const std::size_t from = topics.messages.size();
    // Readings go on, the TE voltage and output among them, and it stays online.
    EXPECT_TRUE(arrives([&] {
        return topics.seen(topic(1, "actual"), "", from) && topics.seen(topic(1, "te_voltage"), "", from)
            && topics.seen(topic(1, "output"), "", from);
    }));
    EXPECT_FALSE(topics.seen(topic(1, "online"), "false", from));
    app->GetFloor().StopWatching(*app->ControllerOf(doc));
    EXPECT_TRUE(arrives([&] { return topics.seen(topic(1, "online"), "false", from); }));
}

TEST_F(AppMqttTest, ASetPointFromTheBrokerReachesTheInstrumentAndTheWindow)
{
    publish(true);
    CTqk5820ConfigDoc* doc = openOnline(1);
    ASSERT_TRUE(arrives([&] { return topics.seen(topic(1, "online"), "true"); }));
    auto* measure = panelOf<CTqk5820ConfigMeasureDialog>(doc, CTqk5820ConfigDoc::kMeasure);
    ASSERT_NE(measure, nullptr);
    const auto setPoint = [&] { return sim->sim().unit(1)->handle(1, 3, "+000.000")->data; };

    ASSERT_TRUE(publishTo(broker, topic(1, "setpoint/set"), "30"));
    EXPECT_TRUE(runUntil([&] { return setPoint() == "+030.000"; }, 10000));
    EXPECT_TRUE(runUntil([&] { return measure->SetPointEntry()->text().trimmed() == "30.00"; }, 10000))
        << measure->SetPointEntry()->text().toStdString();

    const std::size_t from = topics.messages.size();
    ASSERT_TRUE(publishTo(broker, topic(1, "setpoint/set"), "250"));
    EXPECT_TRUE(arrives([&] { return topics.seen(topic(1, "error"), "", from); }));
    EXPECT_EQ(topics.last(topic(1, "error")), "setpoint/set 250: outside -199.9 to 199.9 \xc2\xb0" "C");
    EXPECT_EQ(setPoint(), "+030.000");
}

// A set point changed at the instrument reaches the broker; while polling
// is halted no readings go out, and the controller stays online there.
TEST_F(AppMqttTest, TheBrokerFollowsTheInstrumentsSetPointAndGetsNoReadingsWhileHalted)
{
    publish(false);
    openOnline(1);
    ASSERT_TRUE(arrives([&] { return topics.seen(topic(1, "setpoint")) && topics.seen(topic(1, "online"), "true"); }));
    ASSERT_NE(topics.last(topic(1, "setpoint")), "-3.000");
    ASSERT_EQ(sim->sim().control("set 1 3 -3"), "ok");
    EXPECT_TRUE(arrives([&] { return topics.last(topic(1, "setpoint")) == "-3.000"; }, 5000));

    app->OnCommand(cmd::kHaltAll);
    // What was under way when it stopped may still arrive.
    arrives([] { return false; }, 1500);
    const std::size_t from = topics.messages.size();
    arrives([] { return false; }, 2500);
    for (std::size_t i = from; i < topics.messages.size(); ++i)
        ADD_FAILURE() << "while halted: " << topics.messages[i].topic << " " << topics.messages[i].payload;
    EXPECT_EQ(topics.last(topic(1, "online")), "true");

    app->OnCommand(cmd::kRestartAll);
    EXPECT_TRUE(arrives([&] { return topics.seen(topic(1, "actual"), "", from); }, 5000));
}

// A window opening meets commands a dashboard left retained: they are not
// carried out but said; once cleared, a command published now is.
TEST_F(AppMqttTest, ARetainedCommandIsNotCarriedOutWhenTheWindowOpens)
{
    const struct {
        const char* leaf;
        const char* payload;
        const char* said;
    } kept[] = {
        {"output/set", "on", "output/set \"on\": retained on the broker, not carried out"},
        {"setpoint/set", "31.1", "setpoint/set \"31.1\": retained on the broker, not carried out"},
    };
    for (const auto& k : kept)
        ASSERT_TRUE(publishTo(broker, topic(1, k.leaf), k.payload, true));
    publish(true);
    openOnline(1);
    ASSERT_TRUE(arrives([&] {
        for (const auto& k : kept) {
            if (!topics.seen(topic(1, "error"), k.said))
                return false;
        }
        return true;
    }));
    const std::size_t from = topics.messages.size();
    ASSERT_TRUE(arrives([&] { return topics.payloads(topic(1, "setpoint"), from).size() >= 3; }));
    EXPECT_EQ(setPoint(1), "+025.000");
    EXPECT_EQ(output(1), "+000.000");

    for (const auto& k : kept)
        ASSERT_TRUE(publishTo(broker, topic(1, k.leaf), "", true));
    ASSERT_TRUE(publishTo(broker, topic(1, "output/set"), "on"));
    EXPECT_TRUE(runUntil([&] { return output(1) == "+000.001"; }, 10000)) << output(1);
    topics.take();
    EXPECT_EQ(topics.payloads(topic(1, "error"), from), std::vector<std::string> {});
}

// A serial number written to the unit: it is read again, the controller
// moves to its new id, and the old one goes offline with its device gone
// from Home Assistant.
TEST_F(AppMqttTest, ANewSerialNumberMovesTheControllerToItsNewId)
{
    TopicWatch ha;
    ASSERT_TRUE(ha.start(broker, "homeassistant/#"));
    publish(false, true);
    CTqk5820ConfigDoc* doc = openOnline(1);
    const std::string oldConfig = "homeassistant/sensor/tessol_bench-pc-COM2-01/actual/config";
    ASSERT_TRUE(arrives([&] {
        ha.take();
        return topics.seen(topic(1, "online"), "true") && ha.seen(oldConfig);
    }));
    const std::size_t from = topics.messages.size();
    const std::size_t haFrom = ha.messages.size();
    bool written = false;
    ASSERT_TRUE(runUntil([&] { return written = written || doc->CommitText(pn::kSerialNumber, "SN-9000 "); }));
    EXPECT_TRUE(arrives([&] {
        ha.take();
        return topics.seen(topic(1, "online"), "false", from) && topics.seen("tessol/SN-9000/online", "true", from)
            && topics.seen("tessol/SN-9000/meta", "", from) && ha.seen(oldConfig, "", haFrom)
            && ha.seen("homeassistant/sensor/tessol_SN-9000/actual/config", "", haFrom);
    }));
    EXPECT_EQ(topics.last("tessol/SN-9000/meta"),
              R"({"unit":1,"line":"COM2","serial":"SN-9000","firmware":"1.3","host":"bench-pc"})");
    EXPECT_EQ(ha.payloads(oldConfig, haFrom), std::vector<std::string> {""});
    EXPECT_EQ(app->ControllerOf(doc)->Serial(), "SN-9000");
}

class AppMqttSerialsTest : public AppMqttTest {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2, 3}; }
};

// Two units whose serial numbers are the same once made fit for a topic get
// an id each, with line and unit, said once; a third keeps its own. A
// command reaches the unit it names only.
TEST_F(AppMqttSerialsTest, UnitsWithTheSameSerialNumberAreToldApart)
{
    const struct {
        int unit;
        const char* serial;
        const char* id;
    } units[] = {{1, "SN-47/11", "SN-4711-COM2-01"}, {2, " SN-4711", "SN-4711-COM2-02"}, {3, "0E0A2851", "0E0A2851"}};
    const auto at = [](const std::string& id, const std::string& leaf) { return "tessol/" + id + "/" + leaf; };
    for (const auto& u : units)
        ASSERT_TRUE(sim->sim().unit(u.unit)->force(55, u.serial, nullptr));
    publish(true);
    std::vector<CTqk5820ConfigDoc*> docs;
    for (const auto& u : units)
        docs.push_back(openOnline(u.unit));
    ASSERT_TRUE(arrives([&] {
        for (const auto& u : units) {
            if (topics.last(at(u.id, "online")) != "true" || !topics.seen(at(u.id, "actual")))
                return false;
        }
        // Published under the shared id before the other unit came, it
        // has gone offline there.
        return !topics.seen(at("SN-4711", "online")) || topics.last(at("SN-4711", "online")) == "false";
    }));
    EXPECT_EQ(std::count_if(prompts.statusMessages.begin(), prompts.statusMessages.end(),
                            [](const std::string& m) { return m.find("both go by tessol/SN-4711;") != std::string::npos; }),
              1);

    ASSERT_TRUE(publishTo(broker, at("SN-4711-COM2-02", "setpoint/set"), "30"));
    EXPECT_TRUE(runUntil([&] { return setPoint(2) == "+030.000"; }, 10000));
    EXPECT_EQ(setPoint(1), "+025.000");

    // Alone again, the unit goes by its serial number.
    app->ConfigTemplate().CloseDocument(docs[1]);
    const std::size_t from = topics.messages.size();
    EXPECT_TRUE(arrives([&] { return topics.seen(at("SN-4711", "online"), "true", from); }));
}

} // namespace
