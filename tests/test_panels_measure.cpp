// The Status and Measurement panels of a controller window, driven through
// their widgets in the window program against the in-process simulator.

#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/CTqk5820ConfigStatusDialog.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibLampStatic.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "link/InstrumentLink.h"
#include "link/ParameterTable.h"
#include "link/Protocol.h"
#include "controls/NumberFormat.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

namespace {

using Measure = CTqk5820ConfigMeasureDialog;
using Status = CTqk5820ConfigStatusDialog;

const QString kDegrees = QString(QChar(0x00B0)) + "C";

class PanelTest : public AppBench {
protected:
    // Only the two panels under test; the others have tests of their own.
    void SetUp() override
    {
        AppBench::SetUp();
        for (const char* key : {"iDisplayLimits", "iDisplayPid", "iDisplaySensor", "iDisplayInfo"})
            profile.writeInt("Default", key, 0);
    }

    sim::SimUnit& unit7() { return *sim->sim().unit(7); }
    std::string held(int parameter) { return AppBench::held(7, parameter); }
    void force(int parameter, const std::string& text) { AppBench::force(7, parameter, text); }

    static Measure* measure(CTqk5820ConfigDoc* doc) { return panelOf<Measure>(doc, 1); }
    static Status* status(CTqk5820ConfigDoc* doc) { return panelOf<Status>(doc, 0); }
    static QString shown(const QLineEdit* entry) { return entry->text().trimmed(); }
    static QString shown(const QLabel* display) { return display->text().trimmed(); }

    // A controller on unit 7 whose panel shows its set point and output word.
    CTqk5820ConfigDoc* openSettled()
    {
        CTqk5820ConfigDoc* doc = openOnline(7);
        Measure* m = measure(doc);
        // The lamp blinks until the output word is in: settled means that too.
        EXPECT_TRUE(runUntil([&] { return m->SetPointEntry()->hasValue() && m->IsOutputKnown() && !m->IsBusy(); }));
        return doc;
    }

    // Types into the entry as a user does and leaves it with Tab.
    void typeInto(CLibDatamineEdit* entry, const char* text)
    {
        QWidget* window = entry->window();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        entry->setFocus();
        entry->selectAll();
        QTest::keyClicks(entry, text);
        QTest::keyClick(entry, Qt::Key_Tab);
        ASSERT_TRUE(entry->committed());
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
};

TEST_F(PanelTest, ATypedSetPointIsWrittenAndTheInstrumentsEchoShown)
{
    force(3, "+020.000");
    CTqk5820ConfigDoc* doc = openOnline(7);
    Measure* m = measure(doc);
    CLibDatamineEdit* entry = m->SetPointEntry();
    ASSERT_TRUE(runUntil([&] { return shown(entry) == "20.00"; }));
    EXPECT_EQ(m->ActualUnitCaption()->text(), kDegrees);
    EXPECT_EQ(m->SetPointUnitCaption()->text(), kDegrees);
    EXPECT_EQ(m->AuxUnitCaption()->text(), kDegrees);

    typeInto(entry, "25");
    ASSERT_TRUE(runUntil([&] { return held(3) == "+025.000"; }));
    EXPECT_TRUE(runUntil([&] { return !m->IsSetPointPending() && !entry->committed(); }));
    EXPECT_TRUE(runUntil([&] { return doc->ValueText(3) == "+025.000" && shown(entry) == "25.00"; }));

    // Out of range: the entry clamps to 999.9, the instrument to its own
    // range, and the panel shows what the instrument holds.
    typeInto(entry, "1234.5");
    ASSERT_TRUE(runUntil([&] { return held(3) == "+199.900"; }));
    EXPECT_TRUE(runUntil([&] { return shown(entry) == "199.90"; }));
    // The spin stops at the end of the set-temperature row.
    CLibSpinButtonCtrl* spin = m->SetPointSpin();
    EXPECT_EQ(spin->upper(), ParameterTable::maximum(1));
    EXPECT_EQ(spin->GetPos(), ParameterTable::maximum(1));
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, 1));
    EXPECT_EQ(shown(entry), "199.90");
    EXPECT_FALSE(entry->spinPending());
}

TEST_F(PanelTest, OnOffSwitchesByTheLampAndResetsAnError)
{
    CTqk5820ConfigDoc* doc = openSettled();
    Measure* m = measure(doc);
    CLibLampStatic* lamp = m->OutputLamp();
    QPushButton* button = m->OutputButton();
    ASSERT_EQ(lamp->state(), 0);
    EXPECT_EQ(button->text(), "ON/OFF");

    click(button);
    ASSERT_TRUE(runUntil([&] { return held(51) == "+000.001"; }));
    EXPECT_TRUE(runUntil([&] { return lamp->state() == 1; }));

    click(button);
    ASSERT_TRUE(runUntil([&] { return held(51) == "+000.000"; }));
    EXPECT_TRUE(runUntil([&] { return lamp->state() == 0; }));

    // The instrument tripped the output with an error.
    force(51, "+000.100");
    ASSERT_TRUE(runUntil([&] { return button->text() == "Reset Error"; }));
    EXPECT_EQ(lamp->state(), 0);
    click(button);
    ASSERT_TRUE(runUntil([&] { return held(51) == "+000.001"; }));
    EXPECT_TRUE(runUntil([&] { return button->text() == "ON/OFF" && lamp->state() == 1; }));
}

TEST_F(PanelTest, TheStatusLampsShowExactlyTheFlagsOfTheStatusWord)
{
    CTqk5820ConfigDoc* doc = openSettled();
    Status* s = status(doc);
    EXPECT_EQ(s->BusyLampControl()->logic().onColor(), (Rgb {255, 255, 0}));
    EXPECT_EQ(s->TemperatureLimitLamp()->logic().onColor(), (Rgb {255, 0, 0}));
    EXPECT_EQ(s->CurrentLimitLamp()->logic().onColor(), kGreen);
    EXPECT_EQ(s->SensorErrorLamp()->logic().onColor(), (Rgb {255, 0, 0}));

    struct Example {
        const char* word;
        int temperature, current, sensor;
    };
    // Each differs from the one before, so a match means the word was read.
    const Example examples[] = {
        {"+000.000", 0, 0, 0}, {"+010.000", 0, 0, 1}, {"+000.100", 1, 0, 0}, {"+000.010", 0, 1, 0},
        {"+000.001", 0, 0, 0}, {"+100.000", 0, 0, 1}, {"+001.000", 1, 0, 0}, {"+111.110", 1, 1, 1},
    };
    auto lamps = [&] {
        return std::make_tuple(s->TemperatureLimitLamp()->state(), s->CurrentLimitLamp()->state(),
                               s->SensorErrorLamp()->state());
    };
    for (const Example& e : examples) {
        force(35, e.word);
        const auto wanted = std::make_tuple(e.temperature, e.current, e.sensor);
        EXPECT_TRUE(runUntil([&] { return lamps() == wanted; })) << e.word;
    }
    // And they stay so over the next reads.
    runFor(1500);
    EXPECT_EQ(lamps(), std::make_tuple(1, 1, 1));
}

// A set point changed at the instrument's front panel shows in the entry as
// the readings do, in either unit; not while the user types in the field,
// and typed values are still written.
TEST_F(PanelTest, TheSetPointFollowsTheInstrumentButNotOverWhatTheUserTypes)
{
    const struct {
        const char* name;
        int sensorType;
        int parameter;
        const char* atInstrument;
        const char* shownThen;
    } cases[] = {
        {"temperature", 0, 3, "-3", "-3.00"},
        {"resistance", 1, 4, "33.25", "33.250"},
    };
    CTqk5820ConfigDoc* doc = openSettled();
    Measure* m = measure(doc);
    CLibDatamineEdit* entry = m->SetPointEntry();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (doc->GetSensorType() != c.sensorType) {
            doc->SensorTypes().RequestType(c.sensorType);
            ASSERT_TRUE(runUntil([&] { return doc->GetSensorType() == c.sensorType && !m->IsBusy(); }, 10000));
        }
        ASSERT_TRUE(doc->IsConsumer(c.parameter, m));
        ASSERT_EQ(sim->sim().control("set 7 " + std::to_string(c.parameter) + " " + c.atInstrument), "ok");
        EXPECT_TRUE(runUntil([&] { return shown(entry) == c.shownThen; }, 4000)) << shown(entry).toStdString();

        // Half typed: the instrument's next value does not replace it.
        entry->window()->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(entry->window()));
        entry->setFocus();
        entry->selectAll();
        QTest::keyClicks(entry, "1");
        ASSERT_EQ(sim->sim().control("set 7 " + std::to_string(c.parameter) + " 2"), "ok");
        const std::int64_t typed = doc->ReadAt(pn::kTeCurrent);
        runFor(2500);
        EXPECT_EQ(shown(entry), "1");
        // The other readings went on meanwhile.
        EXPECT_GT(doc->ReadAt(pn::kTeCurrent), typed + 1000);
        EXPECT_TRUE(runUntil([&] { return !m->IsBusy(); }));
        ASSERT_EQ(sim->sim().control("release 7 " + std::to_string(c.parameter)), "ok");
        QTest::keyClicks(entry, "5");
        QTest::keyClick(entry, Qt::Key_Tab);
        EXPECT_TRUE(runUntil([&] { return held(c.parameter) == "+015.000"; }));
    }
}

TEST_F(PanelTest, AResistanceModeSensorMovesTheSetPointToKiloOhms)
{
    CTqk5820ConfigDoc* doc = openSettled();
    Measure* m = measure(doc);
    CLibDatamineEdit* entry = m->SetPointEntry();
    ASSERT_TRUE(doc->IsConsumer(1, m));

    doc->SensorTypes().RequestType(1);
    ASSERT_TRUE(runUntil([&] { return m->GetMode() == Measure::kResistance; }, 10000));
    EXPECT_EQ(m->ActualUnitCaption()->text(), "kOhms");
    EXPECT_EQ(m->SetPointUnitCaption()->text(), "kOhms");
    EXPECT_EQ(m->AuxUnitCaption()->text(), kDegrees);
    EXPECT_EQ(entry->parameterId(), 43);
    EXPECT_EQ(m->SetPointSpin()->lower(), ParameterTable::minimum(43));
    EXPECT_EQ(m->SetPointSpin()->upper(), ParameterTable::maximum(43));
    EXPECT_TRUE(doc->IsConsumer(2, m));
    EXPECT_FALSE(doc->IsConsumer(1, m));
    // The set point and the reading come from 4 and 2 now.
    const float setResistance = static_cast<float>(protocol::textToDouble(held(4)));
    EXPECT_TRUE(runUntil([&] { return entry->hasValue() && entry->value() == setResistance; }));
    EXPECT_TRUE(runUntil([&] { return m->ActualDisplay()->hasValue() && doc->ValueText(2).size() == 8; }));

    typeInto(entry, "12.5");
    EXPECT_TRUE(runUntil([&] { return held(4) == "+012.500"; }));
    EXPECT_TRUE(runUntil([&] { return shown(entry) == "12.500"; }));

    doc->SensorTypes().RequestType(0);
    ASSERT_TRUE(runUntil([&] { return m->GetMode() == Measure::kTemperature; }, 10000));
    EXPECT_EQ(m->SetPointUnitCaption()->text(), kDegrees);
    EXPECT_EQ(entry->parameterId(), 1);
    EXPECT_TRUE(doc->IsConsumer(1, m));
    EXPECT_FALSE(doc->IsConsumer(2, m));
}

TEST_F(PanelTest, AUnitThatGoesAwayBlinksAndTheWindowRecoversByItself)
{
    CTqk5820ConfigDoc* doc = openSettled();
    Measure* m = measure(doc);
    Status* s = status(doc);
    const std::vector<CLibNumberStatic*> displays {m->ActualDisplay(), m->AuxDisplay(), m->CurrentDisplay(),
                                                   m->VoltageDisplay()};
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(displays.begin(), displays.end(), [](auto* d) { return d->hasValue(); });
    }));

    sim->sim().control("off 7");
    ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }));
    // From the first offline pass on, for a while: nothing stale is shown,
    // and everything blinks.
    ASSERT_TRUE(runUntil([&] { return !m->ActualDisplay()->hasValue(); }, 1000));
    bool displayLit = false, entryLit = false, lampLit = false, lampDark = false;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1500) {
        runFor(20);
        for (CLibNumberStatic* d : displays) {
            EXPECT_TRUE(shown(d).isEmpty()) << shown(d).toStdString();
            displayLit |= d->blinkOn();
        }
        EXPECT_TRUE(shown(m->SetPointEntry()).isEmpty());
        entryLit |= m->SetPointEntry()->blinkOn();
        lampLit |= s->SensorErrorLamp()->state() == 1;
        lampDark |= s->SensorErrorLamp()->state() == 0;
    }
    EXPECT_TRUE(displayLit);
    EXPECT_TRUE(entryLit);
    EXPECT_TRUE(lampLit && lampDark);

    sim->sim().control("on 7");
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }, 10000));
    EXPECT_TRUE(runUntil([&] {
        return std::all_of(displays.begin(), displays.end(), [](auto* d) { return d->hasValue() && !d->blinkOn(); })
            && m->SetPointEntry()->hasValue() && !m->SetPointEntry()->blinkOn();
    }));
    EXPECT_EQ(shown(m->SetPointEntry()), "25.00");
    EXPECT_TRUE(runUntil([&] {
        return s->SensorErrorLamp()->state() == 0 && s->TemperatureLimitLamp()->state() == 0
            && m->OutputLamp()->state() == 0;
    }));
}

// The program's real report boxes, which do not wait for the user.
class ReportPanelTest : public PanelTest {
protected:
    bool realReports() const override { return true; }
};

TEST_F(ReportPanelTest, AUnitSwitchedOffWhileAReportIsOpenIsShownOfflineInTime)
{
    CTqk5820ConfigDoc* doc = openSettled();
    Measure* m = measure(doc);
    const std::vector<CLibNumberStatic*> displays {m->ActualDisplay(), m->CurrentDisplay(), m->VoltageDisplay()};
    ASSERT_TRUE(runUntil([&] {
        return std::all_of(displays.begin(), displays.end(), [](auto* d) { return d->hasValue(); });
    }));
    sim->sim().control("faults corrupt=1");
    ASSERT_TRUE(runUntil([&] { return reporting.openReports() == 1; }));
    sim->sim().control("faults corrupt=0");

    // Nobody answers the report; the unit goes away meanwhile.
    sim->sim().control("off 7");
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }, 5000));
    // The panels ask at least once a second, and a reply is given up after
    // more than one whole second (at most two): about three seconds at most.
    EXPECT_LT(t.elapsed(), 4000);
    ASSERT_TRUE(runUntil([&] { return !m->ActualDisplay()->hasValue(); }, 1000));
    bool displayLit = false, displayDark = false;
    t.restart();
    while (t.elapsed() < 1000) {
        runFor(20);
        for (CLibNumberStatic* d : displays) {
            EXPECT_TRUE(shown(d).isEmpty()) << shown(d).toStdString();
            displayLit |= d->blinkOn();
            displayDark |= !d->blinkOn();
        }
        EXPECT_TRUE(shown(m->SetPointEntry()).isEmpty());
    }
    EXPECT_TRUE(displayLit && displayDark);
    EXPECT_EQ(reporting.openReports(), 1);

    // And it is back as soon as it answers again, the report still open.
    sim->sim().control("on 7");
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }, 10000));
    EXPECT_TRUE(runUntil([&] {
        return std::all_of(displays.begin(), displays.end(), [](auto* d) { return d->hasValue() && !d->blinkOn(); });
    }));
    EXPECT_EQ(reporting.openReports(), 1);
}

TEST_F(PanelTest, TheActualTempDisplayShowsANegativeTemperatureWholeWithItsSign)
{
    force(1, "-012.345");
    CTqk5820ConfigDoc* doc = openOnline(7);
    Measure* m = measure(doc);
    CLibNumberStatic* actual = m->ActualDisplay();
    ASSERT_TRUE(runUntil([&] { return shown(actual) == "-12.345"; }));
    for (CLibNumberStatic* display : {actual, m->CurrentDisplay(), m->VoltageDisplay(), m->AuxDisplay()}) {
        const QFontMetrics metrics(display->font());
        for (const std::string& text : numberformat::widestTexts(display->parameterId())) {
            SCOPED_TRACE(text);
            EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(text)), display->contentsRect().width());
        }
    }
    // The sign is drawn: the green figures keep clear of the left edge.
    const QImage image = actual->grab().toImage();
    int left = image.width();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).green() > 128)
                left = std::min(left, x);
    EXPECT_GT(left, 0);
    EXPECT_LT(left, image.width() / 2);
}

TEST_F(PanelTest, ASetPointWriteTheDocumentRefusesIsTriedAgainUntilTaken)
{
    CTqk5820ConfigDoc* doc = openSettled();
    Measure* m = measure(doc);
    app->OnCommand(cmd::kHaltAll);
    // A read of 3 in flight: the document takes no write of 3 until it is in.
    ASSERT_TRUE(doc->RequestRead(3));
    typeInto(m->SetPointEntry(), "26");
    ASSERT_TRUE(m->Refresh());
    EXPECT_TRUE(m->IsSetPointPending());
    app->OnCommand(cmd::kRestartAll);
    ASSERT_TRUE(runUntil([&] { return held(3) == "+026.000"; }));
    EXPECT_TRUE(runUntil([&] { return shown(m->SetPointEntry()) == "26.00"; }));
}

TEST_F(PanelTest, OnOffAfterAnOfflinePeriodWaitsForTheOutputWord)
{
    CTqk5820ConfigDoc* doc = openSettled();
    Measure* m = measure(doc);
    CTqk5820ConfigView* view = viewOf(doc);
    ASSERT_EQ(m->OutputLamp()->state(), 0);
    ASSERT_FALSE(unit7().outputOn());

    // Passes by hand from here, so nothing runs between the steps.
    app->OnCommand(cmd::kHaltAll);
    doc->GoOffline();
    view->RefreshPass();
    // Blinking may leave the lamp lit.
    m->OutputLamp()->SetState(1);
    ASSERT_TRUE(runUntil([&] { doc->ServiceStep(); return doc->IsOnline(); }, 10000));

    click(m->OutputButton());
    bool written = false;
    EXPECT_TRUE(runUntil([&] {
        if (!written) {
            view->RefreshPass();
            doc->ServiceStep();
            written = !m->IsOutputPending() && !doc->IsOutstanding(51);
        }
        return written;
    }));
    EXPECT_EQ(held(51), "+000.001");
    EXPECT_TRUE(unit7().outputOn());
}

TEST_F(PanelTest, HidingAndShowingPanelsRecreatesThemWithFreshState)
{
    CTqk5820ConfigDoc* doc = openSettled();
    CTqk5820ConfigView* view = viewOf(doc);
    // Only compared once the panels are gone, never used.
    const ParameterConsumer* oldStatus = status(doc);
    const ParameterConsumer* oldMeasure = measure(doc);
    ASSERT_NE(doc->GetBusyLamp(), nullptr);

    view->OnDisplayToggle(CTqk5820ConfigDoc::kStatus);
    EXPECT_EQ(status(doc), nullptr);
    EXPECT_EQ(doc->GetBusyLamp(), nullptr);
    EXPECT_FALSE(doc->IsConsumer(35, oldStatus));
    // Commands still run without a lamp to light.
    runFor(300);
    view->OnDisplayToggle(CTqk5820ConfigDoc::kStatus);
    Status* s = status(doc);
    ASSERT_NE(s, nullptr);
    EXPECT_NE(doc->GetBusyLamp(), nullptr);
    EXPECT_TRUE(doc->IsConsumer(35, s));

    view->OnDisplayToggle(CTqk5820ConfigDoc::kMeasure);
    EXPECT_EQ(measure(doc), nullptr);
    for (int p : {1, 2, 5, 6, 9})
        EXPECT_FALSE(doc->IsConsumer(p, oldMeasure)) << p;
    view->OnDisplayToggle(CTqk5820ConfigDoc::kMeasure);
    Measure* m = measure(doc);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetMode(), Measure::kUnknown);
    EXPECT_FALSE(m->SetPointEntry()->hasValue());
    EXPECT_TRUE(m->ActualUnitCaption()->text().isEmpty());
    for (int p : {5, 6, 9})
        EXPECT_TRUE(doc->IsConsumer(p, m)) << p;

    EXPECT_TRUE(runUntil([&] {
        return m->GetMode() == Measure::kTemperature && shown(m->SetPointEntry()) == "25.00"
            && m->ActualDisplay()->hasValue() && m->CurrentDisplay()->hasValue();
    }));
    EXPECT_EQ(m->ActualUnitCaption()->text(), kDegrees);
}

} // namespace
