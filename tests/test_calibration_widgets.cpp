// The calibration window under the offscreen platform against the
// simulator's production test box, with real mouse, key and focus events.
// The program and the simulator run on one clock that goes six times as
// fast as the wall clock, so that procedures that wait for half a minute of
// settled readings end in seconds.

#include "app/CKvtDocTemplate.h"
#include "calibration/CTqk5820CalibrateDoc.h"
#include "calibration/CTqk5820CalibrateView.h"
#include "calibration/ProductionAccessDialog.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibNumberEdit.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibTabButton.h"
#include "link/ParameterNumbers.h"
#include "link/Protocol.h"
#include "platform/Clock.h"
#include "platform/qt/CChildFrame.h"
#include "resources/CalibrationMessages.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <utility>

#include <algorithm>

namespace {

using R = CalibrationRecord;
using Cal = CTqk5820CalibrateDoc;
using Form = CTqk5820CalibrateView;

constexpr int kSpeed = 6;
constexpr const char* kPassword = "TQK58CAL";

// The wall clock, `kSpeed` times as fast.
class FastClock : public Clock {
public:
    FastClock() { timer_.start(); }
    std::int64_t utcMillis() const override { return 1'700'000'000'000 + timer_.elapsed() * kSpeed; }
    std::int64_t seconds() const override { return utcMillis() / 1000; }

private:
    QElapsedTimer timer_;
};

class CalibrationFormTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2}; }
    void adjustLine(sim::Options& options) const override { options.testBox = true; }
    Clock* sharedClock() override { return &fastClock; }

    sim::SimUnit& unit(int n = 1) { return *sim->sim().unit(n); }
    std::string held(int p, int n = 1) { return unit(n).handle(1, p, "+000.000")->data; }
    double heldNumber(int p, int n = 1) { return protocol::textToDouble(held(p, n)); }

    // The Calibration command of the controller's window with the access
    // granted; the calibration window it opened, validated, the main window
    // active so that focus events flow.
    Form* openCalibration(CTqk5820ConfigDoc* controller)
    {
        app->GetMainFrame()->GetClientArea()->setActiveSubWindow(viewOf(controller)->GetFrame());
        commandWithModal<ProductionAccessDialog>(cmd::kCalibration, [](ProductionAccessDialog& d) {
            d.UserNameField()->setText("Jane Doe");
            d.PasswordField()->setText(kPassword);
            QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
            QApplication::sendEvent(d.SerialNumberField(), &in);
            d.OkButton()->click();
        });
        Cal* cal = calibrationOf(controller);
        if (cal == nullptr)
            return nullptr;
        EXPECT_TRUE(runUntil([&] { return cal->IsValidated() && !cal->IsBusy(); }, 10000));
        app->GetMainFrame()->activateWindow();
        EXPECT_TRUE(runUntil([&] { return QApplication::activeWindow() == app->GetMainFrame(); }));
        // The form's first box hands the focus to the 10 uA entry, whose
        // bias word the next refresh sends.
        Form* opened = formOf(cal);
        EXPECT_TRUE(runUntil([&] { return opened != nullptr && !opened->BiasWaiting() && !cal->IsBusy(); }));
        return opened;
    }

    Cal* calibrationOf(CTqk5820ConfigDoc* controller) const
    {
        for (Document* d : app->CalibrationTemplate().GetDocuments()) {
            if (static_cast<Cal*>(d)->GetConfigDoc() == controller)
                return static_cast<Cal*>(d);
        }
        return nullptr;
    }

    static Form* formOf(Cal* cal)
    {
        return cal == nullptr || cal->GetViews().empty() ? nullptr : dynamic_cast<Form*>(cal->GetViews().front());
    }

    bool statusShown(const std::string& text) const
    {
        return std::find(prompts.statusMessages.begin(), prompts.statusMessages.end(), text)
            != prompts.statusMessages.end();
    }

    // A click as the user makes it.
    static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(4, w->height() / 2)); }

    // Types over whatever the focused field holds and leaves it with Tab.
    static void typeAndLeave(QWidget* field, double value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%.3f", value);
        QTest::keyClicks(field, QString::fromLatin1(text).left(8));
        QTest::keyClick(field, Qt::Key_Tab);
    }

    // Waits `seconds` of the program's clock.
    void wait(double seconds) { runUntil([] { return false; }, static_cast<int>(seconds * 1000 / kSpeed)); }

    // A controller window online on unit 1 and its calibration window.
    void openForm()
    {
        doc = openOnline(1);
        form = openCalibration(doc);
        ASSERT_NE(form, nullptr);
    }

    FastClock fastClock;
    CTqk5820ConfigDoc* doc = nullptr;
    Form* form = nullptr;
};

// ---------------------------------------------------------------- the window

TEST_F(CalibrationFormTest, OpensBesideItsControllerTitledAfterTheSerialAndOnlyOnce)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    Cal& cal = form->GetCalibrateDoc();
    EXPECT_EQ(cal.GetTitle(), "0E0A2851.cal");
    EXPECT_EQ(form->GetFrame()->windowTitle(), "0E0A2851.cal");
    EXPECT_EQ(form->GetFrame()->pos(), QPoint(viewOf(doc)->GetFrame()->width(), 0));
    EXPECT_EQ(form->GetFrame()->contentsRect().size(), form->size());
    EXPECT_TRUE(statusShown(msg::kPasswordValidated));
    EXPECT_TRUE(runUntil([&] { return unit().sensorType() == 1; }));

    // What the template and the initial update make of the form.
    EXPECT_FALSE(form->Button(Form::kPreviousButton)->isEnabled());
    EXPECT_FALSE(form->Button(Form::kAbortButton)->isEnabled());
    EXPECT_TRUE(form->Button(Form::kClearEepromButton)->isEnabled());
    for (int id : {Form::k10uABox, Form::k100uABox, Form::k1mABox, Form::k10mABox, Form::kRefPlusBox, Form::kRefMinusBox})
        EXPECT_TRUE(form->Box(id)->passFocus()) << id;
    EXPECT_FALSE(form->Box(Form::kResistorButton)->passFocus());
    EXPECT_EQ(form->Box(Form::kActualV1Box)->layoutDirection(), Qt::RightToLeft);
    for (int i = 0; i < Form::kBiasCount; ++i)
        EXPECT_EQ(form->BiasEntry(i)->parameterId(), 33 + i);
    EXPECT_EQ(form->ResistorDisplay()->parameterId(), 52);
    // The first refresh shows the record: the measured bias currents and the
    // resistor, no box set.
    EXPECT_TRUE(runUntil([&] { return form->ResistorDisplay()->text() == " 10.000 "; }))
        << form->ResistorDisplay()->text().toStdString();
    EXPECT_TRUE(runUntil([&] { return form->BiasEntry(1)->text() == " 100.00 "; }))
        << form->BiasEntry(1)->text().toStdString();
    EXPECT_FALSE(form->Box(Form::k100uABox)->isChecked());

    // A click on a check box does not change its mark.
    click(form->Box(Form::kActualV2Box));
    EXPECT_FALSE(form->Box(Form::kActualV2Box)->isChecked());

    // A second Calibration command finds the open window.
    const int windows = app->GetMainFrame()->GetClientArea()->subWindowList().size();
    EXPECT_EQ(openCalibration(doc), form);
    EXPECT_EQ(app->CalibrationTemplate().GetDocuments().size(), 1u);
    EXPECT_EQ(app->GetMainFrame()->GetClientArea()->subWindowList().size(), windows);
}

TEST_F(CalibrationFormTest, ItsClosedWindowTakesBackOnlyWhatItSaidInTheStatusBar)
{
    doc = openOnline(1);
    QStatusBar* bar = app->GetMainFrame()->statusBar();
    for (const char* shown : {msg::kPasswordValidated, "COM2 unit 02 stopped answering"}) {
        form = openCalibration(doc);
        ASSERT_NE(form, nullptr);
        ASSERT_TRUE(runUntil([&] { return statusShown(msg::kPasswordValidated); }));
        bar->showMessage(shown);
        click(form->Button(Form::kCloseButton));
        ASSERT_TRUE(runUntil([&] { return app->CalibrationTemplate().GetDocuments().empty(); }, 10000));
        runFor(50);
        EXPECT_EQ(bar->currentMessage().isEmpty(), shown == msg::kPasswordValidated) << shown;
        prompts.statusMessages.clear();
    }
}

TEST_F(CalibrationFormTest, ABiasCurrentTypedGoesToTheInstrumentAndComesBackWithItsBox)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    CLibDatamineEdit* entry = form->BiasEntry(0);
    ASSERT_TRUE(runUntil([&] { return entry->hasValue(); }));

    // The box hands the focus to its entry; the refresh sends its current's word.
    click(form->Box(Form::k10uABox));
    ASSERT_TRUE(runUntil([&] { return entry->hasFocus(); }));
    EXPECT_EQ(entry->selectedText(), entry->text());
    EXPECT_FALSE(form->Box(Form::k10uABox)->isChecked());
    ASSERT_TRUE(runUntil([&] { return held(41) == "+000.001"; })) << held(41);

    const double meter = unit().meters().biasCurrent;
    typeAndLeave(entry, meter);
    char expected[16];
    std::snprintf(expected, sizeof expected, "+%07.3f", meter);
    EXPECT_TRUE(runUntil([&] { return held(61) == expected; })) << held(61);
    EXPECT_TRUE(runUntil([&] { return form->Box(Form::k10uABox)->isChecked(); }));
    EXPECT_EQ(entry->text().trimmed().toStdString(), std::string(expected).substr(2));
    EXPECT_FALSE(entry->committed());
    EXPECT_FLOAT_EQ(form->GetCalibrateDoc().Record().values[R::k10uA], static_cast<float>(protocol::textToDouble(expected)));
}

TEST_F(CalibrationFormTest, AValueIsHandedOverOnOnePassAndConfirmedOnTheNext)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    Cal& cal = form->GetCalibrateDoc();

    // Tabbing through a capture field starts and ends a capture but commits nothing.
    form->Entry(0)->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(runUntil([&] { return held(41) == "+000.010"; }));
    QTest::keyClick(form->Entry(0), Qt::Key_Tab);
    ASSERT_TRUE(runUntil([&] { return !form->Entry(0)->hasFocus(); }));
    EXPECT_FALSE(form->Entry(0)->committed());
    EXPECT_FALSE(form->Box(Form::kActualV1Box)->isChecked());

    // From here the passes are the test's.
    ASSERT_TRUE(runUntil([&] { return !cal.IsBusy(); }));
    app->SetPolling(false);
    click(form->Box(Form::kRefPlusBox));
    ASSERT_TRUE(form->Entry(6)->hasFocus());
    typeAndLeave(form->Entry(6), 4.995);
    ASSERT_TRUE(form->Entry(6)->committed());
    form->RefreshPass();
    EXPECT_TRUE(cal.ReferenceEntered(Cal::kRefPlus));
    EXPECT_FLOAT_EQ(cal.GetReference(Cal::kRefPlus), 4.995f);
    EXPECT_FALSE(form->Box(Form::kRefPlusBox)->isChecked());
    EXPECT_TRUE(form->Entry(6)->committed());
    form->RefreshPass();
    EXPECT_TRUE(form->Box(Form::kRefPlusBox)->isChecked());
    EXPECT_FALSE(form->Entry(6)->committed());
    EXPECT_FALSE(cal.ReferenceEntered(Cal::kRefMinus));
    app->SetPolling(true);
}

TEST_F(CalibrationFormTest, BothValuesOfAPairCommittedBeforeOneRefreshReachTheDocument)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    Cal& cal = form->GetCalibrateDoc();
    form->Entry(0)->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(runUntil([&] { return held(41) == "+000.010" && !cal.IsBusy(); }));

    // From here the passes are the test's: V1 and V2 are both typed first.
    app->SetPolling(false);
    typeAndLeave(form->Entry(0), 1.25);
    form->Entry(1)->setFocus(Qt::MouseFocusReason);
    typeAndLeave(form->Entry(1), 2.5);
    ASSERT_TRUE(form->Entry(0)->committed());
    ASSERT_TRUE(form->Entry(1)->committed());
    ASSERT_FALSE(cal.IsBusy());
    form->RefreshPass();
    EXPECT_FLOAT_EQ(cal.MeasuredValue(Cal::kActualV1), 1.25f);
    EXPECT_FLOAT_EQ(cal.MeasuredValue(Cal::kActualV2), 2.5f);
    form->RefreshPass();
    for (int box : {Form::kActualV1Box, Form::kActualV2Box})
        EXPECT_TRUE(form->Box(box)->isChecked()) << box;
    EXPECT_FALSE(form->Entry(0)->committed());
    EXPECT_FALSE(form->Entry(1)->committed());
    app->SetPolling(true);
}

TEST_F(CalibrationFormTest, ClosingTheControllerWindowClosesCalibrationFirstAndPutsTheSettingsBack)
{
    unit().handle(2, 41, "-000.100");
    ASSERT_NO_FATAL_FAILURE(openForm());
    ASSERT_TRUE(runUntil([&] { return unit().sensorType() == 1; }));
    click(form->Box(Form::k1mABox));
    ASSERT_TRUE(runUntil([&] { return held(41) == "+000.100"; }));

    viewOf(doc)->GetFrame()->close();
    ASSERT_TRUE(runUntil([&] { return app->ConfigTemplate().GetDocuments().empty(); }));
    EXPECT_TRUE(app->CalibrationTemplate().GetDocuments().empty());
    EXPECT_EQ(unit().sensorType(), 0);
    EXPECT_EQ(held(41), "-000.100");
}

// A procedure whose box waits for the user holds still meanwhile, and goes
// on once, as answered; its controller keeps reading all along.
TEST_F(CalibrationFormTest, AProcedureWaitingOnItsBoxHoldsStillWhileItsControllerGoesOn)
{
    sim::SimUnit::Board board = unit().board();
    board.senseResistor = 12.5;   // out of tolerance
    unit().setBoard(board);
    ASSERT_NO_FATAL_FAILURE(openForm());
    int opened = 0;
    std::size_t boxesMeanwhile = 99;
    std::int64_t statusBefore = 0;
    std::int64_t statusDuring = 0;
    prompts.answers = {MessageAnswer::Ignore};
    prompts.whileOpen = [&] {
        if (++opened > 1)
            return;
        const std::size_t boxes = prompts.boxes.size();
        statusBefore = doc->ReadAt(pn::kStatusWord);
        runFor(3000);
        statusDuring = doc->ReadAt(pn::kStatusWord);
        boxesMeanwhile = prompts.boxes.size() - boxes;
    };
    click(form->Box(Form::kResistorButton));
    ASSERT_TRUE(runUntil([&] { return opened > 0 && boxesMeanwhile != 99; }, 30000));
    EXPECT_EQ(boxesMeanwhile, 0u);
    EXPECT_GT(statusDuring, statusBefore);
    // Ignored: the value is taken once and the procedure ends.
    ASSERT_TRUE(runUntil([&] { return form->Box(Form::kResistorButton)->isChecked(); }, 30000));
    EXPECT_EQ(opened, 1);
}

TEST_F(CalibrationFormTest, TheWindowClosesItselfWhenItsInstrumentGoesAway)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    sim->sim().control("off 1");
    ASSERT_TRUE(runUntil([&] { return app->CalibrationTemplate().GetDocuments().empty(); }, 8000));
    EXPECT_FALSE(doc->IsOnline());
    EXPECT_EQ(app->ConfigTemplate().GetDocuments().size(), 1u);
    sim->sim().control("on 1");
    EXPECT_EQ(unit().sensorType(), 1) << "nothing put back on a unit that did not answer";
}

// The unit goes away while Clear EEPROM's warning waits: the window stays
// until the warning is answered, then finds nothing to wipe and closes.
TEST_F(CalibrationFormTest, ClearEepromAnsweredAfterTheUnitWentAwayClosesTheWindow)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    std::size_t formsMeanwhile = 0;
    bool asked = false;
    prompts.whileOpen = [&] {
        if (std::exchange(asked, true))
            return;
        sim->sim().control("off 1");
        EXPECT_TRUE(runUntil([&] { return !doc->IsOnline(); }, 10000));
        runFor(300);
        formsMeanwhile = app->CalibrationTemplate().GetDocuments().size();
    };
    click(form->Button(Form::kClearEepromButton));
    EXPECT_TRUE(runUntil([&] { return app->CalibrationTemplate().GetDocuments().empty(); }, 20000));
    EXPECT_EQ(formsMeanwhile, 1u);
    EXPECT_EQ(prompts.statusMessages.back(), msg::kEepromNotCleared);
    sim->sim().control("on 1");
}

TEST_F(CalibrationFormTest, ClearEepromWipesTheUnitAndClosesTheWindow)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    unit().handle(2, 76, "+001.250");
    click(form->Button(Form::kClearEepromButton));
    ASSERT_TRUE(runUntil([&] { return app->CalibrationTemplate().GetDocuments().empty(); }, 8000));
    ASSERT_FALSE(prompts.boxes.empty());
    EXPECT_EQ(prompts.boxes.back().buttons, MessageButtons::OkCancel);
    EXPECT_EQ(held(76), "+001.000");
    EXPECT_EQ(held(55), "0E0A2851");   // the serial number stays
    // The controller window probes its unit again and finds it.
    EXPECT_TRUE(runUntil([&] { return doc->IsOnline(); }, 8000));
}

// ---------------------------------------------------------------- a whole calibration

TEST_F(CalibrationFormTest, ASimulatedUnitIsCalibratedCompletelyThroughTheForm)
{
    ASSERT_NO_FATAL_FAILURE(openForm());
    Cal& cal = form->GetCalibrateDoc();
    const sim::SimUnit::Board board = sim::SimUnit::uncalibratedBoard();
    // Idle once the procedures are over and their last constants have had
    // their turn on the line.
    const auto idle = [&](int ms = 10000) {
        return runUntil([&] { return !cal.IsBusy() && !doc->AnyOutstanding(); }, ms);
    };

    // ACT T: a 10 kOhm and a 40 kOhm resistor in the sensor socket, the
    // voltmeter across it.
    const auto capture = [&](int index, const std::function<double()>& meter) {
        CLibNumberEdit* entry = form->Entry(index);
        click(entry);
        EXPECT_TRUE(entry->hasFocus()) << index;
        EXPECT_TRUE(runUntil([&] { return held(41) == (index < 2 ? "+000.010" : "-000.000"); })) << index;
        wait(24);
        EXPECT_EQ(held(41), index < 2 ? "+000.010" : "-000.000") << index;
        typeAndLeave(entry, meter());
        EXPECT_FALSE(entry->hasFocus()) << index;
    };
    unit().setTestResistor(10.0);
    capture(0, [&] { return unit().meters().sensorVolts; });
    unit().setTestResistor(40.0);
    capture(1, [&] { return unit().meters().sensorVolts; });
    ASSERT_TRUE(runUntil([&] {
        return form->Box(Form::kActualV1Box)->isChecked() && form->Box(Form::kActualV2Box)->isChecked();
    }, 10000));
    unit().setTestResistor(0.0);

    // The bias currents, read on the ammeter.
    const int biasBoxes[] = {Form::k10uABox, Form::k100uABox, Form::k1mABox, Form::k10mABox};
    const char* const biasWords[] = {"+000.001", "+000.010", "+000.100", "+001.000"};
    for (int i = 0; i < Form::kBiasCount; ++i) {
        const int box = biasBoxes[i];
        click(form->Box(box));
        ASSERT_TRUE(runUntil([&] { return form->BiasEntry(i)->hasFocus(); })) << i;
        ASSERT_TRUE(runUntil([&] { return held(41) == biasWords[i]; })) << i;
        typeAndLeave(form->BiasEntry(i), unit().meters().biasCurrent);
        ASSERT_TRUE(runUntil([&] { return form->Box(box)->isChecked(); }, 10000)) << i;
    }

    // The 10 kOhm resistor of the AD590 path.
    click(form->Box(Form::kResistorButton));
    EXPECT_FALSE(form->Box(Form::kResistorButton)->isChecked());
    ASSERT_TRUE(runUntil([&] { return form->Box(Form::kResistorButton)->isChecked(); }, 30000));
    // The constant goes out once the line has its turn for it.
    EXPECT_TRUE(idle());
    EXPECT_NEAR(heldNumber(65), board.senseResistor, 0.01);
    EXPECT_EQ(form->ResistorDisplay()->text(), " " + QString::number(heldNumber(65), 'f', 3) + " ");

    // TE current and voltage at full cooling and full heating.
    capture(2, [&] { return unit().meters().teCurrent; });
    capture(3, [&] { return unit().meters().teCurrent; });
    capture(4, [&] { return unit().meters().teVolts; });
    capture(5, [&] { return unit().meters().teVolts; });
    ASSERT_TRUE(runUntil([&] {
        return form->Box(Form::kTeVoltageV1Box)->isChecked() && form->Box(Form::kTeVoltageV2Box)->isChecked()
            && form->Box(Form::kTeCurrentA2Box)->isChecked();
    }, 10000));
    EXPECT_FALSE(unit().outputOn());

    // The references, then both set points.
    click(form->Box(Form::kRefPlusBox));
    typeAndLeave(form->Entry(6), unit().meters().refPlus);
    click(form->Box(Form::kRefMinusBox));
    typeAndLeave(form->Entry(7), unit().meters().refMinus);
    ASSERT_TRUE(runUntil([&] {
        return form->Box(Form::kRefPlusBox)->isChecked() && form->Box(Form::kRefMinusBox)->isChecked();
    }));
    for (int button : {Form::kSetPointLowButton, Form::kSetPointHighButton, Form::kPosLimitButton,
                       Form::kNegLimitButton}) {
        ASSERT_TRUE(idle());
        click(form->Box(button));
        ASSERT_TRUE(runUntil([&] { return form->Box(button)->isChecked(); }, 40000)) << button;
    }
    ASSERT_TRUE(idle());

    // The constants take out the board's errors.
    EXPECT_NEAR(heldNumber(61), 10.0 * board.biasFactor[0], 0.002);
    EXPECT_NEAR(heldNumber(62), 100.0 * board.biasFactor[1], 0.002);
    EXPECT_NEAR(heldNumber(63), 1.0 * board.biasFactor[2], 0.002);
    EXPECT_NEAR(heldNumber(64), 10.0 * board.biasFactor[3], 0.002);
    EXPECT_NEAR(heldNumber(74), 1.0 / board.rawGain[0], 0.002);
    EXPECT_NEAR(heldNumber(75), -board.rawOffset[0] / board.rawGain[0], 0.002);
    EXPECT_NEAR(heldNumber(76), 1.0 / board.rawGain[1], 0.002);
    EXPECT_NEAR(heldNumber(77), -board.rawOffset[1] / board.rawGain[1], 0.002);
    EXPECT_NEAR(heldNumber(78), 1.0 / board.rawGain[2], 0.002);
    EXPECT_NEAR(heldNumber(80), 1.0 / board.setPointGain, 0.005);
    EXPECT_NEAR(heldNumber(82), heldNumber(80) * std::fabs(board.refPlus / board.refMinus), 0.002);
    EXPECT_EQ(held(83), held(81));
    EXPECT_NEAR(heldNumber(84), 1.0 / board.posLimitGain, 0.005);
    EXPECT_NEAR(heldNumber(85), -board.posLimitOffset / board.posLimitGain, 0.005);
    EXPECT_NEAR(heldNumber(86), 1.0 / board.negLimitGain, 0.005);
    EXPECT_NEAR(heldNumber(87), -board.negLimitOffset / board.negLimitGain, 0.005);
    EXPECT_TRUE(std::any_of(prompts.statusMessages.begin(), prompts.statusMessages.end(), [](const std::string& s) {
        return s.rfind("SetPoint Updated : Pos Slope = ", 0) == 0 && s.find("Neg Slope = ") != std::string::npos;
    }));
    EXPECT_TRUE(prompts.boxes.empty());

    // CLOSE: the user's settings and sensor type come back.
    click(form->Button(Form::kCloseButton));
    ASSERT_TRUE(runUntil([&] { return app->CalibrationTemplate().GetDocuments().empty(); }, 10000));
    EXPECT_EQ(unit().sensorType(), 0);
    EXPECT_EQ(held(41), "-000.010");
    EXPECT_EQ(held(7), "+002.500");
    EXPECT_EQ(held(8), "-002.500");
}

} // namespace
