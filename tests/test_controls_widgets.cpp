#include "controls/CLibComboBox.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibLampStatic.h"
#include "controls/CLibNumberEdit.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "controls/CLibTabButton.h"
#include "controls/ControlSupport.h"
#include "controls/NumberFormat.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedPrompts.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QStatusBar>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/support/QtTestApp.h"

#include <map>
#include <memory>
#include <string>

namespace {

const QColor kQtGreen(0, 255, 0);
const QColor kQtBlack(0, 0, 0);

// A small form in tab order: entry, bound entry with spin, pass-focus button,
// entry, push button.
struct Form {
    Form()
    {
        first = new CLibNumberEdit(prompts, &window);
        first->setGeometry(10, 10, 60, 22);
        bound = new CLibDatamineEdit(clock, prompts, &window);
        bound->setGeometry(10, 40, 60, 22);
        spin = new CLibSpinButtonCtrl(&window);
        spin->setGeometry(70, 40, 16, 22);
        skip = new CLibTabButton(prompts, &window);
        skip->setText("Capture");
        skip->setGeometry(10, 70, 80, 24);
        skip->SetPassFocus(true);
        after = new CLibNumberEdit(prompts, &window);
        after->setGeometry(10, 100, 60, 22);
        after->setText("12.5");
        ok = new CLibTabButton(prompts, &window);
        ok->setText("OK");
        ok->setGeometry(10, 130, 80, 24);

        bound->SetParameterId(4); // one decimal, steps of 0.1
        spin->AttachEdit(*bound);
        window.resize(200, 170);
        window.show();
        window.activateWindow();
        active = QTest::qWaitForWindowActive(&window);
    }

    QWidget* focus() const { return QApplication::focusWidget(); }

    ManualClock clock;
    ScriptedPrompts prompts;
    QWidget window;
    CLibNumberEdit* first;
    CLibDatamineEdit* bound;
    CLibSpinButtonCtrl* spin;
    CLibTabButton* skip;
    CLibNumberEdit* after;
    CLibTabButton* ok;
    bool active = false;
};

QColor centre(QWidget* w)
{
    const QImage image = w->grab().toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

void clickArrow(CLibSpinButtonCtrl* spin, bool up)
{
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, up ? 3 : spin->height() - 3));
}

// ---- Typing -----------------------------------------------------------------------

TEST(EntryWidget, TypingFiltersCharactersAndStopsAtEight)
{
    Form form;
    ASSERT_TRUE(form.active);
    form.first->setFocus();
    QTest::keyClicks(form.first, "12a3");
    EXPECT_EQ(form.first->text(), "123");
    EXPECT_EQ(form.prompts.beeps, 1);
    QTest::keyClicks(form.first, "-.45678");
    EXPECT_EQ(form.first->text(), "123-.456");
    QTest::keyClick(form.first, Qt::Key_Backspace);
    EXPECT_EQ(form.first->text(), "123-.45");
    QTest::keyClick(form.first, Qt::Key_Escape);
    EXPECT_EQ(form.prompts.beeps, 2);
    EXPECT_EQ(form.first->GetValue(), 123.0f);
}

TEST(EntryWidget, OwnerTextIsNotCutToTheTypingLimit)
{
    Form form;
    form.bound->SetParameterId(255);
    form.bound->SetValue(1234.5678f);
    EXPECT_EQ(form.bound->text(), " 1234.568 ");
}

TEST(EntryWidget, PasteGoesThroughTheFilter)
{
    Form form;
    ASSERT_TRUE(form.active);
    form.first->setFocus();
    QApplication::clipboard()->setText("abc");
    QTest::keyClick(form.first, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form.first->text(), "");
    EXPECT_EQ(form.prompts.beeps, 1);
    QApplication::clipboard()->setText(" -4.25 ");
    QTest::keyClick(form.first, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(form.first->text(), "-4.25");
}

// ---- Focus and commit -----------------------------------------------------------

// Where the focus goes when it leaves the first entry, and whether what
// the entry holds is committed: only when it was typed since the visit began.
TEST(EntryWidget, LeavingAnEntryMovesForwardAndCommitsOnlyWhatWasTyped)
{
    enum Leave { kTab, kEnter, kClick };
    const struct {
        const char* name;
        const char* preset;   // set by the owner before the visit
        const char* typed;
        Leave leave;
        bool committed;
    } cases[] = {
        {"tab after typing", "", "25", kTab, true},
        {"enter after typing", "", "4", kEnter, true},
        {"a click elsewhere after typing", "", "3.5", kClick, true},
        {"tab without a change", "7", "", kTab, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Form form;
        ASSERT_TRUE(form.active);
        form.after->setFocus(); // the form starts with the focus in the first entry
        form.first->setText(c.preset);
        form.first->setFocus();
        QTest::keyClicks(form.first, c.typed);
        EXPECT_FALSE(form.first->committed());
        if (c.leave == kClick)
            QTest::mouseClick(form.after, Qt::LeftButton);
        else
            QTest::keyClick(form.first, c.leave == kTab ? Qt::Key_Tab : Qt::Key_Return);
        EXPECT_EQ(form.focus(), c.leave == kClick ? static_cast<QWidget*>(form.after) : form.bound);
        EXPECT_EQ(form.first->committed(), c.committed);
        const std::string text = std::string(c.preset) + c.typed;
        EXPECT_EQ(form.first->text().toStdString(), text);
        EXPECT_EQ(form.first->GetValue(), std::stof(text));
        form.first->SetCommitted(false);
        EXPECT_FALSE(form.first->committed());
    }

    // Shift+Tab searches forward too; the spin takes no focus and the
    // pass-focus button hands on to the entry after it, its text selected.
    for (const bool shift : {false, true}) {
        SCOPED_TRACE(shift ? "shift+tab" : "tab");
        Form form;
        ASSERT_TRUE(form.active);
        form.bound->setFocus();
        QTest::keyClick(form.bound, shift ? Qt::Key_Backtab : Qt::Key_Tab, shift ? Qt::ShiftModifier : Qt::NoModifier);
        EXPECT_EQ(form.focus(), form.after);
        EXPECT_EQ(form.after->selectedText(), "12.5");
    }
}

TEST(EntryWidget, TabAndEnterIntoAnEntrySelectItsTextSoTypingReplacesIt)
{
    Form form;
    ASSERT_TRUE(form.active);
    form.bound->SetValue(123.4f);
    form.first->setFocus();
    QTest::keyClick(form.first, Qt::Key_Tab);
    ASSERT_EQ(form.focus(), form.bound);
    EXPECT_EQ(form.bound->selectedText(), form.bound->text());
    QTest::keyClicks(form.bound, "-5.2");
    EXPECT_EQ(form.bound->text(), "-5.2");

    // A field already at the typing limit: without the selection the first
    // key would only beep.
    form.bound->SetValue(-999.9f);
    ASSERT_EQ(form.bound->text().size(), 8);
    form.first->setFocus();
    QTest::keyClick(form.first, Qt::Key_Return);
    ASSERT_EQ(form.focus(), form.bound);
    QTest::keyClicks(form.bound, "7");
    EXPECT_EQ(form.bound->text(), "7");
    EXPECT_EQ(form.prompts.beeps, 0);
}

TEST(EntryWidget, ValuesSetByTheOwnerDoNotCommitButTheNextKeyDoes)
{
    Form form;
    ASSERT_TRUE(form.active);
    form.bound->setFocus();
    form.bound->SetValue(1.5f);
    form.bound->SetValue(1.5f); // unchanged text: Qt reports no change
    QTest::keyClick(form.bound, Qt::Key_Tab);
    EXPECT_FALSE(form.bound->committed());

    form.bound->setFocus();
    form.bound->SetValue(1.5f);
    QTest::keyClick(form.bound, Qt::Key_End);
    QTest::keyClick(form.bound, Qt::Key_Backspace);
    QTest::keyClick(form.bound, Qt::Key_Tab);
    EXPECT_TRUE(form.bound->committed());
}

// ---- Spin ----------------------------------------------------------------------

TEST(SpinWidget, ClicksStepTheEntryAndCommitAfterTwoSeconds)
{
    Form form;
    ASSERT_TRUE(form.active);
    EXPECT_EQ(form.spin->lower(), -1999);
    EXPECT_EQ(form.spin->upper(), 1999);
    form.bound->SetValue(20.0f);
    EXPECT_EQ(form.spin->GetPos(), 200);
    form.bound->setFocus();

    clickArrow(form.spin, true);
    clickArrow(form.spin, true);
    EXPECT_EQ(form.bound->text(), " 20.2 ");
    EXPECT_EQ(form.focus(), form.bound); // the spin takes no focus
    EXPECT_FALSE(form.bound->IsCommitted());
    form.clock.advanceSeconds(2);
    EXPECT_TRUE(form.bound->IsCommitted());
    EXPECT_EQ(form.bound->GetValue(), 20.2f);

    // Ignored until the owner has taken the value.
    clickArrow(form.spin, false);
    EXPECT_EQ(form.bound->text(), " 20.2 ");
    form.bound->SetCommitted(false);
    form.bound->SetValue(20.2f);
    clickArrow(form.spin, false);
    EXPECT_EQ(form.bound->text(), " 20.1 ");
    EXPECT_TRUE(form.bound->spinPending());
}

TEST(SpinWidget, ADisabledSpinDoesNotStep)
{
    Form form;
    ASSERT_TRUE(form.active);
    form.bound->SetValue(1.0f);
    form.spin->setEnabled(false);
    clickArrow(form.spin, true);
    EXPECT_EQ(form.bound->text(), " 1.0 ");
}

// ---- Tab buttons ---------------------------------------------------------------

TEST(TabButtonWidget, APassFocusButtonStillClicks)
{
    Form form;
    ASSERT_TRUE(form.active);
    QSignalSpy clicked(form.skip, &QAbstractButton::clicked);
    QTest::mouseClick(form.skip, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(form.focus(), form.after);
}

TEST(TabButtonWidget, EnterMovesOnInsteadOfPressingAndLettersBeep)
{
    Form form;
    ASSERT_TRUE(form.active);
    QSignalSpy clicked(form.ok, &QAbstractButton::clicked);
    form.ok->setFocus();
    ASSERT_EQ(form.focus(), form.ok);
    QTest::keyClick(form.ok, Qt::Key_X);
    EXPECT_EQ(form.prompts.beeps, 1);
    EXPECT_EQ(form.focus(), form.ok);
    QTest::keyClick(form.ok, Qt::Key_Return);
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_EQ(form.focus(), form.first); // wraps round within the form

    form.ok->setFocus();
    QTest::keyClick(form.ok, Qt::Key_Space);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(TabButtonWidget, ARingOfPassFocusButtonsKeepsTheFocus)
{
    ScriptedPrompts prompts;
    QWidget window;
    auto* a = new CLibTabButton(prompts, &window);
    auto* b = new CLibTabButton(prompts, &window);
    a->SetPassFocus(true);
    b->SetPassFocus(true);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    a->setFocus();
    EXPECT_EQ(QApplication::focusWidget(), a);
}

// ---- Look ------------------------------------------------------------------------

TEST(TabButtonWidget, AManualMarkIsLeftToTheProgram)
{
    QWidget form;
    auto* manual = new QCheckBox("Auto", &form);
    manual->setProperty("controlId", 1050);
    manual->setProperty("manualMark", true);
    auto* plain = new QCheckBox("Other", &form);
    plain->setProperty("controlId", 1051);
    auto* autoBox = new CLibTabButton(&form);
    auto* otherBox = new CLibTabButton(&form);
    ASSERT_TRUE(autoBox->attach(&form, 1050));
    ASSERT_TRUE(otherBox->attach(&form, 1051));
    form.show();
    QSignalSpy clicks(autoBox, &QAbstractButton::clicked);
    QTest::mouseClick(autoBox, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(autoBox->isChecked());
    autoBox->setChecked(true);
    EXPECT_TRUE(autoBox->isChecked());
    QTest::mouseClick(otherBox, Qt::LeftButton);
    EXPECT_TRUE(otherBox->isChecked());
}

TEST(ControlLook, EntriesAreGreenOnBlackAndBlinkSolidGreen)
{
    Form form;
    ASSERT_TRUE(form.active);
    EXPECT_EQ(form.first->palette().color(QPalette::Text), kQtGreen);
    EXPECT_EQ(centre(form.first), kQtBlack);

    form.bound->SetValue(5.0f);
    form.clock.advanceMillis(300);
    form.bound->Blink();
    EXPECT_TRUE(form.bound->blinkOn());
    EXPECT_EQ(form.bound->text(), "");
    EXPECT_EQ(centre(form.bound), kQtGreen);
    form.bound->SetValue(5.0f);
    EXPECT_EQ(centre(form.bound), kQtBlack);
}

TEST(ControlLook, LampsAndDisplaysPaintTheirColours)
{
    ManualClock clock;
    QWidget window;
    auto* lamp = new CLibLampStatic(clock, &window);
    lamp->setGeometry(0, 0, 24, 15);
    auto* display = new CLibNumberStatic(clock, &window);
    display->setGeometry(0, 20, 80, 16);
    window.show();

    EXPECT_EQ(centre(lamp), kQtBlack);
    lamp->SetState(1);
    EXPECT_EQ(centre(lamp), kQtGreen);
    lamp->SetColors(QColor(255, 0, 0), QColor(128, 0, 0));
    EXPECT_EQ(centre(lamp), QColor(255, 0, 0));

    clock.advanceMillis(300);
    display->Blink();
    EXPECT_EQ(centre(display), kQtGreen);
    display->SetValue(1.0f);
    EXPECT_EQ(display->text(), " 1.000 ");
    EXPECT_EQ(display->palette().color(QPalette::WindowText), kQtGreen);

    // Wide enough for every text at the full height.
    display->resize(120, 16);
    display->CreateFittedFont();
    EXPECT_EQ(display->font().pixelSize(), 16);
    EXPECT_EQ(display->font().weight(), QFont::Normal);
}

// The rectangle around the green pixels of a widget; empty when there are none.
QRect greenInk(QWidget* w)
{
    const QImage image = w->grab().toImage();
    QRect ink;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).green() > 128)
                ink |= QRect(x, y, 1, 1);
    return ink;
}

TEST(ControlLook, AFittedDisplayShowsItsWidestTextsWholeWithTheSign)
{
    ManualClock clock;
    QWidget window;
    auto* display = new CLibNumberStatic(clock, &window);
    display->setAlignment(Qt::AlignRight | Qt::AlignTop);
    // As large as the Actual Temp display: far wider than high.
    display->setGeometry(0, 0, 111, 39);
    window.show();
    display->CreateFittedFont();
    ASSERT_TRUE(display->alignment() & Qt::AlignRight);

    std::map<float, QRect> inks;
    for (float v : {-999.999f, numberformat::kNoReading, -12.345f, 12.345f, 123.456f}) {
        display->SetValue(v);
        SCOPED_TRACE(display->text().toStdString());
        EXPECT_LE(QFontMetrics(display->font()).horizontalAdvance(display->text()), display->contentsRect().width());
        const QRect ink = greenInk(display);
        inks[v] = ink;
        // Clear of every edge: nothing cut off.
        EXPECT_GT(ink.left(), 0);
        EXPECT_GT(ink.top(), 0);
        EXPECT_LT(ink.right(), display->width() - 1);
        EXPECT_LT(ink.bottom(), display->height() - 1);
        // And not shrunk to a speck: the digits fill a good part of the height.
        EXPECT_GE(ink.height(), display->height() / 3);
    }
    // Right-aligned: the minus sign stands left of the same digits.
    EXPECT_EQ(inks[-12.345f].right(), inks[12.345f].right());
    EXPECT_LT(inks[-12.345f].left(), inks[12.345f].left() - 2);

    // A narrower rectangle or a row with other decimals fits the font anew.
    const int before = display->font().pixelSize();
    display->resize(80, 39);
    EXPECT_LT(display->font().pixelSize(), before);
    display->SetParameterId(1);
    display->SetValue(-999.99f);
    EXPECT_EQ(display->text(), " -999.99 ");
    EXPECT_LE(QFontMetrics(display->font()).horizontalAdvance(" -1000.00 "), display->contentsRect().width());
}

TEST(ControlLook, TheComboBoxAndItsListAreGreenOnBlack)
{
    CLibComboBox combo;
    combo.addItems({"Thermistor T mode", "RTD T mode"});
    for (const QPalette& p : {combo.palette(), combo.view()->palette()}) {
        EXPECT_EQ(p.color(QPalette::Text), kQtGreen);
        EXPECT_EQ(p.color(QPalette::Base), kQtBlack);
    }
    EXPECT_EQ(combo.palette().color(QPalette::ButtonText), kQtGreen);
}

// ---- Attaching to template items ---------------------------------------------------

TEST(EntryCaption, AnEntryIsNamedByItsLabelOnTheForm)
{
    const struct {
        int templateId;
        int entryId;
        const char* caption;
    } cases[] = {
        {res::kLimitsPanel, 1134, "NEG LIM I :"}, // left, with other captions further left
        {res::kLimitsPanel, 1125, "TE LIM HIGH:"},
        {res::kPidPanel, 1123, "P:"},
        {res::kMeasurePanel, 1005, "Set Temp"},  // above it
        {res::kSensorPanel, 1108, ""},           // second row: no label of its own
    };
    for (const auto& c : cases) {
        std::unique_ptr<QWidget> panel(createDialogPanel(*dialogTemplate(c.templateId), nullptr));
        auto* entry = new CLibDatamineEdit(panel.get());
        ASSERT_TRUE(entry->attach(panel.get(), c.entryId)) << c.entryId;
        EXPECT_EQ(controls::captionOf(entry).toStdString(), c.caption) << c.entryId;
    }
}

TEST(EntryCaption, AValueLimitedByItsRowIsToldInTheMainWindowsStatusBar)
{
    QMainWindow main;
    QStatusBar* bar = main.statusBar();
    QWidget* panel = createDialogPanel(*dialogTemplate(res::kLimitsPanel), &main);
    main.setCentralWidget(panel);
    // Made as the panels make them: no prompts of their own.
    auto* entry = new CLibDatamineEdit(panel);
    ASSERT_TRUE(entry->attach(panel, 1134));
    entry->SetParameterId(3);
    main.show();
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    entry->setFocus();
    QTest::keyClicks(entry, "3");
    QTest::keyClick(entry, Qt::Key_Tab);
    EXPECT_TRUE(entry->committed());
    EXPECT_EQ(entry->text(), "3");
    // The instrument keeps to its range.
    entry->SetValue(0.0f);
    EXPECT_EQ(bar->currentMessage(), "NEG LIM I limited to 0.00 (range -5.00 to 0.00)");
}

TEST(ControlAttach, ControlsTakeThePlaceOfTheBuildersPlaceholders)
{
    QWidget dialog;
    const auto placeholder = [&dialog](QWidget* w, int id, QRect r) {
        w->setParent(&dialog);
        w->setProperty(controls::kControlIdProperty, id);
        w->setObjectName(QString::number(id));
        w->setGeometry(r);
        return QPointer<QWidget>(w);
    };
    auto* edit = new QLineEdit;
    auto oldEdit = placeholder(edit, 1005, {10, 10, 60, 20});
    auto oldSpin = placeholder(new QWidget, 1103, {70, 10, 12, 20});
    auto* combo = new QComboBox;
    combo->addItems({"COM1", "COM2"});
    combo->setCurrentIndex(1);
    auto oldCombo = placeholder(combo, 1041, {10, 40, 60, 20});
    auto* check = new QCheckBox("Auto");
    check->setChecked(true);
    auto oldCheck = placeholder(check, 1050, {10, 70, 60, 20});
    auto* label = new QLabel;
    label->setAlignment(Qt::AlignRight);
    auto oldLabel = placeholder(label, 1004, {90, 10, 60, 20});
    auto oldLamp = placeholder(new QLabel, 1102, {90, 40, 20, 10});
    auto oldButton = placeholder(new QPushButton("OK"), 1, {90, 70, 60, 20});
    combo->setEnabled(false);

    auto* entry = new CLibDatamineEdit;
    auto* spin = new CLibSpinButtonCtrl;
    auto* selector = new CLibComboBox;
    auto* auto_ = new CLibTabButton;
    auto* display = new CLibNumberStatic;
    auto* lamp = new CLibLampStatic;
    auto* button = new CLibTabButton;
    ASSERT_TRUE(entry->attach(&dialog, 1005));
    ASSERT_TRUE(spin->attach(&dialog, 1103));
    ASSERT_TRUE(selector->attach(&dialog, 1041));
    ASSERT_TRUE(auto_->attach(&dialog, 1050));
    ASSERT_TRUE(display->attach(&dialog, 1004));
    ASSERT_TRUE(lamp->attach(&dialog, 1102));
    ASSERT_TRUE(button->attach(&dialog, 1));
    EXPECT_FALSE(entry->attach(&dialog, 4711));

    for (const auto& old : {oldEdit, oldSpin, oldCombo, oldCheck, oldLabel, oldLamp, oldButton})
        EXPECT_TRUE(old.isNull());
    EXPECT_EQ(controls::findChildControl(&dialog, 1005), entry);
    EXPECT_EQ(entry->parentWidget(), &dialog);
    EXPECT_EQ(entry->geometry(), QRect(10, 10, 60, 20));
    EXPECT_EQ(entry->objectName(), "1005");
    EXPECT_EQ(spin->geometry(), QRect(70, 10, 12, 20));
    EXPECT_EQ(selector->count(), 2);
    EXPECT_EQ(selector->currentText(), "COM2");
    EXPECT_FALSE(selector->isEnabled());
    EXPECT_EQ(auto_->kind(), CLibTabButton::Kind::CheckBox);
    EXPECT_EQ(auto_->text(), "Auto");
    EXPECT_TRUE(auto_->isChecked());
    EXPECT_EQ(button->kind(), CLibTabButton::Kind::PushButton);
    EXPECT_EQ(display->alignment(), Qt::AlignRight);
    EXPECT_EQ(lamp->geometry(), QRect(90, 40, 20, 10));

    // The tab order is the template's: entry, combo box, check box, button.
    selector->setEnabled(true);
    dialog.show();
    QWidget* w = entry;
    QList<QWidget*> order;
    do {
        if (w->focusPolicy() & Qt::TabFocus)
            order << w;
        w = w->nextInFocusChain();
    } while (w != entry);
    EXPECT_EQ(order, (QList<QWidget*>{entry, selector, auto_, button}));
}

} // namespace
