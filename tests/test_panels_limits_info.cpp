// The Limits, PID and Info panels of a controller window, driven by real
// keyboard and mouse events under the offscreen platform, against the
// in-process simulator.

#include "config/CTqk5820ConfigInfoDialog.h"
#include "config/CTqk5820ConfigLimitsDialog.h"
#include "config/CTqk5820ConfigPidDialog.h"
#include "controls/CLibComboBox.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "controls/CLibTabButton.h"
#include "link/ParameterNumbers.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/DialogBuilder.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"

#include <QLabel>
#include <QStatusBar>
#include <QTest>

#include <initializer_list>
#include <utility>

namespace {

using Limits = CTqk5820ConfigLimitsDialog;
using Pid = CTqk5820ConfigPidDialog;
using Info = CTqk5820ConfigInfoDialog;

std::string text(QWidget* w)
{
    if (auto* edit = qobject_cast<QLineEdit*>(w))
        return edit->text().toStdString();
    return static_cast<QLabel*>(w)->text().toStdString();
}

class PanelsTest : public AppBench {
protected:
    // Only these panels are shown, so that the traffic is theirs alone.
    CTqk5820ConfigDoc* open(std::initializer_list<int> panels, bool online = true)
    {
        for (int i = 0; i < CTqk5820ConfigView::kPanelCount; ++i) {
            bool shown = false;
            for (int p : panels)
                shown = shown || p == i;
            profile.writeInt("Default", CTqk5820ConfigDoc::kDisplayKeys[i], shown ? 1 : 0);
        }
        CTqk5820ConfigDoc* doc = openController();
        if (online) {
            EXPECT_TRUE(runUntil([&] { return doc->IsOnline() && doc->GetSensorType() != 7; }, 10000));
        }
        app->GetMainFrame()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(app->GetMainFrame()));
        return doc;
    }

};

template <class Panel>
bool settled(CTqk5820ConfigDoc* doc, Panel* panel)
{
    return runUntil([&] { return !doc->AnyOutstanding() && !panel->Refresh(); });
}

// ---- Limits and PID ---------------------------------------------------------------

TEST_F(PanelsTest, LimitsAndPidShowTheInstrumentsValuesInTheirRows)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kLimits, CTqk5820ConfigDoc::kPid});
    auto* limits = panelOf<Limits>(doc, 2);
    auto* pid = panelOf<Pid>(doc, 3);
    ASSERT_TRUE(limits && pid);
    ASSERT_TRUE(settled(doc, limits));
    ASSERT_TRUE(settled(doc, pid));

    struct Row {
        CLibDatamineEdit* entry;
        CLibSpinButtonCtrl* spin;
        const char* shown;
        int lower, upper, position;
    };
    const Row rows[] = {
        {limits->Entry(Limits::kHighTemperature), limits->Spin(Limits::kHighTemperature), " 80.0 ", -1999, 1999, 800},
        {limits->Entry(Limits::kLowTemperature), limits->Spin(Limits::kLowTemperature), " -20.0 ", -1999, 1999, -200},
        {limits->Entry(Limits::kPositiveCurrent), limits->Spin(Limits::kPositiveCurrent), " 2.50 ", 0, 500, 250},
        {limits->Entry(Limits::kNegativeCurrent), limits->Spin(Limits::kNegativeCurrent), " -2.50 ", -500, 0, -250},
        {pid->Entry(Pid::kP), pid->Spin(Pid::kP), " 20 ", 1, 100, 20},
        {pid->Entry(Pid::kI), pid->Spin(Pid::kI), " 1.0 ", 0, 100, 10},
        {pid->Entry(Pid::kD), pid->Spin(Pid::kD), " 0 ", 0, 10, 0},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(r.entry && r.spin);
        EXPECT_EQ(text(r.entry), r.shown);
        EXPECT_EQ(r.spin->lower(), r.lower) << r.shown;
        EXPECT_EQ(r.spin->upper(), r.upper) << r.shown;
        EXPECT_EQ(r.spin->GetPos(), r.position) << r.shown;
    }
    const QString degrees = QString(QChar(0x00B0)) + "C";
    EXPECT_EQ(control<QLabel>(limits, 1127)->text(), degrees);
    EXPECT_EQ(control<QLabel>(limits, 1130)->text(), degrees);
}

TEST_F(PanelsTest, ACommittedValueIsWrittenOnceAndTheInstrumentsEchoShown)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kPid});
    auto* pid = panelOf<Pid>(doc, 3);
    ASSERT_TRUE(settled(doc, pid));
    const auto seen = sim->sim().commandsSeen();

    retype(pid->Entry(Pid::kP), "35");
    EXPECT_TRUE(runUntil([&] { return held(1, 10) == "+035.000" && text(pid->Entry(Pid::kP)) == " 35 "; }));
    EXPECT_TRUE(settled(doc, pid));
    // The write alone: the echo it brings back is what the entry shows.
    EXPECT_EQ(sim->sim().commandsSeen(), seen + 1);

    // A value far beyond the instrument's range is clamped by the entry so
    // that it can be sent at all; the instrument keeps to its own range.
    retype(pid->Entry(Pid::kP), "1500");
    EXPECT_TRUE(runUntil([&] { return text(pid->Entry(Pid::kP)) == " 100 "; }));
    EXPECT_FALSE(pid->GetSetting(Pid::kP).IsWritePending());
}

TEST_F(PanelsTest, ATypedLimitOutOfRangeIsClampedByTheInstrumentShownAndSaid)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kLimits});
    auto* limits = panelOf<Limits>(doc, 2);
    ASSERT_TRUE(settled(doc, limits));
    retype(limits->Entry(Limits::kLowTemperature), "-5000");
    retype(limits->Entry(Limits::kPositiveCurrent), "7");
    EXPECT_TRUE(runUntil([&] {
        return text(limits->Entry(Limits::kLowTemperature)) == " -199.9 "
               && text(limits->Entry(Limits::kPositiveCurrent)) == " 5.00 ";
    }));
    EXPECT_EQ(held(1, 32), "-199.900");
    EXPECT_EQ(held(1, 7), "+005.000");
    // Said in the status bar, by the entry's label, once the instrument's
    // value is back.
    retype(limits->Entry(Limits::kNegativeCurrent), "3");
    EXPECT_TRUE(runUntil([&] {
        return app->GetMainFrame()->statusBar()->currentMessage() == "NEG LIM I limited to 0.00 (range -5.00 to 0.00)";
    }));
}

TEST_F(PanelsTest, ASpinStepIsSentOnceTheUserStopsAndKeepsToTheRow)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kPid});
    auto* pid = panelOf<Pid>(doc, 3);
    ASSERT_TRUE(settled(doc, pid));
    CLibSpinButtonCtrl* spin = pid->Spin(Pid::kD);
    auto click = [&](bool up) {
        QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, up ? 2 : spin->height() - 2));
    };
    click(false); // D is at the bottom of its range already
    EXPECT_EQ(text(pid->Entry(Pid::kD)), " 0 ");
    click(true);
    click(true);
    EXPECT_EQ(text(pid->Entry(Pid::kD)), " 2 ");
    runFor(300);
    EXPECT_EQ(held(1, 12), "+000.000");
    EXPECT_TRUE(runUntil([&] { return held(1, 12) == "+002.000"; }, 4000));
    EXPECT_TRUE(settled(doc, pid));
    EXPECT_EQ(text(pid->Entry(Pid::kD)), " 2 ");
}

TEST_F(PanelsTest, AWriteTheDocumentRefusesStaysPendingUntilItIsTaken)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kPid});
    auto* pid = panelOf<Pid>(doc, 3);
    ASSERT_TRUE(settled(doc, pid));
    // With the idle pass halted a read of 10 stays outstanding, so the
    // document refuses writes of 10.
    app->OnCommand(cmd::kHaltAll);
    ASSERT_TRUE(doc->RequestRead(10));
    retype(pid->Entry(Pid::kP), "40");
    for (int pass = 0; pass < 5; ++pass)
        EXPECT_TRUE(pid->Refresh());
    EXPECT_TRUE(pid->GetSetting(Pid::kP).IsWritePending());
    EXPECT_FLOAT_EQ(pid->GetSetting(Pid::kP).PendingValue(), 40.0f);
    EXPECT_EQ(held(1, 10), "+020.000");

    app->OnCommand(cmd::kRestartAll);
    EXPECT_TRUE(runUntil([&] { return held(1, 10) == "+040.000" && text(pid->Entry(Pid::kP)) == " 40 "; }));
    EXPECT_TRUE(settled(doc, pid));
}

TEST_F(PanelsTest, AnOfflineInstrumentBlinksAndGetsWhatWasCommittedMeanwhile)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kLimits, CTqk5820ConfigDoc::kPid, CTqk5820ConfigDoc::kInfo});
    auto* limits = panelOf<Limits>(doc, 2);
    auto* pid = panelOf<Pid>(doc, 3);
    auto* info = panelOf<Info>(doc, 5);
    ASSERT_TRUE(runUntil([&] { return text(info->SerialDisplay()) == "  CALLKV  " && !limits->Refresh(); }));

    sim->sim().control("off 1");
    ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }));
    std::vector<CLibDatamineEdit*> entries = {pid->Entry(Pid::kP), pid->Entry(Pid::kI), pid->Entry(Pid::kD)};
    for (int s = 0; s < Limits::kSettingCount; ++s)
        entries.push_back(limits->Entry(static_cast<Limits::Setting>(s)));
    bool toggled = false;
    const bool lit = entries.front()->blinkOn();
    EXPECT_TRUE(runUntil([&] {
        toggled = toggled || entries.front()->blinkOn() != lit;
        for (CLibDatamineEdit* e : entries)
            if (e->hasValue())
                return false;
        return toggled && !info->SerialDisplay()->hasValue() && !info->VersionDisplay()->hasValue();
    }));

    // Typed at a human pace and committed while the instrument is away:
    // neither the typing nor the value is blinked away.
    CLibDatamineEdit* integral = pid->Entry(Pid::kI);
    integral->setFocus(Qt::MouseFocusReason);
    runFor(100);
    QTest::keyClicks(integral, "2");
    runFor(700);
    QTest::keyClicks(integral, ".5");
    EXPECT_EQ(text(integral), "2.5");
    EXPECT_FALSE(integral->blinkOn());
    QTest::keyClick(integral, Qt::Key_Tab);
    // A spun value is shown at once and must not be blinked away before or
    // after it is committed.
    CLibSpinButtonCtrl* spin = pid->Spin(Pid::kD);
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, 2));
    EXPECT_EQ(text(pid->Entry(Pid::kD)), " 1 ");
    EXPECT_TRUE(runUntil([&] { return doc->IsHeld(12); }, 4000));
    retype(limits->Entry(Limits::kHighTemperature), "55");
    runFor(600);
    // The document holds them for the unit, not the panels.
    EXPECT_TRUE(doc->IsHeld(11));
    EXPECT_TRUE(doc->IsHeld(31));
    EXPECT_FALSE(pid->GetSetting(Pid::kI).IsWritePending());

    sim->sim().control("on 1");
    EXPECT_TRUE(runUntil([&] {
        for (CLibDatamineEdit* e : entries)
            if (!e->hasValue())
                return false;
        return doc->IsOnline() && text(info->VersionDisplay()) == " 1.3 "
               && text(info->SerialDisplay()) == "  CALLKV  ";
    }, 10000));
    EXPECT_EQ(held(1, 11), "+002.500");
    EXPECT_EQ(held(1, 12), "+001.000");
    EXPECT_EQ(held(1, 31), "+055.000");
    EXPECT_EQ(text(pid->Entry(Pid::kI)), " 2.5 ");
    EXPECT_EQ(text(limits->Entry(Limits::kHighTemperature)), " 55.0 ");
    EXPECT_EQ(text(pid->Entry(Pid::kP)), " 20 ");
    EXPECT_EQ(text(limits->Entry(Limits::kNegativeCurrent)), " -2.50 ");
}

TEST_F(PanelsTest, LimitsAreReadAgainAfterAnOutageEvenBeforeASensorTypeWasApplied)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kLimits}, false);
    auto* limits = panelOf<Limits>(doc, 2);
    // The panel is driven by hand, without the view's re-arm.
    app->OnCommand(cmd::kHaltAll);
    auto pass = [&] {
        limits->Refresh();
        doc->ServiceStep();
    };
    auto allShown = [&] {
        for (int s = 0; s < Limits::kSettingCount; ++s)
            if (!limits->Entry(static_cast<Limits::Setting>(s))->hasValue())
                return false;
        return true;
    };
    ASSERT_TRUE(runUntil([&] { pass(); return doc->IsOnline() && allShown(); }, 8000));
    EXPECT_EQ(limits->AppliedSensorType(), 7);

    sim->sim().control("off 1");
    doc->RequestRead(56);
    ASSERT_TRUE(runUntil([&] { pass(); return !doc->IsOnline() && !allShown(); }, 6000));
    sim->sim().control("on 1");
    EXPECT_TRUE(runUntil([&] { pass(); return doc->IsOnline() && allShown(); }, 10000));
    EXPECT_EQ(text(limits->Entry(Limits::kLowTemperature)), " -20.0 ");
}

TEST_F(PanelsTest, TheLimitsNotificationReadsChangesMadeElsewhere)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kLimits});
    auto* limits = panelOf<Limits>(doc, 2);
    ASSERT_TRUE(settled(doc, limits));
    // Another window (a calibration procedure) changes two limits through
    // the same document.
    ASSERT_TRUE(doc->WriteHighTemperatureLimit(60.0f));
    ASSERT_TRUE(doc->WriteNegativeCurrentLimit(-1.25f));
    ASSERT_TRUE(runUntil([&] { return held(1, 8) == "-001.250" && !doc->AnyOutstanding(); }));
    runFor(1200); // re-arms pass without reading the limits again
    EXPECT_EQ(text(limits->Entry(Limits::kHighTemperature)), " 80.0 ");
    viewOf(doc)->NotifyLimits();
    EXPECT_TRUE(runUntil([&] {
        return text(limits->Entry(Limits::kHighTemperature)) == " 60.0 "
               && text(limits->Entry(Limits::kNegativeCurrent)) == " -1.25 ";
    }));
}

TEST_F(PanelsTest, TemperatureLimitsAreDisabledForAResistanceModeSensor)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kLimits});
    auto* limits = panelOf<Limits>(doc, 2);
    auto enabled = [&](Limits::Setting s) { return limits->Entry(s)->isEnabled() && limits->Spin(s)->isEnabled(); };
    ASSERT_TRUE(runUntil([&] { return limits->AppliedSensorType() == 0; }));
    EXPECT_TRUE(enabled(Limits::kHighTemperature) && enabled(Limits::kLowTemperature));

    doc->SensorTypes().RequestType(1);
    ASSERT_TRUE(runUntil([&] { return limits->AppliedSensorType() == 1; }, 10000));
    EXPECT_FALSE(limits->Entry(Limits::kHighTemperature)->isEnabled());
    EXPECT_FALSE(limits->Spin(Limits::kHighTemperature)->isEnabled());
    EXPECT_FALSE(limits->Entry(Limits::kLowTemperature)->isEnabled());
    EXPECT_FALSE(limits->Spin(Limits::kLowTemperature)->isEnabled());
    EXPECT_TRUE(enabled(Limits::kPositiveCurrent) && enabled(Limits::kNegativeCurrent));

    doc->SensorTypes().RequestType(2);
    ASSERT_TRUE(runUntil([&] { return limits->AppliedSensorType() == 2; }, 10000));
    EXPECT_TRUE(enabled(Limits::kHighTemperature) && enabled(Limits::kLowTemperature));
}

// ---- Info ------------------------------------------------------------------------

TEST_F(PanelsTest, SerialAndVersionAreShownBetweenBlanks)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kInfo});
    auto* info = panelOf<Info>(doc, 5);
    EXPECT_TRUE(runUntil([&] { return text(info->VersionDisplay()) == " 1.3 "; }));
    EXPECT_TRUE(runUntil([&] { return text(info->SerialDisplay()) == "  CALLKV  "; }));
    EXPECT_EQ(info->PortList()->currentText(), "COM2:");
    EXPECT_EQ(text(info->AddressEntry()), " 1 ");
    EXPECT_EQ(info->AddressSpin()->lower(), 1);
    EXPECT_EQ(info->AddressSpin()->upper(), 99);

    // Production access writes a new serial number; the panel shows it
    // once it is told.
    ASSERT_TRUE(doc->WriteSerialNumber("58200042"));
    ASSERT_TRUE(runUntil([&] { return !doc->IsOutstanding(55); }));
    runFor(300);
    EXPECT_EQ(text(info->SerialDisplay()), "  CALLKV  ");
    info->RereadSerialNumber();
    EXPECT_TRUE(runUntil([&] { return text(info->SerialDisplay()) == " 58200042 "; }));
}

TEST_F(PanelsTest, AnAddressOutsideOneToNinetyNineIsRefusedOnceAndTheOldNumberShown)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kInfo});
    auto* info = panelOf<Info>(doc, 5);
    ASSERT_TRUE(runUntil([&] { return text(info->AddressEntry()) == " 1 "; }));
    for (const char* typed : {"0", "100", "-3"}) {
        prompts.boxes.clear();
        retype(info->AddressEntry(), typed);
        EXPECT_TRUE(runUntil([&] { return text(info->AddressEntry()) == " 1 "; })) << typed;
        runFor(200);
        ASSERT_EQ(prompts.boxes.size(), 1u) << typed;
        EXPECT_EQ(prompts.boxes[0].text, "ERROR - Unit Number Range : 1-99");
        EXPECT_EQ(prompts.boxes[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(doc->GetUnitNumber(), 1);
    }
    // The number in force: nothing to do, nothing said.
    prompts.boxes.clear();
    retype(info->AddressEntry(), "1");
    runFor(300);
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_TRUE(doc->IsOnline());
    EXPECT_EQ(text(info->AddressEntry()), " 1 ");
}

TEST_F(PanelsTest, AValidAddressMovesTheDocumentAndItsTitleToThatUnit)
{
    CTqk5820ConfigDoc* other = open({CTqk5820ConfigDoc::kInfo});
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kInfo});
    ASSERT_EQ(other->GetUnitNumber(), 1);
    ASSERT_EQ(doc->GetUnitNumber(), 2);
    auto* info = panelOf<Info>(doc, 5);
    ASSERT_TRUE(runUntil([&] { return text(info->AddressEntry()) == " 2 "; }));

    retype(info->AddressEntry(), "1");
    EXPECT_TRUE(runUntil([&] { return !prompts.boxes.empty(); }));
    EXPECT_EQ(prompts.boxTexts(), std::vector<std::string> {"ERROR - Unit Number already in use."});
    EXPECT_TRUE(runUntil([&] { return text(info->AddressEntry()) == " 2 "; }));

    force(7, 55, "UNIT0007");
    retype(info->AddressEntry(), "7");
    EXPECT_TRUE(runUntil([&] { return doc->GetUnitNumber() == 7; }));
    EXPECT_EQ(doc->GetTitle(), "TQK-5820-07.cfg");
    EXPECT_TRUE(runUntil([&] { return viewOf(doc)->GetFrame()->windowTitle() == "TQK-5820-07.cfg"; }));
    EXPECT_TRUE(runUntil([&] { return text(info->SerialDisplay()) == " UNIT0007 "; }, 10000));
    EXPECT_EQ(text(info->AddressEntry()), " 7 ");
    EXPECT_EQ(prompts.boxes.size(), 1u);
}

TEST_F(PanelsTest, ModulationWordsSelectTheirItems)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kInfo});
    auto* info = panelOf<Info>(doc, 5);
    CLibComboBox* list = info->ModulationList();
    ASSERT_EQ(list->count(), 5);
    EXPECT_EQ(list->itemText(3), "Disabled");
    struct Case {
        const char* word;
        int item;
        bool automatic;
    };
    const Case cases[] = {
        {"-000.010", 1, true},  {"+000.000", 3, false}, {"+000.110", 4, false}, {"+000.001", 0, false},
        {"-000.100", 2, true},  {"+010.000", -1, false}, {"+000.100", 2, false},
    };
    for (const Case& c : cases) {
        force(1, 42, c.word);
        EXPECT_TRUE(runUntil([&] { return info->ModulationWord() == c.word; })) << c.word;
        EXPECT_EQ(list->currentIndex(), c.item) << c.word;
        EXPECT_EQ(info->AutoBox()->isChecked(), c.automatic) << c.word;
        EXPECT_EQ(list->isEnabled(), !c.automatic) << c.word;
    }
}

TEST_F(PanelsTest, ChoosingAModulationItemOrAutoWritesTheWord)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kInfo});
    auto* info = panelOf<Info>(doc, 5);
    CLibComboBox* list = info->ModulationList();
    ASSERT_TRUE(runUntil([&] { return list->currentIndex() == 3; }));

    QTest::keyClick(list, Qt::Key_Up); // "1:100"
    EXPECT_TRUE(runUntil([&] { return held(1, 42) == "+000.100"; }));
    EXPECT_TRUE(runUntil([&] { return info->ShownModulation() == Info::kRatio100; }));

    // Custom sends the word as last read.
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->currentText(), "Custom");
    EXPECT_TRUE(info->IsModulationWritePending());
    EXPECT_EQ(info->ModulationWord(), "+000.100");
    EXPECT_TRUE(runUntil([&] { return !info->IsModulationWritePending(); }));
    EXPECT_EQ(held(1, 42), "+000.100");
    // The list comes back to what the instrument holds.
    EXPECT_TRUE(runUntil([&] { return list->currentIndex() == 2; }));

    // The mark follows the word read back, not the click.
    QTest::mouseClick(info->AutoBox(), Qt::LeftButton);
    EXPECT_FALSE(info->AutoBox()->isChecked());
    EXPECT_TRUE(runUntil([&] { return held(1, 42) == "-000.100"; }));
    EXPECT_TRUE(runUntil([&] { return info->AutoBox()->isChecked() && !list->isEnabled(); }));
    QTest::mouseClick(info->AutoBox(), Qt::LeftButton);
    EXPECT_TRUE(runUntil([&] { return !info->AutoBox()->isChecked() && list->isEnabled(); }));
    EXPECT_EQ(held(1, 42), "+000.100");
}

TEST_F(PanelsTest, CustomBeforeAnyWordWasReadSendsNothingAndHoldsNothingUp)
{
    sim->sim().control("off 1");
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kInfo}, false);
    auto* info = panelOf<Info>(doc, 5);
    runFor(2500); // the first probe goes unanswered
    ASSERT_FALSE(doc->IsOnline());
    QTest::keyClick(info->ModulationList(), Qt::Key_End);
    EXPECT_EQ(info->ModulationList()->currentText(), "Custom");
    EXPECT_FALSE(info->IsModulationWritePending());

    sim->sim().control("on 1");
    EXPECT_TRUE(runUntil([&] {
        return doc->IsOnline() && info->ShownModulation() == Info::kDisabled && !info->Refresh();
    }, 10000));
    EXPECT_EQ(info->ModulationList()->currentText(), "Disabled");
}

TEST_F(PanelsTest, APortChangeAsksWhetherToMakeItTheDefault)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kInfo});
    auto* info = panelOf<Info>(doc, 5);
    CLibComboBox* portList = info->PortList();
    ASSERT_EQ(portList->count(), 4);
    EXPECT_EQ(portList->itemText(3), "COM4:");

    prompts.answers = {MessageAnswer::Yes};
    QTest::keyClick(portList, Qt::Key_Up); // COM1, which leads nowhere here
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[0].text, "Change the default to port COM1: ?");
    EXPECT_EQ(prompts.boxes[0].buttons, MessageButtons::YesNo);
    EXPECT_EQ(prompts.boxes[1].text, "ERROR - ComPort refuses our request to Open!");
    EXPECT_EQ(profile.readInt("Default", "iComPort", -1), 0);
    EXPECT_EQ(doc->GetPortIndex(), 0);
    EXPECT_FALSE(doc->IsOnline());
    EXPECT_TRUE(runUntil([&] { return !info->VersionDisplay()->hasValue(); }));

    prompts.answers = {MessageAnswer::No};
    QTest::keyClick(portList, Qt::Key_Down);
    ASSERT_EQ(prompts.boxes.size(), 3u);
    EXPECT_EQ(prompts.boxes[2].text, "Change the default to port COM2: ?");
    EXPECT_EQ(profile.readInt("Default", "iComPort", -1), 0);
    EXPECT_EQ(portList->currentText(), "COM2:");
    EXPECT_TRUE(runUntil([&] { return doc->IsOnline() && text(info->VersionDisplay()) == " 1.3 "; }, 8000));
}

// While the port question waits, the window stays on its port and reads on,
// and nothing asks again; the change comes once, when answered.
TEST_F(PanelsTest, APortQuestionHoldsOnlyThePortChange)
{
    CTqk5820ConfigDoc* doc = open({CTqk5820ConfigDoc::kMeasure, CTqk5820ConfigDoc::kInfo});
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }, 8000));
    CLibComboBox* portList = panelOf<Info>(doc, 5)->PortList();
    int portMeanwhile = -1;
    std::int64_t readMeanwhile = 0;
    std::size_t boxesMeanwhile = 0;
    prompts.answers = {MessageAnswer::No};
    bool once = false;
    prompts.whileOpen = [&] {
        if (std::exchange(once, true))
            return;
        const std::int64_t asked = clock.utcMillis();
        runFor(2500);
        portMeanwhile = doc->GetPortIndex();
        readMeanwhile = doc->ReadAt(pn::kActualTemperature) - asked;
        boxesMeanwhile = prompts.boxes.size();
    };
    QTest::keyClick(portList, Qt::Key_Up);
    EXPECT_EQ(portMeanwhile, 1);
    EXPECT_GT(readMeanwhile, 1000);
    EXPECT_EQ(boxesMeanwhile, 1u);
    EXPECT_EQ(doc->GetPortIndex(), 0);
    EXPECT_EQ(prompts.boxes.front().text, "Change the default to port COM1: ?");
}

} // namespace
