// The sensor-type tracker of the configuration document, against the
// in-process simulator (and a scripted instrument where a reply must fail).

#include "tests/test_config_bench.h"

namespace {

constexpr int kNoType = SensorTypeTracker::kNoType;

// Gives simulated unit 1 these coefficients 21 to 26 (a code pair loads
// that sensor's own defaults first, as the instrument does).
void coefficients(SimBench& b, const std::vector<double>& values)
{
    for (std::size_t k = 0; k < values.size(); ++k) {
        char line[64];
        std::snprintf(line, sizeof line, "set 1 %d %.3f", static_cast<int>(21 + k), values[k]);
        ASSERT_EQ(b.control(line), "ok") << line;
    }
}

// Passes, with 20 ms of the clock each, until the document has the type.
bool established(SimBench& b, CTqk5820ConfigDoc& doc, int type)
{
    b.passMillis = 20;
    const bool ok = b.runUntil([&] { return doc.GetSensorType() == type; }, 600);
    return ok && b.drain();
}

TEST(SensorTypes, EveryTypeIsDetectedFromItsCoefficients)
{
    struct Case {
        std::vector<double> coefficients;
        int type;
        std::vector<float> slots;   // the detected type's row afterwards
    } cases[] = {
        {{25.0, 10.0}, 0, {25.0f, 10.0f, 25.0f, 10.0f, 40.0f, 5.236f}},
        {{10.0, 19.9, 25.0, 10.0, 40.0, 5.3}, 0, {10.0f, 19.9f, 25.0f, 10.0f, 40.0f, 5.3f}},
        {{0, 0}, 1, {0, 0, -1, -1, -1, -1}},
        {{1, 1, 0, 0.1, 90.0, 0.135}, 2, {1, 1, 0, 0.1f, 90.0f, 0.135f}},
        {{1, 1, 0, 0}, 3, {1, 1, 0, 0, -1, -1}},
        {{2, 2, 1.5, -1, 0.2}, 4, {2, 2, 1.5f, -1, 0.2f, -1}},
        {{3, 3, 10.5, -1, -0.1}, 5, {3, 3, 10.5f, -1, -0.1f, -1}},
        {{4, 4, 9.5}, 6, {4, 4, 9.5f, -1, 0, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        SimBench b;
        coefficients(b, c.coefficients);
        CTqk5820ConfigDoc& doc = b.newDoc();
        ASSERT_TRUE(b.runUntil([&] { return doc.IsOnline(); }));
        EXPECT_EQ(doc.GetSensorType(), kNoType);   // until the coefficients are in
        ASSERT_TRUE(established(b, doc, c.type));
        const SensorTypeTracker& t = doc.SensorTypes();
        EXPECT_EQ(t.DetectionPhase(), 3);
        for (int k = 0; k < 6; ++k)
            EXPECT_FLOAT_EQ(t.Slot(c.type, k), c.slots[static_cast<std::size_t>(k)]) << "slot " << k;
        for (int other = 0; other < 7; ++other)
            EXPECT_EQ(t.Loaded(other), other == c.type) << other;
        EXPECT_TRUE(b.prompts.boxes.empty());
    }
}

TEST(SensorTypes, AskingForType4FromAThermistorChangesTheCodeFirst)
{
    SimBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    ASSERT_TRUE(established(b, doc, 0));
    SensorTypeTracker& t = doc.SensorTypes();
    EXPECT_EQ(t.RequestType(4), 0);
    EXPECT_TRUE(doc.IsOutstanding(21));
    EXPECT_TRUE(doc.IsOutstanding(22));
    EXPECT_FALSE(doc.IsOutstanding(23));
    EXPECT_EQ(doc.GetSensorType(), kNoType);

    std::vector<int> seen;
    ASSERT_TRUE(b.runUntil([&] {
        if (seen.empty() || seen.back() != doc.GetSensorType())
            seen.push_back(doc.GetSensorType());
        return doc.GetSensorType() == 4;
    }));
    // The panels see no type in between; the instrument waits 2 s before
    // its coefficients are read back.
    EXPECT_EQ(seen, (std::vector<int> {kNoType, 4}));
    EXPECT_EQ(b.sim->unit(1)->sensorType(), 4);
    EXPECT_FLOAT_EQ(t.Slot(4, 2), 1.0f);
    EXPECT_FLOAT_EQ(t.Slot(4, 4), 0.0f);
    EXPECT_EQ(t.RequestedType(), kNoType);
    EXPECT_EQ(t.ChangeStepNumber(), 0);
    EXPECT_TRUE(b.prompts.boxes.empty());
}

// RTD R mode is reached from RTD T mode through coefficients 23 and 24
// alone, and from another family through the code pair (1, 1), which
// brings the instrument up as RTD T mode with its factory points; either
// way type 2 gets its own slots back.
TEST(SensorTypes, ToRtdRModeTypeTwoKeepsItsSlots)
{
    const float kept[] = {0, 0.2f, 90.0f, 0.135f};
    for (const bool fromThermistor : {false, true}) {
        SCOPED_TRACE(fromThermistor ? "from a thermistor" : "from RTD T mode");
        SimBench b;
        coefficients(b, {1, 1, 0, 0.2, 90.0, 0.135});
        CTqk5820ConfigDoc& doc = b.newDoc();
        ASSERT_TRUE(established(b, doc, 2));
        SensorTypeTracker& t = doc.SensorTypes();
        if (fromThermistor) {
            t.RequestType(0);
            ASSERT_TRUE(established(b, doc, 0));
        }
        EXPECT_EQ(t.RequestType(3), fromThermistor ? 0 : 2);
        if (!fromThermistor) {
            // Only 23 and 24 are written; the code pair stays.
            EXPECT_TRUE(doc.IsOutstanding(23));
            EXPECT_TRUE(doc.IsOutstanding(24));
            EXPECT_FALSE(doc.IsOutstanding(21));
            EXPECT_FALSE(doc.IsOutstanding(22));
        }
        ASSERT_TRUE(established(b, doc, 3));
        EXPECT_EQ(b.sim->unit(1)->sensorType(), 3);
        for (int k = 0; k < 4; ++k)
            EXPECT_FLOAT_EQ(t.Slot(2, 2 + k), kept[k]);
        if (fromThermistor)
            continue;

        // Back to type 2 with the slots it had.
        EXPECT_EQ(t.RequestType(2), 3);
        ASSERT_TRUE(established(b, doc, 2));
        for (int k = 0; k < 4; ++k)
            EXPECT_FLOAT_EQ(t.Slot(2, 2 + k), kept[k]);
        float v = 0;
        ASSERT_TRUE(b.runUntil([&] { return doc.ReadSensorCoefficient(3, v); }));
        EXPECT_FLOAT_EQ(v, 0.2f);
    }
}

TEST(SensorTypes, ACodePairTypedIntoTheFirstTwoSlotsChangesTheType)
{
    struct Case {
        float code;
        int type;
    } cases[] = {{2.0f, 4}, {0.0f, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        SimBench b;
        CTqk5820ConfigDoc& doc = b.newDoc();
        ASSERT_TRUE(established(b, doc, 0));
        SensorTypeTracker& t = doc.SensorTypes();
        float v = 0;
        ASSERT_TRUE(t.WriteCoefficient(0, c.code));
        EXPECT_FALSE(t.CoefficientValue(0, v));   // in flight
        ASSERT_TRUE(b.drain());
        ASSERT_TRUE(t.CoefficientValue(0, v));
        EXPECT_FLOAT_EQ(v, c.code);
        EXPECT_EQ(doc.GetSensorType(), 0);   // (code, 19.9) is still a thermistor point

        ASSERT_TRUE(t.WriteCoefficient(1, c.code));
        ASSERT_TRUE(b.drain());
        ASSERT_TRUE(t.CoefficientValue(1, v));
        EXPECT_FLOAT_EQ(v, c.code);
        EXPECT_EQ(doc.GetSensorType(), kNoType);
        EXPECT_EQ(t.RequestedType(), c.type);
        EXPECT_FALSE(t.Loaded(0));
        EXPECT_FLOAT_EQ(t.Slot(0, 0), 10.0f);   // the row abandoned goes back to its defaults
        EXPECT_FALSE(t.CoefficientValue(1, v));
        ASSERT_TRUE(established(b, doc, c.type));
        EXPECT_EQ(b.sim->unit(1)->sensorType(), c.type);
    }
}

TEST(SensorTypes, CoefficientValuesFollowTheInstrumentsLastText)
{
    SimBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    ASSERT_TRUE(established(b, doc, 0));
    SensorTypeTracker& t = doc.SensorTypes();
    float v = 0;
    ASSERT_TRUE(t.CoefficientValue(5, v));
    EXPECT_FLOAT_EQ(v, 5.236f);
    ASSERT_TRUE(t.WriteCoefficient(5, 5.5f));
    ASSERT_TRUE(b.drain());
    ASSERT_TRUE(t.CoefficientValue(5, v));
    EXPECT_FLOAT_EQ(v, 5.5f);
    EXPECT_FLOAT_EQ(t.Slot(0, 5), 5.5f);
    EXPECT_FALSE(t.CoefficientValue(6, v));
    EXPECT_FALSE(t.CoefficientValue(-1, v));
}

TEST(SensorTypes, ACoefficientWriteThatCannotGoSaysSo)
{
    SimBench b;
    CTqk5820ConfigDoc& doc = b.newDoc();
    SensorTypeTracker& t = doc.SensorTypes();
    EXPECT_FALSE(t.WriteCoefficient(2, 20.0f));   // no type yet
    ASSERT_TRUE(established(b, doc, 0));
    ASSERT_TRUE(doc.RequestRead(23));
    EXPECT_FALSE(t.WriteCoefficient(2, 20.0f));   // 23 in flight
    ASSERT_TRUE(b.drain());
    EXPECT_TRUE(t.WriteCoefficient(2, 20.0f));
    EXPECT_FALSE(t.WriteCoefficient(6, 1.0f));
}

TEST(SensorTypes, GoingOfflineForgetsTheTypeAndItIsFoundAgain)
{
    SimBench b;
    coefficients(b, {2, 2, 1.5});
    CTqk5820ConfigDoc& doc = b.newDoc();
    ASSERT_TRUE(established(b, doc, 4));
    SensorTypeTracker& t = doc.SensorTypes();
    t.RequestType(5);   // abandoned by going offline
    doc.GoOffline();
    for (int i = 0; i < 20; ++i)
        b.pass();   // what was already on its way still reaches the instrument
    EXPECT_EQ(doc.GetSensorType(), kNoType);
    EXPECT_EQ(t.DetectionPhase(), 0);
    EXPECT_EQ(t.RequestedType(), kNoType);
    EXPECT_FALSE(t.Loaded(4));
    for (int type = 0; type < 7; ++type) {
        for (int k = 0; k < 6; ++k)
            EXPECT_FLOAT_EQ(t.Slot(type, k), SensorTypeTracker::DefaultSlot(type, k));
    }
    b.clock.advanceSeconds(5);
    const int now = b.sim->unit(1)->sensorType();
    ASSERT_TRUE(established(b, doc, now));
}

TEST(SensorTypes, AnRtdWhoseModeReadFailsIsAskedAgainUntilItIsKnown)
{
    ScriptBench b;
    b.answerProbeAndCoefficients({"+001.000", "+001.000", "+000.000", "+000.000", "-001.000", "-001.000"});
    b.once[{1, 24}] = {ScriptBench::Answer {5, "+000.000", false, {}}};
    CTqk5820ConfigDoc& doc = b.newDoc();
    ASSERT_TRUE(b.runUntil([&] { return doc.GetSensorType() == 3; }));
    EXPECT_EQ(b.count(1, 24), 2);
    EXPECT_EQ(b.prompts.boxTexts(), std::vector<std::string> {"ERROR - Unit #01 Command 1-24, returned End Code 05."});
}

} // namespace
