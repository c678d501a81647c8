// The sampler behind a controller window's graph and readings log, on the
// document with the in-process simulator and a manual clock.

#include "config/GraphScale.h"
#include "config/ReadingSampler.h"
#include "tests/support/CsvText.h"
#include "tests/test_config_bench.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A document online on unit 1 with a sampler driven at the start of every
// pass, as the view drives it.
struct SamplerBench : SimBench {
    CTqk5820ConfigDoc& doc;
    ReadingSampler sampler;

    SamplerBench() : doc(newDoc()), sampler(doc, clock, &prompts)
    {
        refresh = [this] { sampler.Step(); };
        EXPECT_TRUE(runUntil([this] { return doc.IsOnline() && doc.GetSensorType() != 7; }, 2000));
    }

    ~SamplerBench() override
    {
        for (auto& d : docs)
            d->OnCloseDocument();
    }

    // One second of the clock, in passes of 50 ms: room for every reading
    // a log asks for, as on a line with one unit.
    void second()
    {
        for (int i = 0; i < 20; ++i) {
            pass();
            clock.advanceMillis(50);
        }
    }
};

// The rows of a log, split into fields, without comment and column lines.
std::vector<std::vector<std::string>> rowFields(const std::string& path)
{
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : logRows(path))
        rows.push_back(fields(line));
    return rows;
}

// A log in a folder of its own, removed at the end.
struct LoggedSampler : SamplerBench {
    std::string dir;
    std::string path;

    LoggedSampler()
    {
        char tmp[] = "/tmp/tessol-sampler-XXXXXX";
        if (::mkdtemp(tmp) != nullptr)
            dir = tmp;
        path = dir + "/log.csv";
        EXPECT_TRUE(sampler.StartLog(path, true));
    }
    ~LoggedSampler() override
    {
        sampler.StopLog();
        std::remove(path.c_str());
        ::rmdir(dir.c_str());
    }

    // A second in which the sampler is stepped but the line does not move,
    // as for a window whose turn on a busy line has not come.
    void quietSecond(bool halted = false)
    {
        for (int i = 0; i < 10; ++i) {
            sampler.Step(halted);
            clock.advanceMillis(100);
        }
    }
};

TEST(ReadingSampler, DoesNothingWhileNeitherAGraphNorALogWantsIt)
{
    SamplerBench b;
    b.drain();
    const auto seen = b.sim->commandsSeen();
    for (int i = 0; i < 3; ++i)
        b.second();
    EXPECT_FALSE(b.sampler.IsActive());
    EXPECT_TRUE(b.sampler.Samples().empty());
    EXPECT_FALSE(b.doc.IsConsumer(5, &b.sampler));
    // Only the sensor-type tracker's own reads went out, if any.
    EXPECT_LE(b.sim->commandsSeen() - seen, 3u);

    b.sampler.SetPlotting(true);
    EXPECT_TRUE(b.doc.IsConsumer(5, &b.sampler));
    for (int i = 0; i < 3; ++i)
        b.second();
    EXPECT_GE(b.sampler.Samples().size(), 2u);
    b.sampler.SetPlotting(false);
    for (int p : {1, 2, 5, 6})
        EXPECT_FALSE(b.doc.IsConsumer(p, &b.sampler)) << p;
}

TEST(ReadingSampler, HoursOfRunningKeepTheLastHourInTheRoomOfAnHour)
{
    SamplerBench b;
    b.sampler.SetPlotting(true);
    const int seconds = 2 * 3600 + 17;
    for (int s = 0; s < seconds; ++s)
        b.second();
    const ReadingHistory& ring = b.sampler.Samples();
    EXPECT_EQ(ring.size(), ReadingHistory::kHourCapacity);
    EXPECT_EQ(ring.pushed(), static_cast<std::uint64_t>(seconds - 1));
    // The second under way is still open.
    EXPECT_EQ(ring.back().utcMillis / 1000, b.clock.seconds() - 2);
    EXPECT_LE(b.clock.utcMillis() - ring.at(0).utcMillis, 3700 * 1000);
    // The readings kept coming all along.
    int complete = 0;
    for (std::size_t i = 0; i < ring.size(); ++i)
        complete += ring.at(i).online && ring.at(i).have == 7 ? 1 : 0;
    EXPECT_EQ(complete, static_cast<int>(ring.size()));
}

TEST(ReadingSampler, SecondsWithoutAPassBecomeGapsAndRowsWithoutReadings)
{
    LoggedSampler b;
    const std::string& path = b.path;
    ASSERT_TRUE(b.sampler.IsLogging());
    for (int i = 0; i < 3; ++i)
        b.second();
    const std::uint64_t before = b.sampler.Samples().pushed();

    // A modal box held the program for 5 seconds: the second under way
    // closes, the five after it are gaps.
    b.clock.advanceSeconds(5);
    b.pass();
    const ReadingHistory& ring = b.sampler.Samples();
    ASSERT_EQ(ring.pushed(), before + 6);
    for (std::size_t i = ring.size() - 5; i < ring.size(); ++i) {
        EXPECT_FALSE(ring.at(i).online);
        EXPECT_EQ(ring.at(i).have, 0);
        EXPECT_EQ(ring.at(i).utcMillis - ring.at(i - 1).utcMillis, 1000);
    }
    const auto lines = fileLines(path);
    ASSERT_EQ(rowFields(path).size(), 3u + 5u);
    for (std::size_t i = lines.size() - 5; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].substr(25), ",???.???,???.???,???.???,???.???,???,") << lines[i];

    // A clock set forward by a day is not filled in.
    b.clock.advanceSeconds(24 * 3600);
    b.pass();
    EXPECT_EQ(ring.pushed(), before + 7);
    EXPECT_EQ(rowFields(path).size(), 3u + 5u + 1u);
    b.sampler.StopLog(true);
    EXPECT_EQ(b.prompts.statusMessages.back(), "Readings logged to " + path);
}

TEST(ReadingSampler, AFullDiskStopsTheLogWithOneBoxAndTheGraphGoesOn)
{
    SamplerBench b;
    b.sampler.SetPlotting(true);
    ASSERT_TRUE(b.sampler.StartLog("/dev/full", false));
    EXPECT_TRUE(b.doc.IsConsumer(6, &b.sampler));
    for (int i = 0; i < 4; ++i)
        b.second();
    ASSERT_EQ(b.prompts.boxes.size(), 1u);
    EXPECT_EQ(b.prompts.boxes[0].text,
              "ERROR - Cannot write the log file /dev/full: No space left on device. Logging has stopped.");
    EXPECT_FALSE(b.prompts.boxes[0].waited) << "a report: the other windows go on polling and logging";
    EXPECT_FALSE(b.sampler.IsLogging());
    EXPECT_FALSE(b.doc.IsConsumer(6, &b.sampler));
    EXPECT_TRUE(b.sampler.IsActive());
    EXPECT_GE(b.sampler.Samples().size(), 3u);
    EXPECT_TRUE(b.sampler.Samples().back().online);
    EXPECT_TRUE(b.doc.IsOnline());
}

TEST(ReadingSampler, ASinkGetsEachSecondTheUnitAnsweredWithEveryReading)
{
    SamplerBench b;
    std::vector<csvlog::Row> rows;
    b.sampler.SetSecondSink([&](const csvlog::Row& row, bool resistance) {
        EXPECT_FALSE(resistance);
        rows.push_back(row);
    });
    EXPECT_TRUE(b.sampler.IsActive());
    EXPECT_TRUE(b.doc.IsConsumer(6, &b.sampler));
    for (int i = 0; i < 4; ++i)
        b.second();
    ASSERT_GE(rows.size(), 3u);
    // The first second may end before the output word's first answer.
    for (std::size_t i = 1; i < rows.size(); ++i) {
        for (const std::string& reading : {rows[i].actual, rows[i].setPoint, rows[i].current, rows[i].voltage})
            EXPECT_TRUE(isNumber(reading)) << reading;
        EXPECT_EQ(rows[i].output, "off");
    }

    // Seconds in which the unit did not answer hand nothing on.
    b.control("off 1");
    for (int i = 0; i < 10 && b.doc.IsOnline(); ++i)
        b.second();
    ASSERT_FALSE(b.doc.IsOnline());
    b.second();
    const std::size_t offline = rows.size();
    for (int i = 0; i < 3; ++i)
        b.second();
    EXPECT_EQ(rows.size(), offline);

    b.sampler.SetSecondSink({});
    EXPECT_FALSE(b.sampler.IsActive());
    EXPECT_FALSE(b.doc.IsConsumer(6, &b.sampler));
}

TEST(ReadingSampler, TheSetPointChangedAtTheInstrumentReachesTheGraphTheLogAndTheSink)
{
    LoggedSampler b;
    std::vector<csvlog::Row> sunk;
    b.sampler.SetSecondSink([&](const csvlog::Row& row, bool) { sunk.push_back(row); });
    for (int i = 0; i < 3; ++i)
        b.second();
    ASSERT_FALSE(sunk.empty());
    ASSERT_NE(sunk.back().setPoint, "10.000");

    ASSERT_EQ(b.control("set 1 3 10"), "ok");
    for (int i = 0; i < 3; ++i)
        b.second();
    EXPECT_EQ(sunk.back().setPoint, "10.000");
    ASSERT_TRUE(b.sampler.Samples().back().has(GraphSample::kSetPoint));
    EXPECT_FLOAT_EQ(b.sampler.Samples().back().setPoint, 10.0f);
    EXPECT_EQ(rowFields(b.path).back().at(2), "10.000");
}

// What a log row holds while the unit's newest readings are older than the
// row: repeated with their age while the unit answers (a busy line reaches
// it less often than once a second), up to ten seconds; never while it does
// not answer or polling is halted.
TEST(ReadingSampler, ARowRepeatsTheNewestReadingOnlyWhileTheUnitAnswers)
{
    enum Stretch { kBusyLine, kHalted, kUnitOff };
    const struct {
        const char* name;
        Stretch stretch;
        int seconds;
        // Rows 1 to this many into the stretch repeat the readings before it.
        int repeated;
        // Rows from this one on show none.
        int missingFrom;
    } cases[] = {
        {"busy line, 4 s", kBusyLine, 4, 4, 99},
        {"busy line, 12 s", kBusyLine, 12, 9, 10},
        {"polling halted", kHalted, 4, 0, 1},
        {"unit switched off", kUnitOff, 4, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LoggedSampler b;
        std::size_t sunk = 0;
        b.sampler.SetSecondSink([&](const csvlog::Row&, bool) { ++sunk; });
        for (int i = 0; i < 4; ++i)
            b.second();
        std::vector<std::vector<std::string>> rows = rowFields(b.path);
        ASSERT_GE(rows.size(), 3u);
        // The unit answered every second: nothing repeated, no age.
        EXPECT_EQ(rows.back().size(), 6u);
        for (int f = 1; f < 5; ++f)
            EXPECT_TRUE(isNumber(rows.back()[f])) << rows.back()[f];
        if (c.stretch == kUnitOff) {
            b.control("off 1");
            for (int i = 0; i < 10 && b.doc.IsOnline(); ++i)
                b.second();
            ASSERT_FALSE(b.doc.IsOnline());
        }
        const auto stretchSecond = [&] {
            if (c.stretch == kUnitOff)
                b.second();
            else
                b.quietSecond(c.stretch == kHalted);
        };
        // Its first step closes the row of the second before.
        stretchSecond();
        const std::size_t before = rowFields(b.path).size();
        const std::size_t sunkBefore = sunk;
        for (int i = 0; i < c.seconds; ++i)
            stretchSecond();
        rows = rowFields(b.path);
        ASSERT_EQ(rows.size(), before + static_cast<std::size_t>(c.seconds));
        for (int k = 1; k <= c.seconds; ++k) {
            const std::vector<std::string>& row = rows[before + static_cast<std::size_t>(k) - 1];
            SCOPED_TRACE("row " + std::to_string(k) + " of the stretch");
            ASSERT_GE(row.size(), 6u);
            if (k <= c.repeated) {
                for (int f = 1; f < 5; ++f)
                    EXPECT_EQ(row[f], rows[before - 1][f]);
                ASSERT_EQ(row.size(), 7u);
                // Readings of one second, the row closed k seconds later.
                const double age = std::stod(row[6]);
                EXPECT_GT(age, k);
                EXPECT_LE(age, k + 1.0);
            } else if (k >= c.missingFrom) {
                for (int f = 1; f < 5; ++f)
                    EXPECT_EQ(row[f], "???.???");
                EXPECT_EQ(row[5], "???");
                EXPECT_EQ(row.size(), 6u) << "no age without a reading";
            }
        }
        if (c.stretch != kBusyLine) {
            // And the graph and the broker get nothing.
            EXPECT_EQ(sunk, sunkBefore);
            EXPECT_FALSE(b.sampler.Samples().back().online);
        }

        // Once the unit is reached again the rows are fresh.
        b.control("on 1");
        for (int i = 0; i < 8 && !b.doc.IsOnline(); ++i)
            b.second();
        EXPECT_TRUE(b.doc.IsOnline());
        for (int i = 0; i < 3; ++i)
            b.second();
        rows = rowFields(b.path);
        EXPECT_EQ(rows.back().size(), 6u);
        EXPECT_TRUE(isNumber(rows.back()[1]));
    }
}

} // namespace

// Which samples a graph draws after a change of sensor unit: the newest
// stretch of values in one unit, seconds without a value inside it.
TEST(ReadingHistory, TheNewestRunOfOneUnitIsWhatAGraphDraws)
{
    // d: degrees, k: kOhms, -: offline, c: online with only a current.
    const struct {
        const char* samples;
        std::size_t from;
        std::size_t first;
        bool known, resistance, changed;
    } cases[] = {
        {"", 0, 0, false, false, false},
        {"--c", 0, 0, false, false, false},
        {"ddd", 0, 0, true, false, false},
        {"dddkk", 0, 3, true, true, true},
        {"ddd--ckk", 0, 6, true, true, true},
        {"kkdd-d", 0, 2, true, false, true},
        {"ddkkdd", 0, 4, true, false, true},
        {"ddkkdd", 4, 4, true, false, false},
        {"dddkk", 3, 3, true, true, false},
        {"dddkk-", 0, 3, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.samples);
        ReadingHistory ring(16);
        std::int64_t t = 0;
        for (const char* p = c.samples; *p != '\0'; ++p) {
            GraphSample s;
            s.utcMillis = t += 1000;
            s.online = *p != '-';
            s.have = *p == 'c' ? GraphSample::kCurrent : (*p == '-' ? 0 : GraphSample::kActual | GraphSample::kSetPoint);
            s.resistance = *p == 'k';
            ring.push(s);
        }
        const ReadingHistory::UnitRun run = ring.newestUnitRun(c.from);
        EXPECT_EQ(run.known, c.known);
        if (!c.known)
            continue;
        EXPECT_EQ(run.first, c.first);
        EXPECT_EQ(run.resistance, c.resistance);
        EXPECT_EQ(run.changed, c.changed);
    }
}

// The ticks of a graph axis: round steps that take in the range, no more
// than asked for, and zero labelled without a minus.
TEST(GraphScale, TicksAreRoundCoverTheRangeAndZeroHasNoSign)
{
    const struct {
        double low, high;
        int steps;
        double step;
        const char* first;
        const char* last;
    } cases[] = {
        {-0.108, 0.108, 4, 0.1, "-0.2", "0.2"},
        {-1.08, 1.08, 4, 1, "-2", "2"},
        {-0.0216, 0.0216, 4, 0.02, "-0.04", "0.04"},
        {21.2, 25.9, 5, 1, "21", "26"},
        {-15.5, 25.3, 5, 10, "-20", "30"},
        {0.1, 0.85, 4, 0.25, "0.00", "1.00"},
        {70.2, 71.9, 5, 0.5, "70.0", "72.0"},
        {3, 3, 4, 0.25, "2.50", "3.50"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.low) + " to " + std::to_string(c.high));
        const AxisTicks t = niceTicks(c.low, c.high, c.steps);
        EXPECT_DOUBLE_EQ(t.step, c.step);
        ASSERT_FALSE(t.labels.empty());
        EXPECT_EQ(t.labels.front(), c.first);
        EXPECT_EQ(t.labels.back(), c.last);
        EXPECT_LE(t.low, std::min(c.low, c.high));
        EXPECT_GE(t.high, std::max(c.low, c.high));
        EXPECT_LE(static_cast<int>(t.labels.size()) - 1, c.steps);
        for (const std::string& label : t.labels)
            EXPECT_NE(label[0] == '-' ? label.find_first_not_of("-0.") : 1u, std::string::npos) << label;
    }
}
