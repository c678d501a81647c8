// The settings file's format: what is saved reads back the same, every bad
// input is named by its line, values are checked against their rows.
#include "config/SettingsFile.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace sf = settingsfile;

namespace {

// The instrument's texts of a unit with a custom thermistor (type 0).
std::map<int, std::string> thermistorTexts()
{
    return {{41, "+000.001"}, {21, "+025.000"}, {22, "+010.000"}, {23, "+050.000"}, {24, "+003.600"},
            {25, "-010.000"}, {26, "+055.300"}, {3, "+025.000"},  {7, "+002.500"},  {8, "-002.500"},
            {31, "+080.000"}, {32, "-040.000"}, {10, "+010.000"}, {11, "+001.500"}, {12, "+000.000"},
            {42, "-000.010"}};
}

sf::Settings make(int type, std::map<int, std::string> texts, std::vector<std::string>* missing = nullptr)
{
    std::vector<std::string> left;
    sf::Header header {"Tessol 1.3", "2026-12-09T16:40:00+00:00", "COM2 unit 07", "SN4711", "1.3"};
    sf::Settings s = sf::Make(header, type, [&texts](int p) { return texts[p]; }, left);
    if (missing != nullptr)
        *missing = left;
    return s;
}

std::string fileWith(const std::string& type, const std::string& lines)
{
    return "tessol-settings 1\nsensor-type = " + type + "\n" + lines;
}

} // namespace

TEST(SettingsFile, WhatIsSavedReadsBackTheSameForATemperatureAndAResistanceSensor)
{
    const sf::Settings saved = make(0, thermistorTexts());
    const std::string text = sf::Format(saved);
    EXPECT_NE(text.find("set-point = 25.00 \xC2\xB0" "C\n"), std::string::npos) << text;
    EXPECT_NE(text.find("pos-current-limit = 2.50 A\n"), std::string::npos) << text;
    EXPECT_NE(text.find("bias-mode = +000.001   # NTC-10uA\n"), std::string::npos) << text;
    EXPECT_NE(text.find("modulation = -000.010   # 1:10, automatic\n"), std::string::npos) << text;
    EXPECT_NE(text.find("serial-number = SN4711\n"), std::string::npos) << text;

    const sf::Parsed back = sf::Parse(text);
    ASSERT_TRUE(back.errors.empty()) << sf::Describe(back.errors.front());
    EXPECT_TRUE(back.unknown.empty());
    EXPECT_EQ(back.settings.sensorType, 0);
    EXPECT_EQ(back.settings.header.savedFrom, "COM2 unit 07");
    ASSERT_EQ(back.settings.values.size(), saved.values.size());
    for (const sf::Difference& d : sf::Compare(back.settings, saved))
        EXPECT_FALSE(d.differs) << d.key << ": " << d.file << " / " << d.instrument;

    // RTD R mode: its set point in kOhms, no coefficients and no
    // temperature limits; a text the unit did not give is named, not blank.
    std::vector<std::string> missing;
    auto texts = thermistorTexts();
    texts[4] = "+012.345";
    texts.erase(12);
    const sf::Settings resistance = make(3, texts, &missing);
    EXPECT_EQ(missing, std::vector<std::string> {"d"});
    const std::string r = sf::Format(resistance);
    EXPECT_NE(r.find("set-point = 12.345 kOhms\n"), std::string::npos) << r;
    EXPECT_EQ(r.find("coefficient"), std::string::npos) << r;
    EXPECT_EQ(r.find("temperature-limit"), std::string::npos) << r;
    const sf::Parsed rb = sf::Parse(r);
    ASSERT_TRUE(rb.errors.empty()) << sf::Describe(rb.errors.front());
    EXPECT_EQ(rb.settings.Find("set-point")->text, "12.345");
}

TEST(SettingsFile, EveryBadInputIsNamedWithItsLine)
{
    const struct {
        std::string text;
        std::string error;   // Describe() of the first error
    } cases[] = {
        {"", "the file is empty: not a settings file"},
        {"set-point = 25\n", "not a Tessol settings file: it does not begin with \"tessol-settings 1\""},
        {"tessol-settings 2\n", "line 1: format \"2\" is not one this Tessol reads (it reads 1)"},
        {fileWith("LM335", "p 10\n"), "line 3: expected \"name = value\", found \"p 10\""},
        {fileWith("LM335", "p = 10\np = 11\n"), "line 4: p is given twice (first on line 3)"},
        {fileWith("Platinum", "p = 10\n"), "line 2: \"Platinum\" is not a sensor type"},
        {"tessol-settings 1\np = 10\n", "the file names no sensor type (\"sensor-type = ...\")"},
        {fileWith("LM335", "p = ten\n"), "line 3: \"ten\" is not a number"},
        {fileWith("LM335", "p = 1e999\n"), "line 3: \"1e999\" is not a number"},
        {fileWith("Thermistor T mode", "set-point = 25 kOhms\n"),
         "line 3: set-point is in \xC2\xB0" "C for Thermistor T mode, not kOhms"},
        {fileWith("LM335", "bias-mode = 1\n"), "line 3: bias-mode takes an 8-character word such as +000.001, not \"1\""},
        {fileWith("AD590", "coefficient-1 = 2\n"), "line 3: coefficient-1 is not a setting of AD590"},
        {fileWith("RTD R mode", "high-temperature-limit = 80\n"),
         "line 3: high-temperature-limit is not a setting of RTD R mode"},
        {fileWith("LM335", "= 3\n"), "line 3: a value without a name"},
        {fileWith("LM335", "p = 12.5\n"), "line 3: p takes whole numbers, not 12.5"},
        {fileWith("LM335", "set-point = 25.004\n"), "line 3: set-point takes at most 2 decimals, not 25.004"},
        {fileWith("LM335", "p = 10\n# caf\xC3\n"), "line 4: the text is not UTF-8"},
        {fileWith("LM335", std::string(70000, '#')), "the file is larger than 64 KiB: not a settings file"},
    };
    for (const auto& c : cases) {
        const sf::Parsed p = sf::Parse(c.text);
        ASSERT_FALSE(p.errors.empty()) << c.error;
        EXPECT_EQ(sf::Describe(p.errors.front()), c.error);
    }
}

TEST(SettingsFile, CommentsBlankLinesAndCrLfAreFineAndAnUnknownSettingIsSkippedByName)
{
    const sf::Parsed p = sf::Parse("# made by hand\r\n\r\ntessol-settings 1   # format\r\n"
                                   "sensor-type = LM335\r\n  p = 12   # faster\r\ngain = 3\r\ni = 0.5\r\n");
    ASSERT_TRUE(p.errors.empty()) << sf::Describe(p.errors.front());
    ASSERT_EQ(p.unknown.size(), 1u);
    EXPECT_EQ(sf::Describe(p.unknown.front()), "line 6: unknown setting \"gain\", skipped");
    EXPECT_EQ(p.settings.sensorType, 5);
    EXPECT_EQ(p.settings.Find("p")->text, "12");
    EXPECT_EQ(p.settings.Find("i")->text, "0.5");
    EXPECT_EQ(p.settings.Find("p")->line, 5);
}

TEST(SettingsFile, RangesAreCheckedAtBothEndsAndACodePairIsRefused)
{
    const struct {
        std::string lines;
        std::string problem;   // "" for none
    } cases[] = {
        {"p = 1\n", ""},
        {"p = 100\n", ""},
        {"p = 0\n", "line 3: p 0 is beyond 1 to 100"},
        {"p = 101\n", "line 3: p 101 is beyond 1 to 100"},
        {"i = 10\nd = 0\n", ""},
        {"set-point = 199.91\n", "line 3: set-point 199.91 is beyond -199.90 to 199.90 \xC2\xB0" "C"},
        {"neg-current-limit = -5\npos-current-limit = 0\n", ""},
        {"pos-current-limit = -0.01\n", "line 3: pos-current-limit -0.01 is beyond 0.00 to 5.00 A"},
        {"set-point = -199.9\n", ""},
        {"set-point = 200\n", "line 3: set-point 200.00 is beyond -199.90 to 199.90 \xC2\xB0" "C"},
        {"coefficient-1 = 2\ncoefficient-2 = 2\n",
         "line 4: coefficient-1 and coefficient-2 (2.000, 2.000) would make the instrument take its sensor for another type"},
        {"coefficient-1 = 2\ncoefficient-2 = 2.5\n", ""},
    };
    for (const auto& c : cases) {
        const sf::Parsed p = sf::Parse(fileWith("Thermistor T mode", c.lines));
        ASSERT_TRUE(p.errors.empty()) << c.lines << sf::Describe(p.errors.front());
        const std::vector<sf::Problem> problems = sf::RangeProblems(p.settings);
        if (c.problem.empty())
            EXPECT_TRUE(problems.empty()) << c.lines << sf::Describe(problems.front());
        else
            EXPECT_EQ(problems.empty() ? "" : sf::Describe(problems.front()), c.problem) << c.lines;
    }
}

TEST(SettingsFile, ComparedAtTheRowsResolutionTheSensorTypeFirst)
{
    const sf::Settings unit = make(0, thermistorTexts());
    sf::Parsed file = sf::Parse(fileWith("Thermistor T mode", "set-point = 25.000\np = 11\nmodulation = +000.010\n"));
    ASSERT_TRUE(file.errors.empty());
    const std::vector<sf::Difference> d = sf::Compare(file.settings, unit);
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d[0].key, "sensor-type");
    EXPECT_FALSE(d[0].differs);
    EXPECT_EQ(d[1].key, "set-point");
    EXPECT_FALSE(d[1].differs) << d[1].file << " / " << d[1].instrument;
    EXPECT_EQ(d[2].key, "p");
    EXPECT_TRUE(d[2].differs);
    EXPECT_EQ(d[2].instrument, "10");
    EXPECT_TRUE(d[3].differs);   // automatic there, not here

    // Another sensor type: only the type is compared.
    const sf::Settings lm335 = make(5, thermistorTexts());
    const std::vector<sf::Difference> other = sf::Compare(file.settings, lm335);
    EXPECT_TRUE(other[0].differs);
    EXPECT_EQ(other[0].instrument, "LM335");
    EXPECT_EQ(other[1].instrument, "");
}
