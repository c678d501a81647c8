// The production commands of a controller window under the offscreen
// platform against the simulator: the access dialog, the diagnostics
// window beside its controller window, and how that window ends.

#include "app/CKvtDocTemplate.h"
#include "calibration/ProductionAccessDialog.h"
#include "config/CTqk5820ConfigInfoDialog.h"
#include "controls/CLibNumberStatic.h"
#include "diagnostics/CTqk5820DiagnosticDoc.h"
#include "link/ParameterNumbers.h"
#include "diagnostics/CTqk5820DiagnosticView.h"
#include "platform/qt/CChildFrame.h"
#include "resources/Menus.h"
#include "resources/Messages.h"
#include "tests/support/AppBench.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QTest>
#include <algorithm>

namespace {

constexpr const char* kPassword = "TQK58CAL";
constexpr int kSwitchIds[] = {1073, 1074, 1076, 1077, 1078, 1079};

class ProductionTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2}; }

    // Makes the controller's window the active one, as the user's click does.
    void activate(CTqk5820ConfigDoc* doc)
    {
        app->GetMainFrame()->GetClientArea()->setActiveSubWindow(viewOf(doc)->GetFrame());
    }

    // Runs a production command of the active window; `fill` works the
    // access dialog once it is up (and must close it). Whether a dialog came.
    bool command(int id, const std::function<void(ProductionAccessDialog&)>& fill)
    {
        return commandWithModal(id, fill);
    }

    static void enterSerialField(ProductionAccessDialog& d)
    {
        QFocusEvent in(QEvent::FocusIn, Qt::TabFocusReason);
        QApplication::sendEvent(d.SerialNumberField(), &in);
    }

    // The access granted with the simulator's password and the proposed
    // serial number.
    static void grant(ProductionAccessDialog& d)
    {
        d.UserNameField()->setText("Jane Doe");
        d.PasswordField()->setText(kPassword);
        enterSerialField(d);
        d.OkButton()->click();
    }

    std::vector<Document*> diagnostics() const { return app->DiagnosticTemplate().GetDocuments(); }

    CTqk5820DiagnosticView* formOf(Document* doc)
    {
        return doc->GetViews().empty() ? nullptr : dynamic_cast<CTqk5820DiagnosticView*>(doc->GetViews().front());
    }

    // A controller online with its diagnostics window open.
    CTqk5820DiagnosticView* openDiagnostics(CTqk5820ConfigDoc* doc)
    {
        activate(doc);
        EXPECT_TRUE(command(cmd::kDiagnostics, grant));
        for (Document* d : diagnostics()) {
            if (static_cast<CTqk5820DiagnosticDoc*>(d)->GetOwnerDocument() == doc)
                return formOf(d);
        }
        return nullptr;
    }

    sim::SimUnit& unit(int n = 1) { return *sim->sim().unit(n); }
};

// ---------------------------------------------------------------- access dialog

TEST_F(ProductionTest, TheAccessDialogIsBuiltFromItsTemplateAndRefusesWhatItMust)
{
    profile.writeText("Production", "sMasterSerialNum", "0E0A9999");
    CTqk5820ConfigDoc* doc = openOnline();
    activate(doc);
    const int windows = app->GetMainFrame()->GetClientArea()->subWindowList().size();
    std::vector<std::string> seen;
    ASSERT_TRUE(command(cmd::kCalibration, [&](ProductionAccessDialog& d) {
        EXPECT_EQ(d.windowTitle(), "User / Password / Serial Number Dialog - COM2 unit 01");
        EXPECT_EQ(d.PasswordField()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(d.SerialNumberField()->text(), " CALLKV ");
        EXPECT_EQ(d.PasswordField()->text(), "") << "a locked instrument";
        EXPECT_TRUE(d.OkButton()->isDefault());

        // A single word: refused, the dialog stays.
        d.UserNameField()->setText("  Jane  ");
        d.OkButton()->click();
        EXPECT_TRUE(d.isVisible());

        // The counter at 9999 proposes nine characters, which the field
        // shows whole and OK refuses.
        enterSerialField(d);
        EXPECT_EQ(d.SerialNumberField()->text(), "0E0A10000");
        d.UserNameField()->setText("Jane Doe");
        d.PasswordField()->setText(kPassword);
        d.OkButton()->click();
        EXPECT_TRUE(d.isVisible());

        // What the user types stops at 8 characters.
        d.SerialNumberField()->clear();
        QTest::keyClicks(d.SerialNumberField(), "0E0A123456");
        EXPECT_EQ(d.SerialNumberField()->text(), "0E0A1234");
        d.UpdateButton()->click();
        EXPECT_EQ(profile.readText("Production", "sMasterSerialNum", ""), "0E0A1234");
        d.CancelButton()->click();
    }));
    for (const auto& box : prompts.boxes)
        seen.push_back(box.text);
    EXPECT_EQ(seen, (std::vector<std::string> {msg::kUserNameTwoWords, "Please enter no more than 8 characters.",
                                               msg::kSerialNumberFormat}));
    EXPECT_EQ(app->GetMainFrame()->GetClientArea()->subWindowList().size(), windows);
    std::string serial = "?";
    ASSERT_TRUE(runUntil([&] { return doc->ReadSerialNumber(serial); }));
    EXPECT_EQ(serial, " CALLKV ") << "nothing written after the refusals and Cancel";

    // Calibration after a confirmed dialog opens its window; the unit is
    // unlocked now, and the next dialog needs no password.
    ASSERT_TRUE(command(cmd::kCalibration, [&](ProductionAccessDialog& d) {
        grant(d);
        EXPECT_FALSE(d.isVisible());
    }));
    EXPECT_EQ(app->GetMainFrame()->GetClientArea()->subWindowList().size(), windows + 1);
    EXPECT_TRUE(diagnostics().empty());
    activate(doc);
    ASSERT_TRUE(command(cmd::kCalibration, [&](ProductionAccessDialog& d) {
        EXPECT_EQ(d.PasswordField()->text().size(), 7);
        EXPECT_EQ(d.UserNameField()->text(), "Jane Doe");
        d.CancelButton()->click();
    }));
}

// ---------------------------------------------------------------- diagnostics window

TEST_F(ProductionTest, DiagnosticsOpenBesideTheControllerWindowAndFollowTheInstrument)
{
    CTqk5820ConfigDoc* doc = openOnline();
    CTqk5820DiagnosticView* form = openDiagnostics(doc);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(profile.readText("Production", "sMasterSerialNum", ""), "0E0A2851");
    EXPECT_EQ(profile.readText("Production", "sLastUserName", ""), "Jane Doe");

    // Titled after the serial number, right of the controller window, the
    // whole form in view.
    EXPECT_EQ(form->GetDocument().GetTitle(), "0E0A2851.dgn");
    EXPECT_EQ(form->GetFrame()->windowTitle(), "0E0A2851.dgn");
    EXPECT_EQ(form->GetFrame()->pos(), QPoint(viewOf(doc)->GetFrame()->width(), 0));
    EXPECT_EQ(form->GetFrame()->contentsRect().size(), form->size());
    // The Info panel has read the new serial number.
    auto* info = panelOf<CTqk5820ConfigInfoDialog>(doc, CTqk5820ConfigDoc::kInfo);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(runUntil([&] { return info->SerialDisplay()->text() == " 0E0A2851 "; }));

    // The counter climbs to the digipot's position; the selector's one
    // position is marked.
    EXPECT_TRUE(runUntil([&] { return form->CounterDisplay()->text() == " 128.000 "; }, 10000))
        << form->CounterDisplay()->text().toStdString();
    int marked = 0;
    for (int id : kSwitchIds)
        marked += form->Button(id)->isChecked() ? 1 : 0;
    EXPECT_EQ(marked, 1);
    // A status indicator is the program's to mark, not the user's.
    QAbstractButton* indicator = form->Button(1079);
    const bool before = indicator->isChecked();
    indicator->click();
    EXPECT_EQ(indicator->isChecked(), before);

    // One lamp group at a time.
    form->Button(1051)->click();
    EXPECT_TRUE(form->Button(1051)->isChecked());
    EXPECT_TRUE(runUntil([&] { return unit().lampPattern() == "+010.000"; }));
    form->Button(1050)->click();
    EXPECT_FALSE(form->Button(1051)->isChecked());
    EXPECT_TRUE(form->Button(1050)->isChecked());
    EXPECT_TRUE(runUntil([&] { return unit().lampPattern() == "+100.000"; }));

    // CLOSE: the window goes and the lamps go out.
    form->Button(1143)->click();
    EXPECT_TRUE(runUntil([&] { return diagnostics().empty(); }));
    EXPECT_TRUE(runUntil([&] { return unit().lampPattern() == "-000.000"; }));
    EXPECT_TRUE(doc->IsOnline());
    EXPECT_TRUE(prompts.boxes.empty());
}

// A controller on the right half of the main window: its Diagnostics opens
// on its left, in sight, and closing it makes that controller's window the
// active one again, whichever the client area would have picked.
TEST_F(ProductionTest, DiagnosticsOfARightHandControllerOpenInSightAndCloseBackToIt)
{
    app->GetMainFrame()->resize(1400, 900);
    CTqk5820ConfigDoc* left = openOnline();
    CTqk5820ConfigDoc* right = openOnline(2);
    QMdiSubWindow* controller = viewOf(right)->GetFrame();
    const QRect area = app->GetMainFrame()->GetClientArea()->viewport()->rect();
    controller->move(area.width() - controller->width(), 0);

    CTqk5820DiagnosticView* form = openDiagnostics(right);
    ASSERT_NE(form, nullptr);
    const QRect placed = form->GetFrame()->geometry();
    EXPECT_TRUE(area.contains(placed)) << placed.x() << "+" << placed.width() << " in " << area.width();
    EXPECT_FALSE(placed.intersects(controller->geometry()));
    EXPECT_EQ(placed.right() + 1, controller->x());

    // The other controller was worked in last before the form.
    activate(left);
    app->GetMainFrame()->GetClientArea()->setActiveSubWindow(form->GetFrame());
    form->Button(1143)->click();
    EXPECT_TRUE(runUntil([&] { return diagnostics().empty(); }));
    EXPECT_TRUE(runUntil([&] { return app->GetMainFrame()->GetActiveChildFrame() == controller; }));
}

TEST_F(ProductionTest, DiagnosticsOpenBesideTheCalibrationWindowNotOnTopOfIt)
{
    CTqk5820ConfigDoc* doc = openOnline();
    QMdiSubWindow* controller = viewOf(doc)->GetFrame();
    activate(doc);
    ASSERT_TRUE(command(cmd::kCalibration, grant));
    QMdiSubWindow* calibration = nullptr;
    for (QMdiSubWindow* w : app->GetMainFrame()->GetClientArea()->subWindowList()) {
        if (w != controller)
            calibration = w;
    }
    ASSERT_NE(calibration, nullptr);
    EXPECT_EQ(calibration->pos(), QPoint(controller->width(), 0));

    CTqk5820DiagnosticView* form = openDiagnostics(doc);
    ASSERT_NE(form, nullptr);
    QMdiSubWindow* diagnostics = form->GetFrame();
    // Right of the calibration window where the area has room; in this
    // small main window, inside it, over neither the controller nor the
    // calibration window as far as can be.
    const QRect area = app->GetMainFrame()->GetClientArea()->viewport()->rect();
    EXPECT_TRUE(area.contains(diagnostics->geometry()));
    EXPECT_FALSE(diagnostics->geometry().intersects(controller->geometry()));
    app->GetMainFrame()->resize(1800, 1000);
    form->Button(1143)->click();
    EXPECT_TRUE(runUntil([&] { return app->DiagnosticTemplate().GetDocuments().empty(); }));
    form = openDiagnostics(doc);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->GetFrame()->pos(), QPoint(calibration->geometry().right() + 1, 0));
    EXPECT_FALSE(form->GetFrame()->geometry().intersects(calibration->geometry()));
}

TEST_F(ProductionTest, ASecondDiagnosticsCommandBringsTheOpenWindowForward)
{
    CTqk5820ConfigDoc* first = openOnline();
    CTqk5820ConfigDoc* second = openOnline();
    CTqk5820DiagnosticView* form = openDiagnostics(first);
    ASSERT_NE(form, nullptr);
    QMdiSubWindow* frame = form->GetFrame();

    activate(first);
    ASSERT_TRUE(command(cmd::kDiagnostics, [](ProductionAccessDialog& d) {
        d.UserNameField()->setText("Jane Doe");
        d.OkButton()->click();
    }));
    ASSERT_EQ(diagnostics().size(), 1u);
    EXPECT_EQ(formOf(diagnostics().front()), form);
    EXPECT_EQ(app->GetMainFrame()->GetClientArea()->activeSubWindow(), frame);

    // Another controller gets a window of its own.
    CTqk5820DiagnosticView* other = openDiagnostics(second);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, form);
    EXPECT_EQ(diagnostics().size(), 2u);
    EXPECT_EQ(other->GetDocument().GetTitle(), "0E0A2852.dgn") << "the counter moved on";
}

TEST_F(ProductionTest, ClosingTheControllerWindowClosesItsDiagnosticsFirstAndPutsTheLampsOut)
{
    CTqk5820ConfigDoc* doc = openOnline();
    CTqk5820DiagnosticView* form = openDiagnostics(doc);
    ASSERT_NE(form, nullptr);
    form->Button(1055)->click();
    ASSERT_TRUE(runUntil([&] { return unit().lampPattern() == "+000.001"; }));

    viewOf(doc)->GetFrame()->close();
    EXPECT_TRUE(diagnostics().empty());
    EXPECT_TRUE(app->ConfigTemplate().GetDocuments().empty());
    EXPECT_EQ(unit().lampPattern(), "-000.000") << "written before the controller's port closed";
    EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(ProductionTest, ADiagnosticsWindowClosesItselfWhenItsInstrumentGoesOffline)
{
    CTqk5820ConfigDoc* doc = openOnline();
    CTqk5820DiagnosticView* form = openDiagnostics(doc);
    ASSERT_NE(form, nullptr);
    sim->sim().control("off 1");
    EXPECT_TRUE(runUntil([&] { return diagnostics().empty(); }, 10000));
    EXPECT_FALSE(doc->IsOnline());
    EXPECT_TRUE(prompts.boxes.empty()) << "no message";
    EXPECT_EQ(app->ConfigTemplate().GetDocuments().size(), 1u);
}

TEST_F(ProductionTest, HaltCpuSilencesTheUnitAndClosesTheWindow)
{
    CTqk5820ConfigDoc* doc = openOnline();
    CTqk5820DiagnosticView* form = openDiagnostics(doc);
    ASSERT_NE(form, nullptr);

    prompts.answers.push_back(MessageAnswer::Cancel);
    form->Button(1150)->click();
    runFor(200);
    EXPECT_FALSE(unit().halted());
    EXPECT_EQ(diagnostics().size(), 1u);

    form->Button(1150)->click(); // OK this time
    EXPECT_TRUE(runUntil([&] { return diagnostics().empty(); }));
    EXPECT_TRUE(unit().halted());
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[1].text, msg::kHaltWarning);
    // The controller finds its unit silent and goes offline by itself.
    EXPECT_TRUE(runUntil([&] { return !doc->IsOnline(); }, 10000));
}

// The unit goes away while Halt's box waits: the window stays until the box
// is answered (the passes go on meanwhile), then closes.
TEST_F(ProductionTest, HaltAnsweredAfterTheUnitWentAwayClosesTheWindowOnce)
{
    CTqk5820ConfigDoc* doc = openOnline();
    ASSERT_NE(openDiagnostics(doc), nullptr);
    CTqk5820DiagnosticView* form = formOf(diagnostics().front());
    std::size_t formsMeanwhile = 0;
    prompts.whileOpen = [&] {
        sim->sim().control("off 1");
        EXPECT_TRUE(runUntil([&] { return !doc->IsOnline(); }, 10000));
        runFor(300);
        formsMeanwhile = diagnostics().size();
    };
    form->Button(1150)->click();
    EXPECT_TRUE(runUntil([&] { return diagnostics().empty(); }, 15000));
    EXPECT_EQ(formsMeanwhile, 1u);
    EXPECT_EQ(prompts.boxes.size(), 1u);
    sim->sim().control("on 1");
}

// A wrong password costs ten seconds, during which every controller reads on,
// the one the dialog is about too; the status bar says why the program waits.
TEST_F(ProductionTest, TheWrongPasswordWaitLeavesEveryControllerReading)
{
    CTqk5820ConfigDoc* doc = openOnline(1);
    CTqk5820ConfigDoc* other = openOnline(2);
    activate(doc);
    std::int64_t pressed = 0;
    bool busyShown = false;
    EXPECT_TRUE(command(cmd::kCalibration, [&](ProductionAccessDialog& d) {
        d.UserNameField()->setText("Jane Doe");
        d.PasswordField()->setText("WRONG123");
        pressed = clock.utcMillis();
        d.OkButton()->click();
        busyShown = std::count(prompts.statusMessages.begin(), prompts.statusMessages.end(),
                               "Checking the password...") == 1;
        d.CancelButton()->click();
    }));
    EXPECT_GE(clock.utcMillis() - pressed, 9000);
    EXPECT_TRUE(busyShown);
    EXPECT_EQ(prompts.statusMessages.back(), "") << "taken back once done";
    for (CTqk5820ConfigDoc* d : {doc, other})
        EXPECT_GT(d->ReadAt(pn::kActualTemperature), pressed + 8000);
}

} // namespace
