// The readings log shared by tessolctl and the window program, and the ring
// of samples behind the graph.

#include "config/ReadingHistory.h"
#include "config/ReadingsCsv.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

GraphSample sampleAt(std::int64_t second, float actual = 0.0f)
{
    GraphSample s;
    s.utcMillis = second * 1000;
    s.actual = actual;
    s.have = GraphSample::kActual;
    s.online = true;
    return s;
}

// ---------------------------------------------------------------- ring

TEST(ReadingHistory, KeepsTheNewestSamplesOnceFull)
{
    ReadingHistory ring(5);
    EXPECT_TRUE(ring.empty());
    for (int i = 1; i <= 3; ++i)
        ring.push(sampleAt(i, static_cast<float>(i)));
    ASSERT_EQ(ring.size(), 3u);
    EXPECT_EQ(ring.at(0).actual, 1.0f);
    EXPECT_EQ(ring.back().actual, 3.0f);

    for (int i = 4; i <= 12; ++i)
        ring.push(sampleAt(i, static_cast<float>(i)));
    ASSERT_EQ(ring.size(), 5u);
    EXPECT_EQ(ring.pushed(), 12u);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(ring.at(i).actual, static_cast<float>(8 + i)) << i;

    ring.clear();
    EXPECT_TRUE(ring.empty());
    EXPECT_EQ(ring.pushed(), 0u);
    ring.push(sampleAt(20, 20.0f));
    EXPECT_EQ(ring.back().actual, 20.0f);
}

TEST(ReadingHistory, TenHoursOfSecondsKeepTheLastHourInTheSameRoom)
{
    ReadingHistory ring;
    const std::int64_t start = 1'700'000'000;
    for (std::int64_t s = 0; s < 10 * 3600; ++s)
        ring.push(sampleAt(start + s));
    EXPECT_EQ(ring.size(), ReadingHistory::kHourCapacity);
    EXPECT_GE(ring.size(), 3600u);
    const std::int64_t last = start + 10 * 3600 - 1;
    EXPECT_EQ(ring.back().utcMillis, last * 1000);
    // Exactly the newest, in order.
    EXPECT_EQ(ring.at(0).utcMillis, (last - static_cast<std::int64_t>(ReadingHistory::kHourCapacity) + 1) * 1000);
    for (std::size_t i = 1; i < ring.size(); ++i)
        ASSERT_EQ(ring.at(i).utcMillis - ring.at(i - 1).utcMillis, 1000) << i;
}

TEST(ReadingHistory, FirstFromFindsTheStartOfASpan)
{
    ReadingHistory ring(100);
    EXPECT_EQ(ring.firstFrom(0), 0u);
    for (int s = 10; s < 20; ++s)
        ring.push(sampleAt(s));
    EXPECT_EQ(ring.firstFrom(15'000), 5u);
    EXPECT_EQ(ring.firstFrom(15'001), 6u);
    EXPECT_EQ(ring.firstFrom(0), 0u);
    EXPECT_EQ(ring.firstFrom(20'000), ring.size());
}

// ---------------------------------------------------------------- formats

TEST(ReadingsCsv, NumbersOutputAndUnitsAreWrittenAsTheToolAlwaysHas)
{
    EXPECT_EQ(csvlog::number(24.9984), "24.998");
    EXPECT_EQ(csvlog::number(-5.5), "-5.500");
    EXPECT_EQ(csvlog::number(0.0), "0.000");
    EXPECT_EQ(csvlog::outputText("+000.001"), "on");
    EXPECT_EQ(csvlog::outputText("+000.000"), "off");
    EXPECT_EQ(csvlog::outputText("+000.01"), "???");
    EXPECT_EQ(csvlog::outputText(""), "???");
    EXPECT_EQ(csvlog::unitText(true), "kOhms");
    EXPECT_EQ(csvlog::unitText(false), "\xc2\xb0" "C");
    EXPECT_EQ(csvlog::commentLine(7, "CALLKV", "COM2"), "# unit 07, serial number CALLKV, COM2");
    // A field an instrument sends keeps to its column whatever it holds.
    EXPECT_EQ(csvlog::field("SN-4711"), "SN-4711");
    EXPECT_EQ(csvlog::field("A,B"), "\"A,B\"");
    EXPECT_EQ(csvlog::field("6\" X"), "\"6\"\" X\"");
    EXPECT_EQ(csvlog::field("a\nb"), "\"a\nb\"");
    EXPECT_EQ(csvlog::headerLine(true),
              "time,actual (kOhms),set point (kOhms),TE current (A),TE voltage (V),output,age (s)");
    csvlog::Row missing;
    missing.utcMillis = 0;
    const std::string line = csvlog::rowLine(missing);
    // The age stands last and is empty unless a reading is repeated.
    EXPECT_EQ(line.substr(line.find(',')), ",???.???,???.???,???.???,???.???,???,");
    missing.age = csvlog::age(2345);
    EXPECT_EQ(csvlog::rowLine(missing).substr(line.size()), "2.3");
    EXPECT_EQ(csvlog::age(-5), "0.0");
}

class LocalZone : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        saved_ = tz != nullptr ? tz : "";
        hadZone_ = tz != nullptr;
    }
    void TearDown() override
    {
        if (hadZone_)
            ::setenv("TZ", saved_.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    static void zone(const char* tz)
    {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }

private:
    std::string saved_;
    bool hadZone_ = false;
};

TEST_F(LocalZone, TimesAreLocalWithTheirOffset)
{
    struct Case {
        const char* zone;
        std::int64_t millis;
        const char* text;
    };
    const Case cases[] = {
        {"UTC0", 0, "1970-01-01T00:00:00+00:00"},
        {"XXX-2", 1'714'565'587'999, "2024-05-01T14:13:07+02:00"},
        {"XXX+5:30", 1'714'565'587'000, "2024-05-01T06:43:07-05:30"},
    };
    for (const Case& c : cases) {
        zone(c.zone);
        EXPECT_EQ(csvlog::isoTime(c.millis), c.text) << c.zone;
    }
}

TEST(ReadingsCsv, CommentAndColumnsStandBeforeTheFirstRowAndAfterEveryChange)
{
    csvlog::Writer writer;
    csvlog::Identity who {5, "CALLKV", "COM2", false};
    csvlog::Row row;
    row.actual = "25.000";
    auto lines = writer.lines(who, row);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "# unit 05, serial number CALLKV, COM2");
    EXPECT_EQ(lines[1], csvlog::headerLine(false));
    EXPECT_EQ(writer.lines(who, row).size(), 1u);

    who.resistance = true;
    lines = writer.lines(who, row);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], csvlog::headerLine(true));
    EXPECT_EQ(writer.lines(who, row).size(), 1u);

    who.serial = "????????";
    EXPECT_EQ(writer.lines(who, row).size(), 3u);
    writer.restart();
    EXPECT_EQ(writer.lines(who, row).size(), 3u);
}

// ---------------------------------------------------------------- files

class CsvFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/tessol-csv-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override
    {
        std::remove((dir_ + "/log.csv").c_str());
        ::rmdir((dir_ + "/sub").c_str());
        ::rmdir(dir_.c_str());
    }
    static std::string contents(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir_;
};

TEST_F(CsvFileTest, StartsEmptiedOrAddsToWhatIsThere)
{
    const std::string path = dir_ + "/log.csv";
    csvlog::File file;
    ASSERT_TRUE(file.start(path, true));
    EXPECT_EQ(contents(path), "");
    ASSERT_TRUE(file.append({"a", "b"}));
    ASSERT_TRUE(file.append({"c"}));
    EXPECT_EQ(contents(path), "a\nb\nc\n");

    csvlog::File again;
    ASSERT_TRUE(again.start(path, false));
    ASSERT_TRUE(again.append({"d"}));
    EXPECT_EQ(contents(path), "a\nb\nc\nd\n");

    // A row torn by a full disk in an earlier run stays alone on its line.
    std::ofstream(path, std::ios::app) << "torn,12.3";
    ASSERT_TRUE(again.start(path, false));
    ASSERT_TRUE(again.append({"e"}));
    EXPECT_EQ(contents(path), "a\nb\nc\nd\ntorn,12.3\ne\n");

    ASSERT_TRUE(again.start(path, true));
    EXPECT_EQ(contents(path), "");
}

TEST_F(CsvFileTest, AFileThatCannotBeWrittenFailsAndStaysFailed)
{
    csvlog::File missing;
    EXPECT_FALSE(missing.start(dir_ + "/nowhere/log.csv", true));
    EXPECT_EQ(missing.error(), "No such file or directory");
    EXPECT_FALSE(missing.append({"x"}));

    // The folder goes while the log runs.
    ASSERT_EQ(::mkdir((dir_ + "/sub").c_str(), 0700), 0);
    const std::string path = dir_ + "/sub/log.csv";
    csvlog::File removed;
    ASSERT_TRUE(removed.start(path, true));
    ASSERT_TRUE(removed.append({"row"}));
    ASSERT_EQ(std::remove(path.c_str()), 0);
    ASSERT_EQ(::rmdir((dir_ + "/sub").c_str()), 0);
    EXPECT_FALSE(removed.append({"row"}));
    EXPECT_TRUE(removed.failed());
    EXPECT_EQ(removed.error(), "No such file or directory");
    // Nothing more is tried: the folder coming back does not revive it.
    ASSERT_EQ(::mkdir((dir_ + "/sub").c_str(), 0700), 0);
    EXPECT_FALSE(removed.append({"row"}));
    EXPECT_NE(::access(path.c_str(), F_OK), 0);

    // A full disk.
    csvlog::File full;
    ASSERT_TRUE(full.start("/dev/full", false));
    EXPECT_FALSE(full.append({"row"}));
    EXPECT_EQ(full.error(), "No space left on device");
}

} // namespace
