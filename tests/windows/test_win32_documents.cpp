// The configuration document on the Windows serial device, against the
// simulated units on the test port, on the real clock: what tessolctl and
// the window program do on Windows, pass by pass.

#include "config/CTqk5820ConfigDoc.h"
#include "link/ParameterNumbers.h"
#include "config/UnitRegistry.h"
#include "link/InstrumentLink.h"
#include "platform/MemoryProfile.h"
#include "platform/SystemClock.h"
#include "platform/SystemSerialPorts.h"
#include "tests/support/ScriptedPrompts.h"
#include "tests/windows/ComPortLine.h"

#include <memory>
#include <vector>

namespace {

class DocumentsOnComPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_TEST_PORT();
        port = testPortIndex();
        profile.writeInt(CTqk5820ConfigDoc::kProfileSection, CTqk5820ConfigDoc::kPortKey, port);
    }
    void TearDown() override
    {
        for (auto& d : docs)
            d->OnCloseDocument();
    }

    CTqk5820ConfigDoc& newDoc(int unit)
    {
        docs.push_back(std::make_unique<CTqk5820ConfigDoc>(link, clock, profile, prompts, &registry));
        CTqk5820ConfigDoc& doc = *docs.back();
        doc.SetWaitHandler([this] { waitOnLine(link.watch(port), 10); });
        doc.OnNewDocument();
        if (doc.GetUnitNumber() != unit)
            doc.ChangeUnitNumber(unit);
        return doc;
    }

    // Idle passes until `done` holds or `ms` have passed.
    bool runUntil(const std::function<bool()>& done, int ms = 10000)
    {
        return within(ms, done, [this] {
            for (auto& d : docs)
                d->Poll();
            link.servicePort(port);
            waitOnLine(link.watch(port), 10);
        });
    }

    SystemClock clock;
    ScriptedPrompts prompts;
    MemoryProfile profile;
    SystemSerialPorts ports;
    InstrumentLink link {ports, clock, prompts};
    UnitRegistry registry;
    std::vector<std::unique_ptr<CTqk5820ConfigDoc>> docs;
    int port = -1;
};

TEST_F(DocumentsOnComPort, ReadsAndWritesThroughTheCache)
{
    CTqk5820ConfigDoc& doc = newDoc(1);
    ASSERT_TRUE(doc.IsPortUsable());
    ASSERT_TRUE(runUntil([&] { return doc.IsOnline() && doc.GetSensorType() != SensorTypeTracker::kNoType; }));
    std::string firmware;
    ASSERT_TRUE(runUntil([&] { return doc.ReadFirmwareVersion(firmware); }));
    EXPECT_EQ(firmware, "+001.300");

    for (const float target : {21.5f, 25.0f}) {
        ASSERT_TRUE(runUntil([&] { return doc.WriteSetTemperature(target); }));
        ASSERT_TRUE(runUntil([&] { return !doc.IsOutstanding(pn::kSetTemperature); }));
        doc.RequestRead(pn::kSetTemperature);
        float back = 0;
        ASSERT_TRUE(runUntil([&] { return doc.ReadSetTemperature(back) && back == target; })) << back;
    }
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(DocumentsOnComPort, ShareTheLineAndTellAnAbsentUnitFromAPresentOne)
{
    CTqk5820ConfigDoc& present = newDoc(2);
    CTqk5820ConfigDoc& absent = newDoc(9);
    EXPECT_EQ(link.openCount(port), 2);
    float value = 0;
    ASSERT_TRUE(runUntil([&] { return present.IsOnline() && present.ReadActualTemperature(value); }));
    // Its probes end in the link's time-out (end code 98) and it stays
    // offline; the unit that answers is not held up by it.
    EXPECT_FALSE(runUntil([&] { return absent.IsOnline(); }, 3000));
    EXPECT_TRUE(present.IsOnline());
    absent.OnCloseDocument();
    docs.pop_back();
    EXPECT_EQ(link.openCount(port), 1);
    EXPECT_TRUE(link.isPortOpen(port));
}

} // namespace
