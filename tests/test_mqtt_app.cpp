// The window program publishing its controller windows to a real mosquitto,
// with the simulator in the test's own event loop.

#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/MqttPublisher.h"
#include "controls/CLibDatamineEdit.h"
#include "app/CKvtDocTemplate.h"
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

    void publish(bool control)
    {
        MqttSetup setup;
        std::string error;
        ASSERT_TRUE(parseMqttUrl(broker.url(), setup.address, error));
        setup.login = {MosquittoBroker::kUser, MosquittoBroker::kPassword};
        setup.control = control;
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

} // namespace
