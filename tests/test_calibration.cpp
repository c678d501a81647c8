// The calibration document and its procedures against the in-process
// simulator (a production test box where a procedure needs one), on the
// manual clock.

#include "tests/test_config_bench.h"

#include "calibration/CTqk5820CalibrateDoc.h"
#include "calibration/SampleRing.h"
#include "config/ConfigViewNotifications.h"
#include "resources/CalibrationMessages.h"
#include "resources/Messages.h"

#include <algorithm>
#include <cmath>

namespace {

using R = CalibrationRecord;
using Cal = CTqk5820CalibrateDoc;

struct Notes : ConfigViewNotifications {
    void NotifySetPoint() override { ++setPoint; }
    void NotifyLimits() override { ++limits; }
    int setPoint = 0;
    int limits = 0;
};

sim::Options testBoxOptions(bool testBox)
{
    sim::Options o;
    o.testBox = testBox;
    return o;
}

// A controller online on the simulator and a calibration document linked to
// it. Each pass runs the calibration document's PeriodicPass first.
struct CalBench : SimBench {
    explicit CalBench(bool testBox = false) : SimBench(testBoxOptions(testBox)) { passMillis = 50; }

    ~CalBench() override
    {
        if (cal && !cal->IsClosed())
            cal->OnCloseDocument();
    }

    sim::SimUnit& unit() { return *sim->unit(1); }
    std::string held(int p) { return unit().handle(1, p, "+000.000")->data; }
    double heldNumber(int p) { return protocol::textToDouble(held(p)); }
    void force(int p, const std::string& text)
    {
        std::string error;
        ASSERT_TRUE(unit().force(p, text, &error)) << error;
    }

    void openConfig() { config = &newOnlineDoc(1); }

    // Opens the calibration document as the Calibration command does.
    void openCal()
    {
        if (config == nullptr)
            openConfig();
        std::string serial;
        ASSERT_TRUE(runUntil([&] { return config->ReadSerialNumber(serial); }));
        cal = std::make_unique<Cal>(clock, prompts);
        ASSERT_TRUE(cal->OnOpenDocument(Cal::kFileName));
        cal->Link(serial, *config, &notes);
        refresh = [this] {
            if (cal && !cal->IsClosed())
                cal->PeriodicPass();
        };
    }

    // Opened, all values read, switched to resistance mode.
    void openValidated()
    {
        openCal();
        ASSERT_TRUE(runUntil([&] { return cal->IsValidated(); }));
        ASSERT_TRUE(runUntil([&] { return unit().sensorType() == 1 && config->GetSensorType() == 1; }, 2000));
        ASSERT_TRUE(runUntil([&] { return !cal->IsBusy() && !config->AnyOutstanding(); }));
    }

    void runSeconds(double seconds)
    {
        const int passes = static_cast<int>(seconds * 1000.0 / passMillis);
        for (int i = 0; i < passes; ++i)
            pass();
    }

    bool idle(int maxPasses = 400)
    {
        return runUntil([&] { return !cal->IsBusy() && !config->AnyOutstanding(); }, maxPasses);
    }

    bool procedureEnds(int procedure, double seconds = 120)
    {
        return runUntil([&] { return cal->ProcedureState(procedure) == 0; },
                        static_cast<int>(seconds * 1000.0 / passMillis));
    }

    bool statusShown(const std::string& text) const
    {
        return std::find(prompts.statusMessages.begin(), prompts.statusMessages.end(), text)
            != prompts.statusMessages.end();
    }

    std::string lastStatus() const { return prompts.statusMessages.empty() ? "" : prompts.statusMessages.back(); }

    CTqk5820ConfigDoc* config = nullptr;
    std::unique_ptr<Cal> cal;
    Notes notes;
};

// ---------------------------------------------------------------- sample ring

TEST(CalSampleRing, MeanSpreadAndCountHideOldSlots)
{
    SampleRing ring;
    ring.Reset();
    EXPECT_EQ(ring.Mean(), 0.0f);
    ring.Add(1.0f);
    ring.Add(3.0f);
    EXPECT_FLOAT_EQ(ring.Mean(), 2.0f);
    EXPECT_FLOAT_EQ(ring.Spread(), 2.0f);
    ring.Add(5.0f);
    ring.Add(7.0f);
    ring.Add(9.0f);   // wraps into slot 0
    EXPECT_FLOAT_EQ(ring.Mean(), (9.0f + 3.0f + 5.0f + 7.0f) / 4.0f);
    EXPECT_FLOAT_EQ(ring.Spread(), 6.0f);
    EXPECT_EQ(ring.Count(), 5u);
    // After a reset the old numbers are there but not counted.
    ring.Reset();
    ring.Add(4.0f);
    EXPECT_FLOAT_EQ(ring.Mean(), 4.0f);
    EXPECT_FLOAT_EQ(ring.Spread(), 0.0f);
}

TEST(CalSampleRing, StableNeedsFourReadingsWithinToleranceForTheWholeTime)
{
    SampleRing ring;
    ring.Reset();
    std::int64_t now = 1000;
    for (int i = 0; i < 3; ++i) {
        ring.Add(10.0f);
        EXPECT_FALSE(ring.Stable(0.01f, 5, now));
    }
    ring.Add(10.0f);
    EXPECT_TRUE(ring.Stable(0.01f, 0, now));   // no time asked for
    EXPECT_FALSE(ring.Stable(0.01f, 5, now));  // starts timing
    EXPECT_TRUE(ring.Timing());
    EXPECT_FALSE(ring.Stable(0.01f, 5, now + 4));
    EXPECT_TRUE(ring.Stable(0.01f, 5, now + 5));
    EXPECT_FALSE(ring.Timing());   // a yes ends the timing

    // A reading out of tolerance ends the timing; it starts again afterwards.
    EXPECT_FALSE(ring.Stable(0.01f, 5, now + 6));
    ring.Add(10.5f);
    EXPECT_FALSE(ring.Stable(0.01f, 5, now + 20));
    EXPECT_FALSE(ring.Timing());
    for (int i = 0; i < 4; ++i)
        ring.Add(10.5f);
    EXPECT_FALSE(ring.Stable(0.01f, 5, now + 21));
    EXPECT_FALSE(ring.Stable(0.01f, 5, now + 25));
    EXPECT_TRUE(ring.Stable(0.01f, 5, now + 26));
}

TEST(CalSampleRing, WithinTakesTheEndsAndNeedsMoreThanThreeReadings)
{
    const auto ringOf = [](float x, int n) {
        SampleRing r;
        r.Reset();
        for (int i = 0; i < n; ++i)
            r.Add(x);
        return r;
    };
    EXPECT_FALSE(ringOf(10.0f, 3).Within(10.0f, 10.0f));
    EXPECT_TRUE(ringOf(9.0f, 4).Within(10.0f, 10.0f));
    EXPECT_TRUE(ringOf(11.0f, 4).Within(10.0f, 10.0f));
    EXPECT_FALSE(ringOf(8.99f, 4).Within(10.0f, 10.0f));
    EXPECT_FALSE(ringOf(11.01f, 4).Within(10.0f, 10.0f));
    EXPECT_TRUE(ringOf(-9.5f, 4).Within(-10.0f, 10.0f));   // the tolerance is a magnitude
}

// ---------------------------------------------------------------- record and title

TEST(CalDocument, RecordOrderTitleAndSendableNumbers)
{
    const int expected[] = {61, 62, 63, 64, 65, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85, 86, 87, 41, 4, 7, 8};
    for (int i = 0; i < R::kCount; ++i)
        EXPECT_EQ(R::Parameter(i), expected[i]) << i;
    EXPECT_EQ(R::Parameter(23), 0);
    const CalibrationRecord fresh;
    EXPECT_EQ(fresh.biasMode, "-000.000");
    EXPECT_EQ(fresh.values[R::kSetPoint], 10.0f);

    CalBench b;
    b.openConfig();
    Cal cal(b.clock, b.prompts);
    cal.SetTitle("anything");
    EXPECT_EQ(cal.GetTitle(), "");   // not linked yet
    cal.Link("0E0A2851", *b.config, nullptr);
    EXPECT_EQ(cal.GetTitle(), "0E0A2851.cal");
    cal.SetTitle("5820_1.cal");
    EXPECT_EQ(cal.GetTitle(), "0E0A2851.cal");
    cal.Link("0E0A285", *b.config, nullptr);
    EXPECT_EQ(cal.GetTitle(), "");
    cal.Link("", *b.config, nullptr);
    EXPECT_EQ(cal.GetTitle(), "");
    cal.OnCloseDocument();

    for (const float x : {1.02345f, -999.999f, 9999.99f})
        EXPECT_TRUE(Cal::Sendable(x)) << x;
    for (const float x : {-1000.0f, 10000.0f, NAN, INFINITY, -INFINITY})
        EXPECT_FALSE(Cal::Sendable(x)) << x;
}

// ---------------------------------------------------------------- open and validate

TEST(CalDocument, OpeningReadsAll23ValuesThenSwitchesToResistanceModeAndSaysSo)
{
    CalBench b;
    b.openConfig();
    b.force(62, "+101.250");
    b.force(7, "+002.000");
    b.force(8, "-001.500");
    b.force(41, "-000.100");
    b.force(75, "-000.500");
    b.openCal();
    for (int i = 0; i < R::kCount; ++i)
        EXPECT_TRUE(b.cal->PendingRead(i)) << i;
    EXPECT_TRUE(b.cal->IsBusy());
    EXPECT_EQ(b.cal->GetTitle(), " CALLKV .cal");

    ASSERT_TRUE(b.runUntil([&] { return b.cal->IsValidated(); }));
    const CalibrationRecord& r = b.cal->Record();
    EXPECT_FLOAT_EQ(r.values[R::k100uA], 101.25f);
    EXPECT_FLOAT_EQ(r.values[R::kResistor], 10.0f);
    EXPECT_FLOAT_EQ(r.values[R::kActualSlope], 1.0f);
    EXPECT_FLOAT_EQ(r.values[R::kActualOffset], -0.5f);
    EXPECT_EQ(r.biasMode, "-000.100");
    EXPECT_NEAR(r.values[R::kSetPoint], 10.0f, 0.001f);   // 25 C as kOhm
    EXPECT_FLOAT_EQ(r.values[R::kPosLimit], 2.0f);
    EXPECT_FLOAT_EQ(r.values[R::kNegLimit], -1.5f);
    EXPECT_EQ(b.cal->RestoreCopy().biasMode, "-000.100");
    EXPECT_EQ(b.cal->SavedSensorType(), 0);
    EXPECT_TRUE(b.statusShown(msg::kPasswordValidated));

    ASSERT_TRUE(b.runUntil([&] { return b.unit().sensorType() == 1; }));
    EXPECT_TRUE(b.runUntil([&] { return b.config->GetSensorType() == 1; }));
    EXPECT_TRUE(b.prompts.boxes.empty());
}

// ---------------------------------------------------------------- close

TEST(CalDocument, ClosingAValidatedDocumentPutsBackTypeZeroAndTheFourSettings)
{
    CalBench b;
    b.openConfig();
    b.force(7, "+002.000");
    b.force(8, "-001.500");
    b.force(41, "-000.100");
    b.force(3, "+020.000");
    b.openValidated();

    // Calibration drives the unit about.
    b.cal->SetBiasMode("+000.001");
    b.cal->BeginCapture(Cal::kTeCurrentA1);
    b.runSeconds(2);
    EXPECT_EQ(b.held(41), "-000.000");
    EXPECT_EQ(b.held(7), "+002.500");
    EXPECT_TRUE(b.unit().outputOn());
    b.cal->EndCapture(Cal::kTeCurrentA1);
    ASSERT_TRUE(b.idle());
    const int setPointNotes = b.notes.setPoint;
    const int limitNotes = b.notes.limits;

    b.cal->OnCloseDocument();
    EXPECT_TRUE(b.cal->IsClosed());
    EXPECT_EQ(b.unit().sensorType(), 0);
    EXPECT_EQ(b.held(41), "-000.100");
    EXPECT_EQ(b.held(7), "+002.000");
    EXPECT_EQ(b.held(8), "-001.500");
    EXPECT_NEAR(b.heldNumber(3), 20.0, 0.01);
    EXPECT_FALSE(b.unit().outputOn());
    EXPECT_GT(b.notes.setPoint, setPointNotes);
    EXPECT_GT(b.notes.limits, limitNotes);
    EXPECT_FALSE(b.config->IsConsumer(2, b.cal.get()));
    EXPECT_TRUE(b.config->IsOnline());
}

TEST(CalDocument, ClosingBeforeValidationPutsNothingBackAndLeavesTheTypeAlone)
{
    CalBench b;
    b.openConfig();
    b.force(41, "-000.100");
    b.openCal();
    b.pass();   // the first reads go out
    b.cal->OnCloseDocument();
    EXPECT_TRUE(b.cal->IsClosed());
    // The drain let the reads finish, but the document did not validate on
    // its way out: the unit stays in its own type and settings.
    EXPECT_FALSE(b.cal->IsValidated());
    b.runSeconds(3);
    EXPECT_EQ(b.unit().sensorType(), 0);
    EXPECT_EQ(b.config->GetSensorType(), 0);
    EXPECT_EQ(b.held(41), "-000.100");
    EXPECT_FALSE(b.statusShown(msg::kPasswordValidated));
}

TEST(CalDocument, ClosingDuringATeCaptureSwitchesTheOutputOffAndEndsTheCapture)
{
    CalBench b;
    b.openConfig();
    b.force(7, "+002.000");
    b.openValidated();
    // The operator is still in the TE V V1 field when the window closes.
    ASSERT_TRUE(b.cal->BeginCapture(Cal::kTeVoltageV1));
    b.runSeconds(2);
    ASSERT_TRUE(b.unit().outputOn());
    const std::uint32_t samples = b.cal->GetRing(Cal::kRingTeVoltageV1).Count();

    b.cal->OnCloseDocument();
    EXPECT_TRUE(b.cal->IsClosed());
    EXPECT_FALSE(b.unit().outputOn());
    EXPECT_EQ(b.held(7), "+002.000");
    EXPECT_LE(b.cal->GetRing(Cal::kRingTeVoltageV1).Count(), samples + 1);
    EXPECT_EQ(b.cal->GetOutputStateWord(), "+000.000");
}

TEST(CalDocument, NothingStartsBeforeTheValuesAreReadSoTheCloseCopyHoldsTheUsersSettings)
{
    CalBench b;
    b.openConfig();
    b.force(7, "+002.000");
    b.openCal();
    b.pass();
    ASSERT_FALSE(b.cal->IsValidated());
    EXPECT_FALSE(b.cal->StartSetPointHigh());
    EXPECT_FALSE(b.cal->StartResistorProcedure());
    EXPECT_FALSE(b.cal->BeginCapture(Cal::kTeCurrentA1));
    EXPECT_EQ(b.cal->ProcedureState(Cal::kSetPointHigh), 0);
    EXPECT_EQ(b.cal->ProcedureState(Cal::kResistorProcedure), 0);
    b.pass();
    EXPECT_EQ(b.lastStatus(), "ERROR - TE I A1 not started, the instrument is still being read");
    ASSERT_TRUE(b.runUntil([&] { return b.cal->IsValidated(); }));
    EXPECT_NEAR(b.cal->RestoreCopy().values[R::kSetPoint], 10.0f, 0.001f);
    EXPECT_FLOAT_EQ(b.cal->RestoreCopy().values[R::kPosLimit], 2.0f);
    EXPECT_FALSE(b.unit().outputOn());
    // A refused capture that is left again switches nothing.
    b.cal->EndCapture(Cal::kTeCurrentA1);
    EXPECT_FALSE(b.cal->PendingWrite(Cal::kOutputStateWrite));

    // Once validated, both start.
    ASSERT_TRUE(b.idle());
    EXPECT_TRUE(b.cal->BeginCapture(Cal::kTeCurrentA1));
    b.cal->EndCapture(Cal::kTeCurrentA1);
    ASSERT_TRUE(b.idle());
    b.cal->OnCloseDocument();
    EXPECT_EQ(b.held(7), "+002.000");
}

TEST(CalDocument, ATypedValueTheInstrumentCannotTakeIsRefusedAndTheRecordKept)
{
    CalBench b;
    b.openValidated();
    const float before = b.cal->Record().values[R::k10uA];
    EXPECT_FALSE(b.cal->SetRecordValue(R::k1mA, NAN));
    EXPECT_FALSE(b.cal->SetRecordValue(R::k10uA, 10000.0f));
    EXPECT_EQ(b.cal->Record().values[R::k10uA], before);
    EXPECT_FALSE(b.cal->PendingWrite(R::k10uA));
    EXPECT_FALSE(b.cal->PendingWrite(R::k1mA));
    b.pass();
    EXPECT_EQ(b.lastStatus(), "ERROR - Value not Updated, 10000.000000 is out of range");

    EXPECT_TRUE(b.cal->SetRecordValue(R::k10uA, 10.5f));
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.held(61), "+010.500");
}

TEST(CalDocument, AnInstrumentThatGoesAwayClosesTheDocumentWithoutPuttingAnythingBack)
{
    CalBench b;
    b.openConfig();
    b.force(41, "-000.100");
    b.openValidated();
    b.cal->StartPositiveLimit();
    b.runSeconds(1);
    b.control("off 1");
    // The link's time-out takes the controller offline; the next pass closes
    // the calibration document at once, however much was still running.
    ASSERT_TRUE(b.runUntil([&] { return b.cal->IsClosed(); }, 200));
    EXPECT_FALSE(b.config->IsOnline());
    EXPECT_FALSE(b.cal->IsMeasuringTeCurrent());
    b.control("on 1");
    EXPECT_EQ(b.unit().sensorType(), 1);
    EXPECT_EQ(b.held(41), "-000.000");
}

TEST(CalDocument, ARefusedWriteIsRetriedUntilTheInstrumentHasIt)
{
    CalBench b;
    b.openValidated();
    // The bias word is in flight already: the document refuses the write.
    ASSERT_TRUE(b.config->RequestRead(41));
    b.cal->SetBiasMode("+000.100");
    EXPECT_TRUE(b.cal->PendingWrite(R::kBiasMode));
    EXPECT_TRUE(b.cal->IsBusy());
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.held(41), "+000.100");
    // The same word again sends nothing.
    b.cal->SetBiasMode("+000.100");
    EXPECT_FALSE(b.cal->PendingWrite(R::kBiasMode));
    EXPECT_FALSE(b.config->IsOutstanding(41));
}

// ---------------------------------------------------------------- numbers on the wire

TEST(CalDocument, ConstantsGoOutWithThreeDecimalsAndUndefinedNumbersNever)
{
    CalBench b;
    b.openValidated();
    b.cal->SetRecordValue(R::kActualSlope, 1.02345f);
    b.cal->SetRecordValue(R::kActualOffset, -0.5f);
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.held(74), "+001.023");
    EXPECT_EQ(b.held(75), "-000.500");

    // A value that has no text of 8 characters is dropped, not retried for
    // ever and not sent.
    b.cal->SetRecordValue(R::kTeCurrentSlope, NAN);
    b.cal->SetRecordValue(R::kTeCurrentOffset, INFINITY);
    b.cal->SetRecordValue(R::kTeVoltageSlope, 123456.0f);
    b.pass();
    EXPECT_FALSE(b.cal->IsBusy());
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.held(76), "+001.000");
    EXPECT_EQ(b.held(77), "+000.000");
    EXPECT_EQ(b.held(78), "+001.000");
}

// ---------------------------------------------------------------- sampling

TEST(CalDocument, ReadingsAreSampledAtMostOnceASecond)
{
    CalBench b;
    b.passMillis = 10;
    b.openValidated();
    b.cal->MeasureResistance(true);
    EXPECT_TRUE(b.config->IsConsumer(2, b.cal.get()));
    std::int64_t lastSecond = -1;
    std::uint32_t lastCount = 0;
    int grown = 0;
    for (int i = 0; i < 800; ++i) {
        b.pass();
        const std::uint32_t count = b.cal->GetRing(Cal::kRingResistance).Count();
        if (count != lastCount) {
            EXPECT_NE(b.clock.seconds(), lastSecond) << "two samples in one second";
            EXPECT_EQ(count, lastCount + 1);
            lastSecond = b.clock.seconds();
            lastCount = count;
            ++grown;
        }
    }
    EXPECT_GE(grown, 3);
    EXPECT_EQ(b.lastStatus().rfind("Measured Resistance = ", 0), 0u) << b.lastStatus();
    b.cal->MeasureResistance(false);
    EXPECT_FALSE(b.config->IsConsumer(2, b.cal.get()));
}

TEST(CalDocument, AProcedureMessageWaitsForAPassWithoutSampling)
{
    CalBench b;
    b.passMillis = 10;
    b.openValidated();
    b.force(2, "+010.000");
    b.cal->StartResistorProcedure();
    ASSERT_TRUE(b.procedureEnds(Cal::kResistorProcedure));
    // The procedure ended in a pass that may have sampled; its message comes
    // in one of the next passes, which sample nothing.
    b.runSeconds(0.1);
    EXPECT_EQ(b.lastStatus(), "10kOhm Resistor calibrated. Set to : 10.000000");
    EXPECT_EQ(b.cal->GetStatusMessage(), "");
}

// ---------------------------------------------------------------- raw captures

TEST(CalCaptures, ActualTFitsTwoResistorsOnTheTestBoxAndRefusesEqualReadings)
{
    CalBench b(true);
    b.openValidated();
    const auto capture = [&](Cal::CapturePoint point, double resistor) {
        b.unit().setTestResistor(resistor);
        b.cal->BeginCapture(point);
        b.runSeconds(20);
        b.cal->EndCapture(point);
        return b.unit().meters().sensorVolts;
    };
    const double e1 = capture(Cal::kActualV1, 10.0);
    EXPECT_EQ(b.held(41), "+000.010");
    EXPECT_EQ(b.lastStatus().rfind("Raw Actual-T/R, V1 = ", 0), 0u) << b.lastStatus();
    const double e2 = capture(Cal::kActualV2, 40.0);
    const float m1 = b.cal->GetRing(Cal::kRingActualV1).Mean();
    const float m2 = b.cal->GetRing(Cal::kRingActualV2).Mean();

    // A reading that fails the conditions writes nothing and says nothing.
    const std::size_t said = b.prompts.statusMessages.size();
    b.cal->SetMeasuredValue(Cal::kActualV1, -static_cast<float>(e1));
    b.cal->SetMeasuredValue(Cal::kActualV2, static_cast<float>(e2));
    b.runSeconds(0.5);
    EXPECT_EQ(b.held(74), "+001.000");
    EXPECT_EQ(b.prompts.statusMessages.size(), said);

    b.cal->SetMeasuredValue(Cal::kActualV1, static_cast<float>(e1));
    ASSERT_TRUE(b.idle());
    const float slope = (static_cast<float>(e2) - static_cast<float>(e1)) / (m2 - m1);
    const float offset = static_cast<float>(e2) - slope * m2;
    EXPECT_FLOAT_EQ(b.cal->Record().values[R::kActualSlope], slope);
    EXPECT_EQ(b.held(74), protocol::renderNumber(slope));
    EXPECT_EQ(b.held(75), protocol::renderNumber(offset));
    EXPECT_NEAR(slope, 1.0 / sim::SimUnit::uncalibratedBoard().rawGain[0], 0.002);
    char text[160];
    std::snprintf(text, sizeof text, "Actual T/R Calibration Updated.  Slope = %f, Offset = %f",
                  static_cast<double>(slope), static_cast<double>(offset));
    EXPECT_TRUE(b.statusShown(text));

    // Both points captured on one resistor: no slope, nothing written.
    capture(Cal::kActualV1, 25.0);
    capture(Cal::kActualV2, 25.0);
    ASSERT_EQ(b.cal->GetRing(Cal::kRingActualV1).Mean(), b.cal->GetRing(Cal::kRingActualV2).Mean());
    b.cal->SetMeasuredValue(Cal::kActualV2, 2.6f);
    b.runSeconds(0.5);
    EXPECT_EQ(b.lastStatus(), "ERROR - Actual T/R Calibration not Updated, both raw readings are equal");
    EXPECT_EQ(b.held(74), protocol::renderNumber(slope));
}

TEST(CalCaptures, TheFourTePointsSwitchTheOutputOnAndOffAndFitCurrentAndVoltage)
{
    CalBench b(true);
    b.openValidated();
    std::array<double, 4> meter {};
    const Cal::CapturePoint points[] = {Cal::kTeCurrentA1, Cal::kTeCurrentA2, Cal::kTeVoltageV1, Cal::kTeVoltageV2};
    for (int k = 0; k < 4; ++k) {
        b.cal->BeginCapture(points[k]);
        b.runSeconds(1);
        EXPECT_TRUE(b.unit().outputOn()) << k;
        EXPECT_EQ(b.held(41), "-000.000");
        EXPECT_EQ(b.held(4), k % 2 == 0 ? "+449.000" : "+000.100");
        b.runSeconds(20);
        meter[static_cast<std::size_t>(k)] = k < 2 ? b.unit().meters().teCurrent : b.unit().meters().teVolts;
        b.cal->EndCapture(points[k]);
        b.runSeconds(0.5);
        EXPECT_FALSE(b.unit().outputOn()) << k;
    }
    EXPECT_GT(b.cal->GetRing(Cal::kRingTeCurrentA1).Mean(), 0.0f);
    EXPECT_LT(b.cal->GetRing(Cal::kRingTeCurrentA2).Mean(), 0.0f);

    // TE I: the first point must be positive and the second negative.
    const std::size_t said = b.prompts.statusMessages.size();
    b.cal->SetMeasuredValue(Cal::kTeCurrentA1, -static_cast<float>(meter[0]));
    b.cal->SetMeasuredValue(Cal::kTeCurrentA2, static_cast<float>(meter[1]));
    b.cal->SetMeasuredValue(Cal::kTeCurrentA2, -static_cast<float>(meter[1]));
    b.runSeconds(0.5);
    EXPECT_EQ(b.held(76), "+001.000");
    EXPECT_EQ(b.prompts.statusMessages.size(), said);

    b.cal->SetMeasuredValue(Cal::kTeCurrentA1, static_cast<float>(meter[0]));
    b.cal->SetMeasuredValue(Cal::kTeCurrentA2, static_cast<float>(meter[1]));
    ASSERT_TRUE(b.idle());
    b.cal->SetMeasuredValue(Cal::kTeVoltageV1, static_cast<float>(meter[2]));
    b.cal->SetMeasuredValue(Cal::kTeVoltageV2, static_cast<float>(meter[3]));
    ASSERT_TRUE(b.idle());
    const sim::SimUnit::Board board = sim::SimUnit::uncalibratedBoard();
    EXPECT_NEAR(b.heldNumber(76), 1.0 / board.rawGain[1], 0.002);
    EXPECT_NEAR(b.heldNumber(78), 1.0 / board.rawGain[2], 0.002);
    EXPECT_EQ(b.lastStatus().rfind("TE Voltage Calibration Updated.  Slope = ", 0), 0u) << b.lastStatus();
    EXPECT_TRUE(std::any_of(b.prompts.statusMessages.begin(), b.prompts.statusMessages.end(), [](const std::string& s) {
        return s.rfind("TE Current Calibration Updated.  Slope = ", 0) == 0;
    }));
}

// ---------------------------------------------------------------- resistor

TEST(CalResistor, MeansOfNineAndElevenAreAcceptedAndBelowNineShowsTheBox)
{
    CalBench b;
    b.openValidated();
    for (const char* value : {"+009.000", "+011.000"}) {
        b.force(2, value);
        ASSERT_TRUE(b.cal->StartResistorProcedure());
        EXPECT_EQ(b.cal->ProcedureState(Cal::kResistorProcedure), 1);
        b.pass();
        EXPECT_EQ(b.held(41), "+010.010");
        // A second press runs the current step again; it does not restart.
        const std::uint32_t count = b.cal->GetRing(Cal::kRingResistance).Count();
        b.runSeconds(3);
        b.cal->StartResistorProcedure();
        EXPECT_GE(b.cal->GetRing(Cal::kRingResistance).Count(), count);
        EXPECT_EQ(b.cal->ProcedureState(Cal::kResistorProcedure), 1);
        ASSERT_TRUE(b.procedureEnds(Cal::kResistorProcedure));
        ASSERT_TRUE(b.idle());
        EXPECT_EQ(b.held(65), value);
        EXPECT_EQ(b.held(41), "-000.000");
        EXPECT_FALSE(b.cal->IsMeasuringResistance());
    }
    EXPECT_TRUE(b.prompts.boxes.empty());
    EXPECT_TRUE(b.statusShown("10kOhm Resistor calibrated. Set to : 11.000000"));

    // 8.99: the box; Abort ends it without a value.
    b.force(2, "+008.990");
    b.prompts.answers = {MessageAnswer::Abort};
    b.cal->StartResistorProcedure();
    ASSERT_TRUE(b.procedureEnds(Cal::kResistorProcedure));
    ASSERT_EQ(b.prompts.boxes.size(), 1u);
    EXPECT_EQ(b.prompts.boxes[0].text,
              "ERROR - 10K Resistor out of tolerence\nProbable Cause(s):\nSensor Amp Meter connected to test box");
    EXPECT_EQ(b.prompts.boxes[0].buttons, MessageButtons::AbortRetryIgnore);
    EXPECT_EQ(b.prompts.boxes[0].caption, "Tessol");
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.held(65), "+011.000");
    EXPECT_EQ(b.held(41), "-000.000");
    EXPECT_TRUE(b.statusShown("AD590 10kOhm Resistor calibration aborted"));

    // Retry measures again; Ignore takes the value as it is.
    b.prompts.answers = {MessageAnswer::Retry, MessageAnswer::Ignore};
    b.cal->StartResistorProcedure();
    ASSERT_TRUE(b.procedureEnds(Cal::kResistorProcedure));
    EXPECT_EQ(b.prompts.boxes.size(), 3u);
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.held(65), "+008.990");
}

TEST(CalResistor, TheTestBoxsReferenceResistorIsMeasuredAndTheAmmeterCaught)
{
    CalBench b(true);
    b.openValidated();
    b.cal->StartResistorProcedure();
    ASSERT_TRUE(b.procedureEnds(Cal::kResistorProcedure));
    EXPECT_TRUE(b.prompts.boxes.empty());
    ASSERT_TRUE(b.idle());
    EXPECT_NEAR(b.heldNumber(65), 9.75, 0.1);

    b.unit().setBiasAmmeter(true);
    b.prompts.answers = {MessageAnswer::Abort};
    b.cal->StartResistorProcedure();
    ASSERT_TRUE(b.procedureEnds(Cal::kResistorProcedure));
    EXPECT_EQ(b.prompts.boxes.size(), 1u);
}

// ---------------------------------------------------------------- set point

TEST(CalSetPoint, LowAloneFitsNothingThenHighFitsWithBothAndWithoutReferences)
{
    CalBench b(true);
    b.openConfig();
    b.force(82, "+001.200");
    b.force(83, "+000.300");
    b.openValidated();
    ASSERT_TRUE(b.cal->StartSetPointLow());
    EXPECT_EQ(b.cal->ProcedureState(Cal::kSetPointLow), 1);
    ASSERT_TRUE(b.procedureEnds(Cal::kSetPointLow));
    EXPECT_GT(b.cal->GetRLow(), 9.0f);
    EXPECT_EQ(b.cal->GetRHigh(), 0.0f);
    EXPECT_FALSE(b.unit().outputOn());
    ASSERT_TRUE(b.idle());
    for (const std::string& s : b.prompts.statusMessages)
        EXPECT_EQ(s.find("SetPoint Updated"), std::string::npos) << s;
    // The reset of the coefficients reached the unit before the drive.
    EXPECT_EQ(b.held(82), "+001.000");
    EXPECT_EQ(b.held(83), "+000.000");

    ASSERT_TRUE(b.cal->StartSetPointHigh());
    ASSERT_TRUE(b.procedureEnds(Cal::kSetPointHigh));
    ASSERT_TRUE(b.idle());
    const float low = b.cal->GetRLow();
    const float high = b.cal->GetRHigh();
    EXPECT_GT(high, 35.0f);
    const float sp = -30.0f / (low - high);
    const float op = (10.0f - low * sp) * b.cal->Record().values[R::k100uA] * 0.001f;
    EXPECT_FLOAT_EQ(b.cal->Record().values[R::kSetPointPosSlope], sp);
    EXPECT_EQ(b.held(80), protocol::renderNumber(sp));
    EXPECT_EQ(b.held(81), protocol::renderNumber(op));
    EXPECT_EQ(b.held(82), "+001.000");
    EXPECT_EQ(b.held(83), "+000.000");
    char text[200];
    std::snprintf(text, sizeof text, "SetPoint Updated : Pos Slope = %f, Offset = %f, ERROR-NO +/- Ref. Neg not Calibrated",
                  static_cast<double>(sp), static_cast<double>(op));
    EXPECT_TRUE(b.statusShown(text)) << b.lastStatus();

    // With both references the negative pair follows from their ratio; a
    // repeated step refits with the other step's last result.
    b.cal->SetReference(Cal::kRefPlus, 5.0f);
    b.cal->SetReference(Cal::kRefMinus, -4.0f);
    ASSERT_TRUE(b.cal->StartSetPointHigh());
    ASSERT_TRUE(b.procedureEnds(Cal::kSetPointHigh));
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.cal->GetRLow(), low);
    const float sp2 = b.cal->Record().values[R::kSetPointPosSlope];
    EXPECT_FLOAT_EQ(b.cal->Record().values[R::kSetPointNegSlope], 1.25f * sp2);
    EXPECT_FLOAT_EQ(b.cal->Record().values[R::kSetPointNegOffset], b.cal->Record().values[R::kSetPointPosOffset]);
    EXPECT_EQ(b.held(82), protocol::renderNumber(1.25f * sp2));
    EXPECT_NE(b.lastStatus().find(", Neg Slope = "), std::string::npos) << b.lastStatus();
    // The set-point path of the test box's board now reaches what is asked.
    EXPECT_NEAR(sp2, 1.0 / sim::SimUnit::uncalibratedBoard().setPointGain, 0.01);
}

TEST(CalSetPoint, EqualResistancesAndAZeroReferenceWriteNothingUndefined)
{
    CalBench b;
    b.openValidated();
    b.force(2, "+020.000");
    b.cal->SetReference(Cal::kRefPlus, 5.0f);
    b.cal->SetReference(Cal::kRefMinus, 0.0f);
    b.cal->StartSetPointLow();
    ASSERT_TRUE(b.procedureEnds(Cal::kSetPointLow));
    b.cal->StartSetPointHigh();
    ASSERT_TRUE(b.procedureEnds(Cal::kSetPointHigh));
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.lastStatus(), "ERROR - SetPoint not Updated, R Low equals R High");
    EXPECT_EQ(b.held(80), "+001.000");
    EXPECT_EQ(b.held(81), "+000.000");

    // Different resistances, but Ref - of 0 V: no negative pair.
    b.force(2, "+030.000");
    b.cal->StartSetPointHigh();
    ASSERT_TRUE(b.procedureEnds(Cal::kSetPointHigh));
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.held(80), protocol::renderNumber(-30.0f / (20.0f - 30.0f)));
    EXPECT_EQ(b.held(82), "+001.000");
    EXPECT_NE(b.lastStatus().find("ERROR-NO +/- Ref. Neg not Calibrated"), std::string::npos) << b.lastStatus();
    EXPECT_TRUE(std::isfinite(b.cal->Record().values[R::kSetPointNegSlope]));
}

// ---------------------------------------------------------------- current limits

TEST(CalLimits, BothLimitProceduresFitTheTestBoxsLimitPaths)
{
    CalBench b(true);
    b.openValidated();
    ASSERT_TRUE(b.cal->StartPositiveLimit());
    b.runSeconds(0.5);
    // The limit procedures share the TE current: the other one waits.
    EXPECT_FALSE(b.cal->StartNegativeLimit());
    EXPECT_EQ(b.cal->ProcedureState(Cal::kNegativeLimit), 0);
    b.runSeconds(0.2);
    EXPECT_EQ(b.lastStatus(), "ERROR - NEG LIM I not started, POS LIM I is still running");
    // Nor does the resistor procedure, whose bias word the drive would change.
    EXPECT_FALSE(b.cal->StartResistorProcedure());
    EXPECT_EQ(b.cal->ProcedureState(Cal::kResistorProcedure), 0);
    ASSERT_TRUE(b.procedureEnds(Cal::kPositiveLimit));
    ASSERT_TRUE(b.idle());
    // TE I is not calibrated here: the currents come through its raw channel's error.
    const sim::SimUnit::Board board = sim::SimUnit::uncalibratedBoard();
    const double gain = board.rawGain[1];
    EXPECT_NEAR(b.cal->GetI1(), gain * (board.posLimitGain * 1.0 + board.posLimitOffset) + board.rawOffset[1], 0.002);
    EXPECT_NEAR(b.heldNumber(84), 1.0 / (board.posLimitGain * gain), 0.002);
    EXPECT_FALSE(b.unit().outputOn());
    EXPECT_TRUE(std::any_of(b.prompts.statusMessages.begin(), b.prompts.statusMessages.end(), [](const std::string& s) {
        return s.rfind("Pos Limit Updated : Slope = ", 0) == 0;
    }));

    ASSERT_TRUE(b.cal->StartNegativeLimit());
    ASSERT_TRUE(b.procedureEnds(Cal::kNegativeLimit));
    ASSERT_TRUE(b.idle());
    EXPECT_LT(b.cal->GetI2(), -3.0f);
    EXPECT_NEAR(b.heldNumber(86), 1.0 / (board.negLimitGain * gain), 0.002);
    EXPECT_EQ(b.lastStatus().rfind("Neg Limit Updated : Slope = ", 0), 0u) << b.lastStatus();
    EXPECT_EQ(b.held(8), "-003.500");
}

TEST(CalProcedures, NoProcedureOrCaptureStartsWhileAnotherProcedureRuns)
{
    CalBench b;
    b.openValidated();
    b.force(2, "+020.000");
    ASSERT_TRUE(b.cal->StartSetPointLow());
    b.runSeconds(1);
    // Each of these would drive the set point, limits, output or bias word
    // under the running step.
    EXPECT_FALSE(b.cal->StartPositiveLimit());
    b.runSeconds(1.2);
    EXPECT_TRUE(b.statusShown("ERROR - POS LIM I not started, Pos SET T Low is still running"));
    EXPECT_FALSE(b.cal->StartNegativeLimit());
    EXPECT_FALSE(b.cal->StartSetPointHigh());
    EXPECT_FALSE(b.cal->BeginCapture(Cal::kTeCurrentA2));
    EXPECT_FALSE(b.cal->BeginCapture(Cal::kActualV1));
    for (int p : {Cal::kPositiveLimit, Cal::kNegativeLimit, Cal::kSetPointHigh})
        EXPECT_EQ(b.cal->ProcedureState(p), 0) << p;
    b.runSeconds(1.2);
    EXPECT_TRUE(b.statusShown("ERROR - ACT T V1 not started, Pos SET T Low is still running"));
    EXPECT_EQ(b.held(4), "+010.000");
    EXPECT_EQ(b.held(7), "+002.500");
    EXPECT_EQ(b.held(41), "-000.000");
    // Its own button runs its step again.
    EXPECT_TRUE(b.cal->StartSetPointLow());

    ASSERT_TRUE(b.procedureEnds(Cal::kSetPointLow));
    EXPECT_NEAR(b.cal->GetRLow(), 20.0f, 0.001f);
    EXPECT_TRUE(b.cal->StartPositiveLimit());
    b.runSeconds(1);
    EXPECT_FALSE(b.cal->BeginCapture(Cal::kTeVoltageV2));
    EXPECT_FALSE(b.cal->StartSetPointLow());
}

TEST(CalLimits, EqualCurrentsWriteNoSlope)
{
    CalBench b;
    b.openValidated();
    b.force(5, "+001.000");
    b.cal->StartPositiveLimit();
    ASSERT_TRUE(b.procedureEnds(Cal::kPositiveLimit));
    ASSERT_TRUE(b.idle());
    EXPECT_EQ(b.lastStatus(), "ERROR - Pos Limit not Updated, both currents are equal");
    EXPECT_EQ(b.held(84), "+001.000");
    EXPECT_EQ(b.held(85), "+000.000");
    EXPECT_FALSE(b.unit().outputOn());
    EXPECT_FALSE(b.config->IsConsumer(5, b.cal.get()));
}

TEST(CalLimits, ClosingEndsAWaitingStepAtOnceWithoutAFit)
{
    CalBench b;
    b.openValidated();
    b.force(5, "+001.000");
    b.cal->StartNegativeLimit();
    ASSERT_TRUE(b.runUntil([&] { return b.cal->ProcedureState(Cal::kNegativeLimit) == 2; }));
    const std::int64_t before = b.clock.seconds();
    b.cal->OnCloseDocument();
    EXPECT_LT(b.clock.seconds() - before, 4);
    EXPECT_EQ(b.cal->ProcedureState(Cal::kNegativeLimit), 0);
    EXPECT_FALSE(b.unit().outputOn());
    EXPECT_EQ(b.held(86), "+001.000");
    EXPECT_EQ(b.held(8), "-002.500");   // put back
}

// ---------------------------------------------------------------- Clear EEPROM

TEST(CalClearEeprom, TheWipeGoesLastAndTakesTheControllerOffline)
{
    CalBench b;
    b.openValidated();
    // Cancel: nothing happens.
    b.prompts.answers = {MessageAnswer::Cancel};
    b.cal->ClearEeprom();
    ASSERT_EQ(b.prompts.boxes.size(), 1u);
    EXPECT_EQ(b.prompts.boxes[0].text, msg::kWipeEepromWarning);
    EXPECT_EQ(b.prompts.boxes[0].buttons, MessageButtons::OkCancel);
    EXPECT_FALSE(b.cal->IsClosed());

    // A write still in flight is answered before the wipe goes out.
    ASSERT_TRUE(b.config->WriteNumber(75, 0.5f));
    b.cal->ClearEeprom();
    EXPECT_EQ(b.prompts.boxes.size(), 2u);   // unit 1: no note
    EXPECT_EQ(b.held(75), "+000.000");
    EXPECT_EQ(b.held(41), "-000.010");       // the unit's defaults
    EXPECT_EQ(b.unit().sensorType(), 0);
    EXPECT_FALSE(b.config->IsOnline());
    EXPECT_TRUE(b.cal->IsClosed());
    EXPECT_EQ(b.prompts.waitDepth, 0);
    EXPECT_EQ(std::count(b.prompts.statusMessages.begin(), b.prompts.statusMessages.end(),
                         std::string(msg::kEepromNotCleared)),
              0);
}

TEST(CalClearEeprom, AWipeTheInstrumentNeverTookIsNotPassedOffAsDone)
{
    CalBench b;
    b.openValidated();
    b.control("off 1");
    b.cal->ClearEeprom();
    EXPECT_TRUE(b.cal->IsClosed());
    EXPECT_FALSE(b.config->IsOnline());
    ASSERT_FALSE(b.prompts.statusMessages.empty());
    EXPECT_EQ(b.prompts.statusMessages.back(), msg::kEepromNotCleared);
}

TEST(CalClearEeprom, AnotherUnitNumberIsToldItReturnsToOne)
{
    sim::Options options;
    options.units = {4};
    SimBench raw(options);
    raw.passMillis = 50;
    CTqk5820ConfigDoc& config = raw.newOnlineDoc(4);
    Cal cal(raw.clock, raw.prompts);
    cal.OnOpenDocument(Cal::kFileName);
    cal.Link("0E0A2851", config, nullptr);
    raw.refresh = [&] {
        if (!cal.IsClosed())
            cal.PeriodicPass();
    };
    ASSERT_TRUE(raw.runUntil([&] { return cal.IsValidated(); }));
    cal.ClearEeprom();
    ASSERT_EQ(raw.prompts.boxes.size(), 2u);
    EXPECT_EQ(raw.prompts.boxes[1].text, "NOTE: Remember, the Unit Number will be returned to 1");
    EXPECT_EQ(raw.sim->unit(1)->address(), 1);
    EXPECT_TRUE(cal.IsClosed());
    EXPECT_FALSE(config.IsOnline());
}

} // namespace
