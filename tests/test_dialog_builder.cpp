#include "platform/qt/DialogBuilder.h"
#include "platform/qt/MenuBuilder.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "tests/support/QtTestApp.h"

#include <memory>
#include <vector>

namespace {

std::unique_ptr<QWidget> build(int id)
{
    return std::unique_ptr<QWidget>(createDialog(id, nullptr));
}

// The next widget in the focus chain that Tab stops at.
QWidget* nextTabStop(QWidget* w)
{
    QWidget* start = w;
    do {
        w = w->nextInFocusChain();
    } while (w != start && !(w->focusPolicy() & Qt::TabFocus));
    return w;
}

// ---- Dialog units ---------------------------------------------------------------

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero)
{
    EXPECT_EQ(mulDiv(5, 3, 2), 8);   // 7.5
    EXPECT_EQ(mulDiv(-5, 3, 2), -8); // -7.5
    EXPECT_EQ(mulDiv(3, 13, 8), 5);  // 4.875
    EXPECT_EQ(mulDiv(10, 13, 8), 16); // 16.25
    EXPECT_EQ(mulDiv(8, 96, 72), 11); // 8 points at 96 dpi
    EXPECT_EQ(mulDiv(1, 1, 0), -1);
    EXPECT_EQ(mulDiv(1 << 30, 8, 1), -1);
}

TEST(DialogUnits, KnownFontMetricConvertsLikeWindows)
{
    // 52 letters of 312 pixels average 6; 285 (5.48) rounds to 5, 286 (5.5) to 6.
    EXPECT_EQ(dialogBaseUnits(312, 13).x, 6);
    EXPECT_EQ(dialogBaseUnits(312, 13).y, 13);
    EXPECT_EQ(dialogBaseUnits(285, 13).x, 5);
    EXPECT_EQ(dialogBaseUnits(286, 13).x, 6);
    const DialogBaseUnits units{6, 13};
    EXPECT_EQ(dialogRectToPixels(units, 10, 10, 16, 10), QRect(15, 16, 24, 16));
    EXPECT_EQ(dialogSizeToPixels(units, 268, 88), QSize(402, 143));
    // Each coordinate on its own: 3 + 3 units may map to more pixels than 6 units.
    EXPECT_EQ(dialogRectToPixels(units, 3, 3, 3, 3), QRect(5, 5, 5, 5));
}

// ---- Built panels and dialogs ------------------------------------------------------

TEST(DialogBuilder, EveryControlSitsAtItsTemplateRectangleInTheDialogFont)
{
    for (int id : dialogTemplateIds()) {
        const DialogTemplate& t = *dialogTemplate(id);
        auto dialog = build(id);
        ASSERT_NE(dialog, nullptr) << id;
        EXPECT_EQ(dialog->font().pixelSize(), dialogFont(t).pixelSize());
        const DialogBaseUnits units = dialogBaseUnits(dialog->font());
        EXPECT_EQ(dialog->size(), dialogSizeToPixels(units, t.cx, t.cy)) << id;

        const auto children = dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        ASSERT_EQ(children.size(), static_cast<qsizetype>(t.controls.size())) << id;
        for (qsizetype i = 0; i < children.size(); ++i) {
            const DialogControl& c = t.controls[static_cast<std::size_t>(i)];
            SCOPED_TRACE("template " + std::to_string(id) + " control " + std::to_string(c.id));
            EXPECT_EQ(children[i]->property(kControlIdProperty).toInt(), c.id);
            const QRect want = dialogRectToPixels(units, c.x, c.y, c.cx, c.cy);
            EXPECT_EQ(children[i]->pos(), want.topLeft());
            if (c.kind == ControlKind::ComboBox) {
                EXPECT_LE(children[i]->height(), want.height()); // the closed field
            } else if (c.kind != ControlKind::Icon) {
                EXPECT_EQ(children[i]->size(), want.size());
            }
        }
    }
}

TEST(DialogBuilder, ControlsAreOfTheirNaturalQtKindAndFoundById)
{
    auto measure = build(132);
    ASSERT_NE(control<QLineEdit>(measure.get(), 1005), nullptr);
    EXPECT_EQ(control<QPushButton>(measure.get(), 1007)->text(), "ON/OFF");
    EXPECT_TRUE(control<QLabel>(measure.get(), 1004)->alignment() & Qt::AlignRight);
    QWidget* spin = findControl(measure.get(), 1103);
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->metaObject(), &QWidget::staticMetaObject); // a bare placeholder
    EXPECT_EQ(control<QLineEdit>(measure.get(), 1007), nullptr); // a button, not an edit
    EXPECT_EQ(findControl(measure.get(), kNoControlId), nullptr);
    EXPECT_EQ(findControl(measure.get(), 4242), nullptr);

    EXPECT_FALSE(control<QComboBox>(build(135).get(), 1030)->isEditable());
    auto access = build(145);
    EXPECT_EQ(control<QLineEdit>(access.get(), 1044)->echoMode(), QLineEdit::Password);
    // A caption in a one-line rectangle stays on its line rather than losing its tail.
    EXPECT_EQ(access->findChildren<QLabel*>().last()->text(), "Master-Last Number ->");
    EXPECT_FALSE(access->findChildren<QLabel*>().last()->wordWrap());
    auto calibrate = build(141);
    EXPECT_FALSE(findControl(calibrate.get(), 1148)->isEnabled());
    EXPECT_TRUE(control<QPushButton>(calibrate.get(), 1143)->isDefault());
    EXPECT_EQ(control<QCheckBox>(calibrate.get(), 1060)->layoutDirection(), Qt::RightToLeft);
}

TEST(DialogBuilder, TabOrderFollowsTheTemplate)
{
    auto access = build(145);
    access->show();
    std::vector<int> order;
    QWidget* w = findControl(access.get(), 1043);
    for (int i = 0; i < 6; ++i, w = nextTabStop(w))
        order.push_back(w->property(kControlIdProperty).toInt());
    EXPECT_EQ(order, (std::vector<int>{1043, 1044, 1046, 1, 2, 1047}));
}

TEST(DialogBuilder, ManualMarksChangeOnlyWhenTheProgramSetsThem)
{
    auto diagnostics = build(139);
    diagnostics->show();
    auto* act = control<QRadioButton>(diagnostics.get(), 1073);
    auto* set = control<QRadioButton>(diagnostics.get(), 1074);
    act->setChecked(true);
    set->setChecked(true);
    EXPECT_TRUE(act->isChecked()); // independent lamps, not an exclusive group
    QTest::mouseClick(act, Qt::LeftButton);
    EXPECT_TRUE(act->isChecked());

    auto* lamp = control<QCheckBox>(diagnostics.get(), 1051);
    QSignalSpy clicked(lamp, &QCheckBox::clicked);
    QTest::mouseClick(lamp, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_FALSE(lamp->isChecked());
}

TEST(DialogBuilder, PanelsPaintWhiteOnTealAndModalTemplatesAreFixedDialogs)
{
    auto status = build(131);
    EXPECT_EQ(qobject_cast<QDialog*>(status.get()), nullptr);
    EXPECT_TRUE(status->autoFillBackground());
    EXPECT_EQ(status->palette().color(QPalette::Window), QColor(0, 62, 62));
    EXPECT_EQ(status->findChildren<QLabel*>().value(1)->palette().color(QPalette::WindowText), QColor(255, 255, 255));

    auto about = build(100);
    auto* dialog = qobject_cast<QDialog*>(about.get());
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "About Tessol");
    EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
    connectStandardButtons(dialog);
    dialog->show();
    control<QPushButton>(dialog, 1)->click();
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(createDialog(999, nullptr), nullptr);
}

TEST(DialogBuilder, ReplacementTakesThePlaceholdersPlaceAndTabStop)
{
    auto measure = build(132);
    QPointer<QWidget> placeholder = findControl(measure.get(), 1103);
    const QRect where = placeholder->geometry();
    auto* spin = new QLineEdit; // any focusable widget stands in for the spin control
    EXPECT_EQ(replaceControl(measure.get(), 1103, spin), spin);
    EXPECT_TRUE(placeholder.isNull());
    EXPECT_EQ(findControl(measure.get(), 1103), spin);
    EXPECT_EQ(spin->geometry(), where);
    measure->show();
    EXPECT_EQ(nextTabStop(findControl(measure.get(), 1005)), spin);
    EXPECT_EQ(nextTabStop(spin), findControl(measure.get(), 1007));

    QLineEdit stray;
    EXPECT_EQ(replaceControl(measure.get(), 4242, &stray), nullptr);
    EXPECT_EQ(stray.parent(), nullptr);
}

// ---- Text metrics ----------------------------------------------------------------

TEST(DialogFont, FittedSizesKeepEveryTextWithinTheWidth)
{
    QFont font(dialogFontFace("MS Sans Serif"));
    const QStringList texts = {" -999.999 ", " ???.??? "};
    const auto widest = [&](int size) {
        font.setPixelSize(size);
        const QFontMetrics m(font);
        return std::max(m.horizontalAdvance(texts[0]), m.horizontalAdvance(texts[1]));
    };
    for (int width : {20, 60, 111, 400}) {
        const int size = fittedPixelSize(font, texts, width, 39);
        SCOPED_TRACE(width);
        EXPECT_LE(size, 39);
        if (size > 1) {
            EXPECT_LE(widest(size), width);
        }
        if (size < 39) {
            EXPECT_GT(widest(size + 1), width); // the largest that fits
        }
    }
    EXPECT_EQ(fittedPixelSize(font, texts, 1000, 39), 39);
    EXPECT_EQ(fittedPixelSize(font, texts, 0, 39), 1);
}

TEST(DialogBuilder, EveryCaptionFitsItsRectangle)
{
    for (int id : dialogTemplateIds()) {
        auto dialog = build(id);
        for (QLabel* label : dialog->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (label->text().isEmpty())
                continue;
            SCOPED_TRACE("template " + std::to_string(id) + " \"" + label->text().toStdString() + "\"");
            if (label->wordWrap())
                EXPECT_LE(label->heightForWidth(label->width()), label->height());
            else
                EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->contentsRect().width());
        }
    }
}

TEST(DialogBuilder, GroupBoxFramesRunThroughTheirTitleAboveTheFirstRow)
{
    for (int id : {131, 132, 133, 134, 135, 136}) {
        auto panel = build(id);
        panel->show();
        const QImage image = panel->grab().toImage();
        const QColor background = panel->palette().color(QPalette::Window);
        const auto children = panel->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (QGroupBox* box : panel->findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly)) {
            SCOPED_TRACE("template " + std::to_string(id) + " " + box->title().toStdString());
            int firstRow = box->geometry().bottom();
            for (QWidget* w : children) {
                if (w != box && box->geometry().contains(w->geometry().center()))
                    firstRow = std::min(firstRow, w->y());
            }
            // A column inside the frame's right edge, clear of the controls.
            const int x = box->geometry().right() - 3;
            int frameTop = -1;
            for (int y = box->y(); y < firstRow && frameTop < 0; ++y) {
                if (image.pixelColor(x, y) != background)
                    frameTop = y;
            }
            ASSERT_GE(frameTop, 0) << "no frame above the first row at " << firstRow;
            EXPECT_LT(frameTop - box->y(), QFontMetrics(box->font()).height()) << "the frame runs below the title";
            EXPECT_LT(frameTop + 1, firstRow);
        }
    }
}

// ---- Menu bar and accelerators --------------------------------------------------

QMenu* submenu(const QList<QAction*>& actions, const QString& title)
{
    for (QAction* a : actions)
        if (a->menu() && a->text() == title)
            return a->menu();
    return nullptr;
}

TEST(MenuBuilder, BarCarriesTheResourceTextsIdsAndStates)
{
    std::unique_ptr<QMenuBar> bar(buildMenuBar(*menuResource(res::kMainFrame)));
    ASSERT_EQ(bar->actions().size(), 5);
    EXPECT_EQ(bar->actions()[0]->text(), "&File");

    QMenu* newMenu = submenu(submenu(bar->actions(), "&File")->actions(), "&New");
    ASSERT_NE(newMenu, nullptr);
    ASSERT_EQ(newMenu->actions().size(), 3);
    EXPECT_EQ(newMenu->actions()[0]->text(), "&Temperature Controller");
    EXPECT_EQ(newMenu->actions()[0]->data().toInt(), cmd::kNewTemperatureController);
    EXPECT_EQ(newMenu->actions()[0]->statusTip(), "Opens the next new Temperature Controller");
    EXPECT_FALSE(newMenu->actions()[1]->isEnabled()); // "Current Source"
    EXPECT_TRUE(newMenu->actions()[2]->isSeparator());

    QAction* save = findCommandAction(bar.get(), cmd::kFileSave);
    EXPECT_EQ(save->text(), "&Save\tCtrl+S");
    EXPECT_FALSE(save->isEnabled());
    EXPECT_TRUE(save->shortcut().isEmpty()); // the accelerator table binds the key, not the action

    const QList<QAction*> display = submenu(bar->actions(), "&Display")->actions();
    ASSERT_EQ(display.size(), 11);
    EXPECT_EQ(display[0]->text(), "&Status\tS");
    EXPECT_EQ(commandIdOf(display[0]), cmd::kDisplayStatus);
    EXPECT_TRUE(display[0]->isCheckable() && display[0]->isChecked());
    EXPECT_EQ(display[0]->statusTip(), "Toggles the Status window for this instrument On/Off");
    EXPECT_EQ(display[0]->toolTip(), "Toggle Status View");
    EXPECT_TRUE(display[6]->isSeparator());
    EXPECT_TRUE(display[8]->isSeparator());
    EXPECT_EQ(commandIdOf(display[7]), 0);
    QMenu* password = submenu(display, "P&assword Protected");
    ASSERT_NE(password, nullptr);
    ASSERT_EQ(password->actions().size(), 2);
    EXPECT_EQ(password->actions()[0]->text(), "&Calibration");
    EXPECT_EQ(findCommandAction(bar.get(), cmd::kCalibration), password->actions()[0]);
    EXPECT_EQ(commandIdOf(password->actions()[1]), cmd::kDiagnostics);
    EXPECT_FALSE(findCommandAction(bar.get(), cmd::kViewStatusBar)->isCheckable());
    EXPECT_EQ(findCommandAction(bar.get(), cmd::kHelp), nullptr);
}

TEST(MenuBuilder, AcceleratorPressesReportTheirCommand)
{
    const std::vector<Accelerator>& table = *acceleratorTable(res::kMainFrame);
    QStringList keys;
    for (const Accelerator& a : table)
        keys << keySequence(a).toString(QKeySequence::PortableText) + "=" + QString::number(a.commandId);
    EXPECT_EQ(keys, QStringList({"Ctrl+P=57607", "Ctrl+S=57603", "F1=57670", "Shift+F1=57669", "F6=57680",
                                 "Shift+F6=57681"}));

    QWidget window;
    std::vector<int> commands;
    installAccelerators(&window, table, [&commands](int id) { commands.push_back(id); });
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(&window, Qt::Key_P, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_F6, Qt::ShiftModifier);
    QTest::keyClick(&window, Qt::Key_S); // a bare letter is no accelerator
    EXPECT_EQ(commands, (std::vector<int>{cmd::kFilePrint, cmd::kPrevPane}));
}

} // namespace
