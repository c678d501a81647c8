// The Sensor panel of a controller window, driven by real events against the
// in-process simulator.

#include "config/CTqk5820ConfigSensorDialog.h"
#include "controls/CLibComboBox.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "controls/CLibTabButton.h"
#include "tests/support/AppBench.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QTest>

namespace {

using Sensor = CTqk5820ConfigSensorDialog;

const QString kDegrees = QString(QChar(0xB0)) + "C";

class SensorPanelTest : public AppBench {
protected:
    // A controller window online whose Sensor panel shows the established type.
    Sensor* open(int unit)
    {
        doc = openOnline(unit);
        app->GetMainFrame()->activateWindow();
        EXPECT_TRUE(runUntil([&] { return QApplication::activeWindow() == app->GetMainFrame(); }));
        Sensor* panel = panelOf<Sensor>(doc, CTqk5820ConfigDoc::kSensor);
        EXPECT_NE(panel, nullptr);
        EXPECT_TRUE(runUntil([&] { return panel->RememberedType() == doc->GetSensorType(); }));
        return panel;
    }

    sim::SimUnit& unit(int n) { return *sim->sim().unit(n); }
    bool holds(int n, int p, const std::string& text, int ms = 6000)
    {
        return runUntil([&] { return held(n, p) == text; }, ms);
    }

    // Opens the drop-down list and clicks the item.
    static void choose(QComboBox* list, const QString& item)
    {
        const int index = list->findText(item);
        ASSERT_GE(index, 0) << item.toStdString();
        list->showPopup();
        QAbstractItemView* view = list->view();
        ASSERT_TRUE(runUntil([&] { return view->isVisible(); }, 2000));
        view->setCurrentIndex(view->model()->index(index, 0));
        QTest::keyClick(view, Qt::Key_Return);
        ASSERT_TRUE(runUntil([&] { return !view->isVisible(); }, 2000));
    }

    // Types the text over the entry's contents and leaves the field.
    static void type(CLibDatamineEdit* entry, const char* text, bool leave = true)
    {
        entry->setFocus();
        entry->selectAll();
        QTest::keyClicks(entry, text);
        if (leave)
            QTest::keyClick(entry, Qt::Key_Tab);
    }

    // "1" for each slot whose entry and spin are enabled, "0" for one whose
    // both are disabled, "?" where they disagree.
    static std::string enabledSlots(const Sensor* panel)
    {
        std::string s;
        for (int k = 0; k < Sensor::kSlotCount; ++k) {
            const bool entry = panel->Entry(k)->isEnabled();
            s += entry != panel->Spin(k)->isEnabled() ? '?' : entry ? '1' : '0';
        }
        return s;
    }

    static QStringList captions(const Sensor* panel)
    {
        QStringList list;
        for (int k = 0; k < Sensor::kSlotCount; ++k)
            list << panel->Caption(k)->text();
        return list;
    }

    static bool allBlank(const Sensor* panel)
    {
        for (int k = 0; k < Sensor::kSlotCount; ++k) {
            if (!panel->Entry(k)->text().isEmpty())
                return false;
        }
        return true;
    }

    CTqk5820ConfigDoc* doc = nullptr;
};

TEST_F(SensorPanelTest, BiasWordsSelectTheModeAndTheAutoMark)
{
    // A manual word already in the instrument when the window opens.
    force(2, 41, "+001.000");
    Sensor* panel = open(2);
    ASSERT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "NTC-10mA"; }));
    EXPECT_FALSE(panel->AutoButton()->isChecked());
    EXPECT_TRUE(panel->ModeList()->isEnabled());

    force(2, 41, "-000.100");
    ASSERT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "NTC-1mA"; }));
    EXPECT_TRUE(panel->AutoButton()->isChecked());
    EXPECT_FALSE(panel->ModeList()->isEnabled());

    force(2, 41, "+110.000");
    ASSERT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "PTC-10K"; }));
    EXPECT_FALSE(panel->AutoButton()->isChecked());
    EXPECT_TRUE(panel->ModeList()->isEnabled());

    // Two range characters set.
    force(2, 41, "+011.000");
    EXPECT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "Custom"; }));

    EXPECT_EQ(Sensor::ModeOfWord("+000.00"), Sensor::kNoMode);
    EXPECT_EQ(Sensor::ModeOfWord("+100.001"), 5);
    EXPECT_EQ(Sensor::ModeOfWord("+000.000"), 10);
}

TEST_F(SensorPanelTest, ModeAndAutoWriteTheBiasWordAndTheMarkFollowsTheInstrument)
{
    force(3, 41, "+000.100");
    Sensor* panel = open(3);
    ASSERT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "NTC-1mA"; }));

    choose(panel->ModeList(), "PTC-10mA");
    EXPECT_TRUE(holds(3, 41, "+101.000"));

    ASSERT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "PTC-10mA"; }));
    QTest::mouseClick(panel->AutoButton(), Qt::LeftButton);
    // The mark waits for the word read back.
    EXPECT_FALSE(panel->AutoButton()->isChecked());
    EXPECT_TRUE(holds(3, 41, "-101.000"));
    ASSERT_TRUE(runUntil([&] { return panel->AutoButton()->isChecked(); }));
    EXPECT_FALSE(panel->ModeList()->isEnabled());

    QTest::mouseClick(panel->AutoButton(), Qt::LeftButton);
    EXPECT_TRUE(holds(3, 41, "+101.000"));
    EXPECT_TRUE(runUntil([&] { return panel->ModeList()->isEnabled() && !panel->AutoButton()->isChecked(); }));
}

TEST_F(SensorPanelTest, ChoosingAd590BlanksTheEntriesWhileTheChangeRunsThenEnablesBAndC)
{
    Sensor* panel = open(4);
    ASSERT_EQ(panel->RememberedType(), 0);
    EXPECT_EQ(panel->TypeList()->currentText(), "Thermistor T mode");
    EXPECT_EQ(captions(panel), QStringList({kDegrees, "kOhms", kDegrees, "kOhms", kDegrees, "kOhms"}));
    EXPECT_EQ(enabledSlots(panel), "111111");
    ASSERT_TRUE(runUntil([&] { return panel->Entry(5)->text() == " 5.236 "; }));

    choose(panel->TypeList(), "AD590");
    ASSERT_TRUE(runUntil([&] { return panel->RememberedType() == 7; }));
    EXPECT_EQ(enabledSlots(panel), "000000");
    EXPECT_TRUE(allBlank(panel));
    EXPECT_EQ(captions(panel), QStringList({"", "", "", "", "", ""}));
    EXPECT_EQ(panel->TypeList()->currentText(), "AD590");

    ASSERT_TRUE(runUntil([&] { return panel->RememberedType() == 4; }, 10000));
    EXPECT_EQ(held(4, 21), "+002.000");
    EXPECT_EQ(panel->TypeList()->currentText(), "AD590");
    EXPECT_EQ(captions(panel), QStringList({"", "", "uA/K", "", "uA", ""}));
    EXPECT_EQ(enabledSlots(panel), "001010");
    EXPECT_EQ(panel->Entry(2)->parameterId(), 19);
    EXPECT_EQ(panel->Entry(4)->parameterId(), 20);
    EXPECT_EQ(panel->Entry(0)->parameterId(), 9);
    EXPECT_EQ(panel->Spin(2)->upper(), 9999);
    EXPECT_TRUE(runUntil([&] { return panel->Entry(2)->text() == " 1.000 " && panel->Entry(4)->text() == " 0.00 "; }));
}

TEST_F(SensorPanelTest, AChoiceMadeWhileAChangeRunsIsTheOneThatStays)
{
    Sensor* panel = open(5);
    choose(panel->TypeList(), "AD590");
    // Back to the type still shown, before the change has ended.
    choose(panel->TypeList(), "Thermistor T mode");
    ASSERT_TRUE(runUntil([&] { return doc->SensorTypes().RequestedType() == 7 && panel->RememberedType() == 0; },
                         15000));
    EXPECT_EQ(unit(5).sensorType(), 0);
    EXPECT_EQ(panel->TypeList()->currentText(), "Thermistor T mode");
}

TEST_F(SensorPanelTest, ThePanelLockDisablesEveryControl)
{
    force(6, 41, "+000.100");
    Sensor* panel = open(6);
    ASSERT_TRUE(runUntil([&] { return panel->ModeList()->isEnabled(); }));
    EXPECT_TRUE(panel->TypeList()->isEnabled());
    EXPECT_TRUE(panel->AutoButton()->isEnabled());

    force(6, 35, "+000.001");
    ASSERT_TRUE(runUntil([&] { return panel->IsLocked(); }));
    EXPECT_EQ(enabledSlots(panel), "000000");
    EXPECT_FALSE(panel->TypeList()->isEnabled());
    EXPECT_FALSE(panel->ModeList()->isEnabled());
    EXPECT_FALSE(panel->AutoButton()->isEnabled());

    unit(6).release(35);
    ASSERT_TRUE(runUntil([&] { return !panel->IsLocked(); }));
    EXPECT_EQ(enabledSlots(panel), "111111");
    EXPECT_TRUE(panel->TypeList()->isEnabled());
    EXPECT_TRUE(panel->ModeList()->isEnabled());
    EXPECT_TRUE(panel->AutoButton()->isEnabled());

    // Hidden, the panel gives back its place among the status word's
    // consumers; shown again it starts afresh, locked until the word is read.
    CTqk5820ConfigView* view = viewOf(doc);
    view->OnDisplayToggle(CTqk5820ConfigDoc::kSensor);
    EXPECT_FALSE(doc->IsConsumer(35, panel));
    view->OnDisplayToggle(CTqk5820ConfigDoc::kSensor);
    Sensor* again = panelOf<Sensor>(doc, CTqk5820ConfigDoc::kSensor);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(again->IsLocked());
    EXPECT_TRUE(doc->IsConsumer(35, again));
    EXPECT_TRUE(runUntil([&] { return !again->IsLocked() && again->RememberedType() == 0; }));
}

TEST_F(SensorPanelTest, ACoefficientTypedIsWrittenAndTheInstrumentsValueShown)
{
    Sensor* panel = open(1);
    type(panel->Entry(2), "30");
    EXPECT_TRUE(holds(1, 23, "+030.000"));
    EXPECT_TRUE(runUntil([&] { return panel->Entry(2)->text() == " 30.000 "; }));

    // Beyond what the entry takes: clamped by the entry, the spin at the
    // end of the row.
    type(panel->Entry(1), "5000");
    EXPECT_TRUE(holds(1, 22, "+999.900"));
    EXPECT_TRUE(runUntil([&] { return panel->Spin(1)->GetPos() == 4999; }));
}

TEST_F(SensorPanelTest, TypingACodePairIntoTheAEntriesChangesTheSensorType)
{
    Sensor* panel = open(7);
    type(panel->Entry(0), "0");
    ASSERT_TRUE(holds(7, 21, "+000.000"));
    type(panel->Entry(1), "0");
    ASSERT_TRUE(runUntil([&] { return panel->RememberedType() == 1; }, 10000));
    EXPECT_EQ(unit(7).sensorType(), 1);
    EXPECT_EQ(panel->TypeList()->currentText(), "Thermistor R mode");
    EXPECT_EQ(enabledSlots(panel), "000000");
    EXPECT_EQ(captions(panel), QStringList({"", "", "", "", "", ""}));
}

TEST_F(SensorPanelTest, AnInstrumentAwayBlinksAndChoicesMadeMeanwhileReachItWhenItIsBack)
{
    force(2, 41, "+000.100");
    Sensor* panel = open(2);
    ASSERT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "NTC-1mA"; }));

    sim->sim().control("off 2");
    ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }));
    EXPECT_TRUE(runUntil([&] { return panel->Entry(0)->blinkOn(); }));
    EXPECT_EQ(panel->TypeList()->currentIndex(), -1);
    EXPECT_EQ(panel->ModeList()->currentIndex(), -1);

    choose(panel->ModeList(), "NTC-10mA");
    choose(panel->TypeList(), "LM335");
    runFor(500);
    sim->sim().control("on 2");
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }, 8000));
    EXPECT_TRUE(holds(2, 41, "+001.000"));
    ASSERT_TRUE(runUntil([&] { return panel->RememberedType() == 5; }, 12000));
    EXPECT_EQ(unit(2).sensorType(), 5);
    EXPECT_EQ(captions(panel), QStringList({"", "", "mV/K", "", "mV", ""}));
    EXPECT_TRUE(runUntil([&] { return panel->ModeList()->currentText() == "NTC-10mA"; }));
    EXPECT_FALSE(panel->Entry(0)->blinkOn());
}

} // namespace
