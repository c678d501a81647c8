// A floor of controllers: watched without windows, the overview, group
// actions, and the workspace brought back at the next start.

#include "app/AlarmsWindow.h"
#include "app/Floor.h"
#include "app/OverviewWindow.h"
#include "app/Workspace.h"
#include "config/Controller.h"
#include "config/ReadingSampler.h"
#include "link/ParameterNumbers.h"
#include "platform/qt/CChildFrame.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"

#include <QMdiSubWindow>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace {

std::size_t linesIn(const std::string& path)
{
    std::ifstream in(path);
    return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

QString cell(OverviewWindow& overview, const Controller* controller, int column)
{
    QTreeWidgetItem* row = overview.RowOf(controller);
    return row != nullptr ? row->text(column) : QStringLiteral("<no row>");
}

} // namespace

class FloorTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override
    {
        std::vector<int> units;
        for (int u = 1; u <= 15; ++u)
            units.push_back(u);
        return units;
    }
    Controller* controllerOf(CTqk5820ConfigDoc* doc) { return app->ControllerOf(doc); }
    const std::vector<int>& writtenTo(int unit) { return sim->sim().unit(unit)->Written(); }
    bool wrote(int unit, int parameter)
    {
        const std::vector<int>& w = writtenTo(unit);
        return std::find(w.begin(), w.end(), parameter) != w.end();
    }
};

TEST_F(FloorTest, AControllerOnTheOverviewStaysWatchedWithoutItsWindowAndStopWatchingEndsIt)
{
    const std::string folder = "/tmp/tessol-floor-" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0700);
    app->SetLogDirectory(folder);
    OverviewWindow* overview = app->GetFloor().ShowOverview();
    CTqk5820ConfigDoc* one = openOnline(1);
    CTqk5820ConfigDoc* two = openOnline(2);
    Controller* kept = controllerOf(two);
    ASSERT_NE(kept, nullptr);

    // The user closes the window of unit 02: the controller goes on.
    app->GetMainFrame()->GetActiveChildFrame();
    static_cast<CTqk5820ConfigView*>(two->GetViews().front())->GetFrame()->close();
    EXPECT_TRUE(two->GetViews().empty());
    ASSERT_EQ(app->Controllers().size(), 2u);
    EXPECT_FALSE(wrote(2, pn::kSessionEnd));

    // Its row, reading and log go on: what its Measurement panel would read.
    const std::string log = folder + "/" + ReadingSampler::LogFileName(2);
    runFor(1500);
    const std::size_t rowsBefore = linesIn(log);
    runFor(3000);
    EXPECT_GE(linesIn(log), rowsBefore + 2) << log;
    overview->Refresh();
    EXPECT_EQ(cell(*overview, kept, OverviewWindow::kState), "online");
    EXPECT_EQ(cell(*overview, kept, OverviewWindow::kUnit), "02");
    EXPECT_TRUE(cell(*overview, kept, OverviewWindow::kActual).endsWith(QStringLiteral("°C")))
        << cell(*overview, kept, OverviewWindow::kActual).toStdString();
    EXPECT_FALSE(cell(*overview, kept, OverviewWindow::kCurrent).isEmpty());
    EXPECT_FALSE(cell(*overview, kept, OverviewWindow::kOutput).isEmpty());
    EXPECT_LE(cell(*overview, kept, OverviewWindow::kAge).toDouble(), 2.5);
    const ReadingSampler::Taken voltage = kept->Sampler().Newest(ReadingSampler::kVoltage);
    EXPECT_GE(voltage.at, 0) << "the TE voltage is read without a window";

    // Enter (or a double-click) brings a window back for it.
    app->GetFloor().ShowControllerWindow(*kept);
    EXPECT_EQ(two->GetViews().size(), 1u);

    // Stop watching: the closing command, and the row goes.
    app->GetFloor().StopWatching(*kept);
    EXPECT_TRUE(runUntil([&] { return app->Controllers().size() == 1u; }, 3000));
    EXPECT_TRUE(wrote(2, pn::kSessionEnd));
    EXPECT_FALSE(wrote(1, pn::kSessionEnd));
    runFor(100);
    overview->Refresh();
    EXPECT_EQ(overview->Table()->topLevelItemCount(), 1);
    EXPECT_EQ(app->Controllers().front(), controllerOf(one));
    std::remove(log.c_str());
    std::remove((folder + "/" + ReadingSampler::LogFileName(1)).c_str());
    ::rmdir(folder.c_str());
}

TEST_F(FloorTest, WithoutTheOverviewClosingTheWindowEndsTheControllerAsBefore)
{
    CTqk5820ConfigDoc* doc = openOnline(3);
    static_cast<CTqk5820ConfigView*>(doc->GetViews().front())->GetFrame()->close();
    runFor(200);
    EXPECT_TRUE(app->Controllers().empty());
    EXPECT_TRUE(wrote(3, pn::kSessionEnd));
}

TEST_F(FloorTest, GroupActionsWriteEachUnitAndSayWhichDidNot)
{
    CTqk5820ConfigDoc* a = openOnline(4);
    CTqk5820ConfigDoc* b = openOnline(5);
    std::vector<Controller*> both {controllerOf(a), controllerOf(b)};
    runFor(1200);
    struct Case {
        double value;
        bool lands;
        const char* says;
    };
    const Case cases[] = {
        {31.25, true, "written to 2 of 2 controllers"},
        {1000.0, false, "COM2 unit 04: outside"},
        {-1000.0, false, "COM2 unit 05: outside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string said = app->GetFloor().GroupSetPoint(both, c.value);
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        if (c.lands) {
            EXPECT_TRUE(runUntil([&] { return !a->IsOutstanding(pn::kSetTemperature) && !b->IsOutstanding(pn::kSetTemperature); }, 3000));
            runFor(300);
            for (int unit : {4, 5}) {
                std::string error;
                EXPECT_TRUE(wrote(unit, pn::kSetTemperature));
            }
        }
    }
    EXPECT_EQ(std::count(writtenTo(4).begin(), writtenTo(4).end(), pn::kSetTemperature), 1);

    app->GetFloor().GroupOutputOff(both);
    EXPECT_TRUE(runUntil([&] { return wrote(4, pn::kOutputState) && wrote(5, pn::kOutputState); }, 3000));
}

// The active window's rules, from the File menu.
TEST_F(FloorTest, AlarmRulesOfTheActiveWindowComeFromTheFileMenu)
{
    Controller* c = app->ControllerOf(openOnline(3));
    alarms::Setting below;
    below.on = true;
    below.value = 5;
    EXPECT_TRUE(commandWithModal<AlarmRulesDialog>(cmd::kAlarmRules, [&](AlarmRulesDialog& d) {
        d.SetRule(alarms::Rule::kBelow, below);
        d.Apply();
        d.accept();
    }));
    EXPECT_TRUE(c->Alarms().Get(alarms::Rule::kBelow).on);
    EXPECT_EQ(c->Alarms().Get(alarms::Rule::kBelow).value, 5);
}

TEST_F(FloorTest, AnAlarmIsShownInWordsRecordedAcknowledgedAndItsRulesKept)
{
    const std::string folder = "/tmp/tessol-alarms-" + std::to_string(::getpid());
    ::mkdir(folder.c_str(), 0700);
    app->SetLogDirectory(folder);
    app->GetFloor().UseWorkspace(true);
    OverviewWindow* overview = app->GetFloor().ShowOverview();
    Controller* c = app->GetFloor().Watch(1, 6, false, false);
    ASSERT_NE(c, nullptr);
    ASSERT_TRUE(runUntil([&] { return c->Doc().IsOnline() && c->Doc().GetSensorType() != 7; }, 10000));

    // Any actual is above -100 °C: raised at once.
    AlarmRulesDialog rules({c}, app->GetMainFrame());
    alarms::Setting above;
    above.on = true;
    above.severity = alarms::Severity::kMajor;
    above.value = -100;
    rules.SetRule(alarms::Rule::kAbove, above);
    rules.Apply();
    ASSERT_TRUE(runUntil([&] { return !c->Alarms().Raised().empty() && app->GetFloor().GetAlarmsWindow() != nullptr; }, 5000));
    runFor(100);
    overview->Refresh();
    EXPECT_EQ(cell(*overview, c, OverviewWindow::kAlarm), "MAJOR: actual above");
    EXPECT_EQ(prompts.beeps, 1);
    AlarmsWindow* list = app->GetFloor().GetAlarmsWindow();
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->Table()->topLevelItemCount(), 1);
    EXPECT_EQ(list->Table()->topLevelItem(0)->text(AlarmsWindow::kEvent), "raised");
    EXPECT_EQ(list->Table()->topLevelItem(0)->text(AlarmsWindow::kController), "COM2 unit 06");

    // Acknowledged from the list: said, and the row says so.
    list->Table()->topLevelItem(0)->setSelected(true);
    list->AcknowledgeSelected();
    EXPECT_TRUE(runUntil([&] { return list->Table()->topLevelItem(0)->text(AlarmsWindow::kEvent) == "acknowledged"; }, 3000));
    overview->Refresh();
    EXPECT_EQ(cell(*overview, c, OverviewWindow::kAlarm), "MAJOR: actual above (acknowledged)");
    EXPECT_EQ(list->Table()->topLevelItem(0)->text(AlarmsWindow::kEvent), "acknowledged");

    // The rule off: cleared. Everything is in alarms.csv.
    rules.SetRule(alarms::Rule::kAbove, alarms::Setting {});
    rules.Apply();
    runFor(300);
    EXPECT_TRUE(c->Alarms().Raised().empty());
    std::ifstream csv(folder + "/alarms.csv");
    std::string line;
    std::vector<std::string> rows;
    while (std::getline(csv, line))
        rows.push_back(line);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], Controller::kAlarmsHeader);
    EXPECT_NE(rows[1].find(",COM2 unit 06,CALLKV,actual above,major,raised,"), std::string::npos) << rows[1];
    EXPECT_NE(rows[2].find(",actual above,major,acknowledged,"), std::string::npos) << rows[2];
    EXPECT_NE(rows[3].find(",actual above,major,cleared,"), std::string::npos) << rows[3];

    // Moved to another unit, a latched alarm of the last one is cleared
    // under that unit's name.
    alarms::Setting latched = above;
    latched.latched = true;
    rules.SetRule(alarms::Rule::kAbove, latched);
    rules.Apply();
    ASSERT_TRUE(runUntil([&] { return !c->Alarms().Raised().empty(); }, 5000));
    const auto clearedFor6 = [&] {
        std::ifstream in(folder + "/alarms.csv");
        int n = 0;
        for (std::string row; std::getline(in, row);)
            n += row.find(",COM2 unit 06,CALLKV,actual above,major,cleared,") != std::string::npos ? 1 : 0;
        return n;
    };
    const int before = clearedFor6();
    c->Doc().ChangeUnitNumber(7);
    ASSERT_TRUE(runUntil([&] { return c->Doc().GetUnitNumber() == 7; }, 3000));
    EXPECT_TRUE(runUntil([&] { return clearedFor6() == before + 1; }, 3000));
    // Judged afresh for unit 07, whose actual is above -100 °C too.
    ASSERT_TRUE(runUntil([&] { return !c->Alarms().Raised().empty(); }, 10000));
    EXPECT_EQ(c->AlarmRow(c->AlarmEvents().back().event).rfind("COM2 unit 07,", 0), 0u);
    c->Doc().ChangeUnitNumber(6);
    ASSERT_TRUE(runUntil([&] { return c->Doc().GetUnitNumber() == 6; }, 3000));
    rules.SetRule(alarms::Rule::kAbove, alarms::Setting {});
    rules.Apply();

    // The rules are kept in the workspace.
    rules.SetRule(alarms::Rule::kBelow, above);
    rules.Apply();
    app->GetFloor().SaveWorkspace();
    std::vector<std::string> damaged;
    const std::vector<WorkspaceEntry> kept = workspace::load(profile, damaged);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(kept[0].alarms.find("actual below,on,major,-100,0,0,free"), std::string::npos) << kept[0].alarms;
    c->StopLogging();
    std::remove((folder + "/alarms.csv").c_str());
    std::remove((folder + "/" + ReadingSampler::LogFileName(6)).c_str());
    ::rmdir(folder.c_str());
}

TEST(WorkspaceEntries, FormatAndParseEveryFieldAndNameWhatIsDamaged)
{
    WorkspaceEntry e;
    e.port = 1;
    e.unit = 7;
    e.serial = "SN4711";
    e.window = false;
    e.x = -20;
    e.y = 40;
    e.width = 420;
    e.height = 610;
    e.panels = "1000001";
    e.broker = false;
    e.logFolder = "/home/lab/logs;with;semicolons";
    const std::string text = workspace::format(e);
    EXPECT_EQ(text, "COM2;07;SN4711;hidden;-20,40,420,610;1000001;nobroker;/home/lab/logs;with;semicolons");
    WorkspaceEntry back;
    std::string problem;
    ASSERT_TRUE(workspace::parse(text, back, problem)) << problem;
    EXPECT_TRUE(back == e);

    const struct {
        const char* text;
        const char* problem;
    } damaged[] = {
        {"", "not line;unit"},
        {"COM5;07;;window;0,0,0,0;1111110;broker;", "line \"COM5\""},
        {"COM1;00;;window;0,0,0,0;1111110;broker;", "unit \"00\" is not 1 to 99"},
        {"COM1;100;;window;0,0,0,0;1111110;broker;", "unit \"100\""},
        {"COM1;1x;;window;0,0,0,0;1111110;broker;", "unit \"1x\""},
        {"COM1;01;123456789;window;0,0,0,0;1111110;broker;", "longer than 8"},
        {"COM1;01;;open;0,0,0,0;1111110;broker;", "window or hidden"},
        {"COM1;01;;window;0,0,10;1111110;broker;", "geometry"},
        {"COM1;01;;window;0,0,-1,10;1111110;broker;", "geometry"},
        {"COM1;01;;window;0,0,1,1;111111;broker;", "panels"},
        {"COM1;01;;window;0,0,1,1;1111112;broker;", "panels"},
        {"COM1;01;;window;0,0,1,1;1111110;yes;", "broker or nobroker"},
    };
    for (const auto& d : damaged) {
        SCOPED_TRACE(d.text);
        WorkspaceEntry entry;
        std::string why;
        EXPECT_FALSE(workspace::parse(d.text, entry, why));
        EXPECT_NE(why.find(d.problem), std::string::npos) << why;
    }
    // Both ends of the unit range are taken.
    for (const char* edge : {"COM1;01;;window;0,0,0,0;1111110;broker;", "COM4;99;;window;0,0,0,0;1111110;broker;"}) {
        WorkspaceEntry entry;
        EXPECT_TRUE(workspace::parse(edge, entry, problem)) << edge << ": " << problem;
    }
}

class RestoreTest : public FloorTest {
protected:
    void SetUp() override
    {
        // Seventeen controllers: units 1 to 15 on COM2 (unit 9 with another
        // serial number than the one it was saved with), unit 20 absent,
        // unit 50 on COM1, which leads nowhere; and a damaged entry.
        for (int unit = 1; unit <= 17; ++unit) {
            WorkspaceEntry e;
            e.port = unit == 17 ? 0 : 1;
            e.unit = unit == 16 ? 20 : unit == 17 ? 50 : unit;
            e.serial = unit == 9 ? "SWAPPED1" : "";
            e.window = unit % 2 == 1;
            e.x = 30 * unit;
            e.y = 10 * unit;
            e.width = 300;
            e.height = 200 + unit;
            e.panels = unit == 3 ? "0100001" : "1111110";
            entries.push_back(e);
        }
        workspace::save(profile, entries);
        profile.writeText(workspace::kSection, "Controller18", "COM2;1x;;window;0,0,1,1;1111110;broker;");
        profile.writeInt(workspace::kSection, "Count", 18);
        FloorTest::SetUp();
    }
    std::vector<WorkspaceEntry> entries;
};

TEST_F(RestoreTest, SeventeenControllersComeBackWithTheirWindowsWritingNothingAndNoBox)
{
    app->GetFloor().UseWorkspace(true);
    app->GetFloor().RestoreWorkspace();
    const std::vector<Controller*> watched = app->Controllers();
    ASSERT_EQ(watched.size(), 17u);
    EXPECT_TRUE(prompts.boxes.empty()) << prompts.boxes.front().text;
    const auto& said = prompts.statusMessages;
    EXPECT_EQ(std::count_if(said.begin(), said.end(),
                            [](const std::string& t) { return t.rfind("Workspace: left out", 0) == 0; }),
              1);
    EXPECT_NE(std::find(said.begin(), said.end(), "Workspace: left out, and dropped at the next save: entry 18: unit \"1x\" is not 1 to 99"),
              said.end());
    for (std::size_t i = 0; i < watched.size(); ++i) {
        const WorkspaceEntry& e = entries[i];
        SCOPED_TRACE(e.unit);
        CTqk5820ConfigDoc& doc = watched[i]->Doc();
        EXPECT_EQ(doc.GetUnitNumber(), e.unit);
        EXPECT_EQ(doc.GetPortIndex(), e.port);
        EXPECT_EQ(doc.GetViews().size(), e.window ? 1u : 0u);
        if (e.window) {
            auto* view = static_cast<CTqk5820ConfigView*>(doc.GetViews().front());
            EXPECT_EQ(view->GetFrame()->geometry(), QRect(e.x, e.y, e.width, e.height));
        }
        for (int p = 0; p < CTqk5820ConfigDoc::kDisplayCount; ++p)
            EXPECT_EQ(doc.GetDisplayFlag(p), e.panels[static_cast<std::size_t>(p)] == '1');
    }
    OverviewWindow* overview = app->GetFloor().GetOverview();
    ASSERT_NE(overview, nullptr);
    EXPECT_TRUE(runUntil(
        [&] {
            overview->Refresh();
            return cell(*overview, watched[8], OverviewWindow::kState).startsWith("other instrument")
                && cell(*overview, watched[0], OverviewWindow::kState) == "online";
        },
        15000));
    EXPECT_EQ(cell(*overview, watched[15], OverviewWindow::kState), "not answering");
    EXPECT_EQ(cell(*overview, watched[16], OverviewWindow::kState), "line not open");
    EXPECT_EQ(cell(*overview, watched[1], OverviewWindow::kState), "online");
    for (int unit = 1; unit <= 15; ++unit)
        EXPECT_TRUE(writtenTo(unit).empty()) << "unit " << unit << " was written to";

    // What is watched now is saved: the serial numbers read, the windows.
    app->GetFloor().SaveWorkspace();
    std::vector<std::string> damaged;
    const std::vector<WorkspaceEntry> saved = workspace::load(profile, damaged);
    ASSERT_EQ(saved.size(), 17u);
    EXPECT_TRUE(damaged.empty());
    EXPECT_EQ(saved[0].serial, watched[0]->Serial());
    EXPECT_FALSE(saved[0].serial.empty());
    EXPECT_EQ(saved[15].serial, "");
    EXPECT_EQ(saved[2].panels, "0100001");
    EXPECT_EQ(saved[1].window, false);
    EXPECT_EQ(saved[0].width, 300);
}

TEST_F(RestoreTest, NoRestoreNeitherOpensNorOverwritesTheSavedWorkspace)
{
    app->GetFloor().UseWorkspace(false);
    openOnline(1);
    app->GetFloor().SaveWorkspace();
    EXPECT_EQ(profile.readInt(workspace::kSection, "Count", 0), 18);
    EXPECT_EQ(app->GetFloor().GetOverview(), nullptr);
}
