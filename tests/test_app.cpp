// The window program under the offscreen platform, against the simulator.

#include "app/CKvtDocTemplate.h"
#include "app/CMainFrame.h"
#include "app/CTessolApp.h"
#include "config/CTqk5820ConfigDoc.h"
#include "config/CTqk5820ConfigMeasureDialog.h"
#include "config/CTqk5820ConfigPanel.h"
#include "config/CTqk5820ConfigView.h"
#include "controls/CLibNumberStatic.h"
#include "link/InstrumentLink.h"
#include "link/ParameterNumbers.h"
#include "platform/MemoryProfile.h"
#include "platform/MessageReport.h"
#include "platform/PosixSerialPorts.h"
#include "platform/SystemClock.h"
#include "platform/qt/CChildFrame.h"
#include "resources/Menus.h"
#include "tests/support/AppBench.h"
#include "tests/support/CsvText.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMdiSubWindow>
#include <QPixmap>
#include <QMdiArea>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QShortcut>
#include <QStatusBar>
#include <QTest>
#include <algorithm>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

namespace {

class AppTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2, 3, 4, 5}; }
    QAction* action(int id) { return app->GetMainFrame()->FindCommandAction(id); }
    // A main window of the given size with `count` controller windows.
    std::vector<CChildFrame*> openFrames(int count, int width, int height)
    {
        app->GetMainFrame()->resize(width, height);
        std::vector<CChildFrame*> frames;
        for (int i = 0; i < count; ++i)
            frames.push_back(viewOf(openController())->GetFrame());
        return frames;
    }
    // New controller windows show no panel.
    void hidePanels()
    {
        for (int i = 0; i < CTqk5820ConfigView::kPanelCount; ++i)
            profile.writeInt("Default", CTqk5820ConfigDoc::kDisplayKeys[i], 0);
    }
};

TEST_F(AppTest, StartsWithNoDocumentAndNoPortOpen)
{
    runFor(100);
    EXPECT_TRUE(app->ConfigTemplate().GetDocuments().empty());
    for (int p = 0; p < InstrumentLink::kPortCount; ++p)
        EXPECT_EQ(app->GetLink().openCount(p), 0);
    EXPECT_EQ(sim->sim().commandsSeen(), 0u);
    EXPECT_TRUE(app->IsPolling());
    EXPECT_EQ(app->GetMainFrame()->windowTitle(), "KORVATH ELECTRONICS ORVANE");
}

TEST_F(AppTest, TheMainFrameCarriesTheMenuAndAcceleratorsOfTheResources)
{
    QStringList popups;
    for (QAction* a : app->GetMainFrame()->menuBar()->actions())
        popups << a->text();
    EXPECT_EQ(popups, QStringList({"&File", "&Run", "&Display", "&Window", "&Help"}));
    EXPECT_EQ(action(cmd::kDisplayPid)->text(), "&P I D\tP");
    EXPECT_FALSE(action(cmd::kNewCurrentSource)->isEnabled());
    EXPECT_FALSE(action(cmd::kFileSave)->isEnabled());

    // Ctrl+S reaches nothing while Save is grey; Ctrl+P neither (Print is never enabled).
    int shortcuts = 0;
    for (QShortcut* s : app->GetMainFrame()->findChildren<QShortcut*>())
        shortcuts += s->key() == QKeySequence("Ctrl+S") || s->key() == QKeySequence("Ctrl+P") ? 1 : 0;
    EXPECT_EQ(shortcuts, 2);

    // A menu command reaches the application: New opens a controller window.
    action(cmd::kNewTemperatureController)->trigger();
    EXPECT_EQ(app->ConfigTemplate().GetDocuments().size(), 1u);
    action(cmd::kHaltAll)->trigger();
    EXPECT_FALSE(app->IsPolling());
    action(cmd::kRestartAll)->trigger();
    EXPECT_TRUE(app->IsPolling());
}

TEST_F(AppTest, ExitClosesEveryControllerAndItsPort)
{
    CTqk5820ConfigDoc* doc = openController();
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }));
    openController();
    EXPECT_EQ(app->GetLink().openCount(1), 2);
    action(cmd::kAppExit)->trigger();
    runFor(50);
    EXPECT_TRUE(app->ConfigTemplate().GetDocuments().empty());
    EXPECT_EQ(app->GetLink().openCount(1), 0);
}

TEST_F(AppTest, DisplayEntriesFollowTheActiveController)
{
    const int display[] = {cmd::kDisplayStatus, cmd::kDisplayMeasurement, cmd::kDisplayLimits,
                           cmd::kDisplayPid,    cmd::kDisplaySensor,      cmd::kDisplayInfo};
    app->GetMainFrame()->UpdateCommandUi();
    for (int id : display) {
        EXPECT_FALSE(action(id)->isEnabled()) << id;
        EXPECT_FALSE(action(id)->isChecked()) << id;
    }
    EXPECT_FALSE(action(cmd::kCalibration)->isEnabled());
    EXPECT_FALSE(action(cmd::kDiagnostics)->isEnabled());

    profile.writeInt("Default", "iDisplayLimits", 0);
    CTqk5820ConfigDoc* doc = openController();
    ASSERT_NE(doc, nullptr);
    app->GetMainFrame()->GetClientArea()->setActiveSubWindow(app->GetMainFrame()->GetClientArea()->subWindowList().front());
    app->GetMainFrame()->UpdateCommandUi();
    for (int id : display) {
        EXPECT_TRUE(action(id)->isEnabled()) << id;
        EXPECT_EQ(action(id)->isChecked(), id != cmd::kDisplayLimits) << id;
    }
    EXPECT_FALSE(doc->IsOnline());
    EXPECT_FALSE(action(cmd::kCalibration)->isEnabled());
    EXPECT_FALSE(action(cmd::kDiagnostics)->isEnabled());

    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }));
    app->GetMainFrame()->UpdateCommandUi();
    EXPECT_TRUE(action(cmd::kCalibration)->isEnabled());
    EXPECT_TRUE(action(cmd::kDiagnostics)->isEnabled());
    EXPECT_EQ(app->GetMainFrame()->windowTitle(), "KORVATH ELECTRONICS ORVANE - TQK-5820-01.cfg");
}

TEST_F(AppTest, ControllerWindowsTileFourAcrossAndReuseFreedSlots)
{
    app->GetMainFrame()->resize(4000, 3000);
    std::vector<CTqk5820ConfigDoc*> docs;
    for (int i = 0; i < 5; ++i)
        docs.push_back(openController());
    std::vector<QRect> frames;
    for (CTqk5820ConfigDoc* doc : docs) {
        CTqk5820ConfigView* view = viewOf(doc);
        EXPECT_EQ(view->GetWindowSlot(), static_cast<int>(frames.size()));
        frames.push_back(view->GetFrame()->geometry());
    }
    // Slots 0 to 3 side by side, the fifth at column 0 of row two.
    EXPECT_EQ(frames[0].topLeft(), QPoint(0, 0));
    EXPECT_EQ(frames[1].x(), frames[0].width());
    EXPECT_EQ(frames[3].x(), 3 * frames[0].width());
    EXPECT_EQ(frames[4].topLeft(), QPoint(0, frames[0].height()));

    app->ConfigTemplate().CloseDocument(docs[1]);
    CTqk5820ConfigDoc* again = openController();
    EXPECT_EQ(viewOf(again)->GetWindowSlot(), 1);
    EXPECT_EQ(viewOf(openController())->GetWindowSlot(), 5);
}

TEST_F(AppTest, TogglingAPanelAddsOrRemovesExactlyThatPanelAndStoresTheFlag)
{
    CTqk5820ConfigDoc* doc = openController();
    CTqk5820ConfigView* view = viewOf(doc);
    CTqk5820ConfigPanel* measure = view->GetPanel(1);
    CTqk5820ConfigPanel* sensor = view->GetPanel(4);
    ASSERT_NE(view->GetPanel(2), nullptr);
    const int height = view->GetTotalHeight();
    const int widest = view->GetWidestWidth();
    const int limitsHeight = view->GetPanel(2)->height();

    view->OnDisplayToggle(CTqk5820ConfigDoc::kLimits);
    EXPECT_EQ(view->GetPanel(2), nullptr);
    EXPECT_EQ(view->GetPanel(1), measure);
    EXPECT_EQ(view->GetPanel(4), sensor);
    EXPECT_EQ(view->GetTotalHeight(), height - limitsHeight);
    EXPECT_EQ(view->GetWidestWidth(), widest);
    EXPECT_EQ(profile.readInt("Default", "iDisplayLimits", -1), 0);
    EXPECT_EQ(profile.readInt("Default", "iDisplayStatus", -1), 1);
    // The panels below moved up into the gap.
    EXPECT_EQ(view->GetPanel(3)->y(), measure->y() + measure->height());

    view->OnDisplayToggle(CTqk5820ConfigDoc::kLimits);
    ASSERT_NE(view->GetPanel(2), nullptr);
    EXPECT_EQ(view->GetTotalHeight(), height);
    EXPECT_EQ(profile.readInt("Default", "iDisplayLimits", -1), 1);
    EXPECT_EQ(view->GetPanel(2)->y(), measure->y() + measure->height());
}

TEST_F(AppTest, APanelToggledOnAMaximizedOrMinimizedWindowFitsTheFrameOnlyOnceRestored)
{
    app->GetMainFrame()->resize(4000, 3000);
    CTqk5820ConfigDoc* doc = openController();
    CTqk5820ConfigView* view = viewOf(doc);
    CChildFrame* frame = view->GetFrame();
    const QRect normal = frame->geometry();
    const int limitsHeight = view->GetPanel(CTqk5820ConfigDoc::kLimits)->height();

    // Limits off while maximized, back on while minimized.
    for (const bool maximized : {true, false}) {
        SCOPED_TRACE(maximized ? "maximized" : "minimized");
        maximized ? frame->showMaximized() : frame->showMinimized();
        runFor(50);
        const QRect shown = frame->geometry();
        view->OnDisplayToggle(CTqk5820ConfigDoc::kLimits);
        runFor(50);
        EXPECT_TRUE(maximized ? frame->isMaximized() : frame->isMinimized());
        EXPECT_EQ(frame->geometry(), shown);
        EXPECT_TRUE(view->IsFitPending());
        frame->showNormal();
        ASSERT_TRUE(runUntil([&] { return !view->IsFitPending(); }, 2000));
        EXPECT_EQ(frame->geometry(), QRect(normal.topLeft(), normal.size() - QSize(0, maximized ? limitsHeight : 0)));
    }
}

TEST_F(AppTest, TheWindowMenuListsTheOpenWindowsAndReachesEachOfThem)
{
    CMainFrame* main = app->GetMainFrame();
    main->resize(700, 500);
    std::vector<CTqk5820ConfigDoc*> docs;
    for (int i = 0; i < 3; ++i)
        docs.push_back(openController());
    const auto entries = [main] {
        main->UpdateWindowList();
        QStringList list;
        for (QAction* a : main->GetWindowListActions()) {
            if (!a->isSeparator())
                list << a->text() + (a->isChecked() ? " *" : "");
        }
        return list;
    };
    CChildFrame* first = viewOf(docs[0])->GetFrame();
    main->GetClientArea()->setActiveSubWindow(first);
    EXPECT_EQ(entries(), QStringList({"&1 TQK-5820-01.cfg *", "&2 TQK-5820-02.cfg", "&3 TQK-5820-03.cfg"}));
    ASSERT_EQ(main->GetWindowListActions().size(), 4); // with the separator
    // The list is part of the Window menu.
    QAction* arrange = action(cmd::kWindowArrange);
    for (QAction* a : main->GetWindowListActions())
        EXPECT_TRUE(arrange->associatedObjects().front() == a->associatedObjects().front());

    // Each opened inside the client area, small as it is.
    CChildFrame* third = viewOf(docs[2])->GetFrame();
    const QRect area = main->GetClientArea()->viewport()->rect();
    for (CTqk5820ConfigDoc* doc : docs)
        EXPECT_TRUE(area.contains(viewOf(doc)->GetFrame()->geometry())) << viewOf(doc)->GetFrame()->geometry().x();
    main->GetWindowListActions().back()->trigger();
    EXPECT_EQ(main->GetActiveChildFrame(), third);
    EXPECT_TRUE(area.contains(third->geometry())) << third->geometry().x() << " " << area.width();
    EXPECT_EQ(entries().back(), "&3 TQK-5820-03.cfg *");

    // A minimized window chosen from the list comes back.
    first->showMinimized();
    runFor(50);
    main->UpdateWindowList();
    main->GetWindowListActions()[1]->trigger();
    EXPECT_FALSE(first->isMinimized());
    EXPECT_EQ(main->GetActiveChildFrame(), first);

    app->ConfigTemplate().CloseDocument(docs[1]);
    EXPECT_EQ(entries(), QStringList({"&1 TQK-5820-01.cfg *", "&2 TQK-5820-03.cfg"}));
}

TEST_F(AppTest, PastNineWindowsTheMenuListsNineAndMoreWindowsReachesTheRest)
{
    CMainFrame* main = app->GetMainFrame();
    std::vector<CTqk5820ConfigDoc*> docs;
    for (int i = 0; i < 11; ++i)
        docs.push_back(openController());
    main->UpdateWindowList();
    QStringList texts;
    for (QAction* a : main->GetWindowListActions()) {
        if (!a->isSeparator())
            texts << a->text();
    }
    ASSERT_EQ(texts.size(), 10);
    EXPECT_EQ(texts[8], "&9 TQK-5820-09.cfg");
    EXPECT_EQ(texts[9], "&More Windows...");

    // The list in the box holds all eleven, the active one chosen; the
    // tenth picked comes to the front.
    int rows = 0;
    QString current;
    QTimer::singleShot(0, [&] {
        QDialog* box = main->GetWindowChooser();
        ASSERT_NE(box, nullptr);
        auto* list = box->findChild<QListWidget*>();
        ASSERT_NE(list, nullptr);
        rows = list->count();
        current = list->currentItem() ? list->currentItem()->text() : QString();
        list->setCurrentRow(9);
        box->accept();
    });
    main->GetWindowListActions().back()->trigger();
    EXPECT_EQ(rows, 11);
    EXPECT_EQ(current, "11 TQK-5820-11.cfg");
    EXPECT_EQ(main->GetActiveChildFrame(), viewOf(docs[9])->GetFrame());
}

TEST_F(AppTest, ArrangeIconsLinesMinimizedWindowsUpAlongTheBottom)
{
    CMainFrame* main = app->GetMainFrame();
    const std::vector<CChildFrame*> frames = openFrames(3, 700, 500);
    frames[0]->showMinimized();
    frames[2]->showMinimized();
    runFor(50);
    // Moved out of line by the user.
    frames[0]->move(150, 40);
    frames[2]->move(300, 60);
    const QRect middle = frames[1]->geometry();
    action(cmd::kWindowArrange)->trigger();
    const QRect area = main->GetClientArea()->viewport()->rect();
    EXPECT_EQ(frames[0]->geometry().bottomLeft(), area.bottomLeft());
    EXPECT_EQ(frames[2]->geometry().bottom(), area.bottom());
    EXPECT_EQ(frames[2]->x(), frames[0]->geometry().right() + 1);
    EXPECT_EQ(frames[1]->geometry(), middle);
    EXPECT_TRUE(frames[0]->isMinimized() && frames[2]->isMinimized());
}

TEST_F(AppTest, CascadeKeepsEachWindowsSizeAndOnlyOffsetsThemInListOrder)
{
    CMainFrame* main = app->GetMainFrame();
    const std::vector<CChildFrame*> frames = openFrames(3, 900, 800);
    std::vector<QSize> sizes;
    for (CChildFrame* frame : frames)
        sizes.push_back(frame->size());
    ASSERT_GT(sizes[0].width(), 150);
    // A stretched window takes its fitted size again.
    frames[2]->resize(sizes[2] + QSize(200, 50));
    frames[0]->showMaximized();
    runFor(50);
    ASSERT_EQ(main->GetActiveChildFrame(), frames[0]);

    action(cmd::kWindowCascade)->trigger();
    runFor(50);
    // In list order, the active window last: in front.
    const CChildFrame* order[] = {frames[1], frames[2], frames[0]};
    const QPoint origin = main->GetClientArea()->viewport()->rect().topLeft();
    const int step = order[1]->y() - order[0]->y();
    EXPECT_GE(step, 10);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_FALSE(frames[i]->isMaximized()) << i;
        EXPECT_EQ(frames[i]->size(), sizes[i]) << i;
        EXPECT_EQ(order[i]->pos(), origin + QPoint(step, step) * static_cast<int>(i)) << i;
    }
    EXPECT_EQ(main->GetActiveChildFrame(), frames[0]);
    const auto stack = main->GetClientArea()->subWindowList(QMdiArea::StackingOrder);
    EXPECT_EQ(stack.back(), frames[0]);
    // The title is still whole, not cut down to "T...".
    EXPECT_EQ(frames[2]->windowTitle(), "TQK-5820-03.cfg");
}

TEST_F(AppTest, TilePlacesTheWindowsAtTheirOwnSizesInTheWindowListsOrder)
{
    CMainFrame* main = app->GetMainFrame();
    const std::vector<CChildFrame*> frames = openFrames(5, 900, 700);
    // Activated from last to first: the activation order is the reverse of
    // the list's.
    for (auto it = frames.rbegin(); it != frames.rend(); ++it)
        main->GetClientArea()->setActiveSubWindow(*it);
    frames[3]->showMinimized();
    runFor(50);

    std::vector<QSize> sizes;
    for (CChildFrame* frame : frames)
        sizes.push_back(frame->size());
    frames[1]->resize(sizes[1] + QSize(100, 100));   // stretched by the user

    action(cmd::kWindowTile)->trigger();
    runFor(50);
    // Four shown windows, each at its fitted size, never stretched: two
    // across (as many as fit), the first top left, in the list's order, the
    // rows overlapping so that every title bar shows, all inside the area.
    const QRect area = main->GetClientArea()->viewport()->rect();
    const auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        for (int i : {0, 1, 2, 4}) {
            EXPECT_TRUE(area.contains(frames[i]->geometry())) << i;
            if (i != 0) {
                EXPECT_EQ(frames[i]->size().width(), sizes[i].width()) << i;
            }
        }
        EXPECT_EQ(frames[0]->pos(), area.topLeft());
        EXPECT_EQ(frames[1]->y(), frames[0]->y());
        EXPECT_GE(frames[1]->x(), frames[0]->geometry().right() + 1);
        EXPECT_EQ(frames[2]->x(), frames[0]->x());
        EXPECT_GE(frames[2]->y(), frames[0]->y() + 16);
        EXPECT_EQ(frames[4]->y(), frames[2]->y());
        EXPECT_GE(frames[4]->x(), frames[2]->geometry().right() + 1);
    };
    check("tiled");
    EXPECT_EQ(frames[1]->size(), sizes[1]);
    EXPECT_TRUE(frames[3]->isMinimized());

    // The graph shown in the first window makes it taller: the windows are
    // tiled again rather than the first covering its neighbour.
    main->GetClientArea()->setActiveSubWindow(frames[0]);
    action(cmd::kDisplayGraph)->trigger();
    runFor(50);
    EXPECT_GT(frames[0]->height(), sizes[0].height());
    check("graph shown");
}

TEST_F(AppTest, TheStatusBarIsClearedWhenTheLastWindowCloses)
{
    CMainFrame* main = app->GetMainFrame();
    std::vector<CTqk5820ConfigDoc*> docs = {openController(), openController()};
    const auto message = [main] { return main->statusBar()->currentMessage(); };
    const auto paneSays = [main](const QString& text) {
        for (const QLabel* label : main->statusBar()->findChildren<QLabel*>()) {
            if (label->text() == text)
                return true;
        }
        return false;
    };
    main->statusBar()->showMessage("Measured Resistance = 10.000 kOhms");
    app->ConfigTemplate().CloseDocument(docs[0]);
    runFor(50);
    EXPECT_EQ(message(), "Measured Resistance = 10.000 kOhms") << "a window is still open";

    main->ShowStatusMessage("unit 02 stopped answering");
    ASSERT_TRUE(paneSays("unit 02 stopped answering"));
    main->statusBar()->showMessage("Measured Resistance = 10.000 kOhms");
    app->ConfigTemplate().CloseDocument(docs[1]);
    EXPECT_TRUE(runUntil([&] { return message().isEmpty(); }, 2000));
    EXPECT_FALSE(paneSays("unit 02 stopped answering"));
}

TEST_F(AppTest, AMaximizedWindowsTitleAppearsOnceInTheCaption)
{
    CTqk5820ConfigDoc* doc = openController();
    CChildFrame* frame = viewOf(doc)->GetFrame();
    app->GetMainFrame()->GetClientArea()->setActiveSubWindow(frame);
    const QString title = "TQK-5820-01.cfg";
    ASSERT_TRUE(runUntil([&] { return app->GetMainFrame()->windowTitle() == "KORVATH ELECTRONICS ORVANE - " + title; }));
    frame->showMaximized();
    runFor(100);
    const QString caption = app->GetMainFrame()->windowTitle();
    EXPECT_EQ(caption.count(title), 1) << caption.toStdString();
    EXPECT_TRUE(caption.startsWith("KORVATH ELECTRONICS ORVANE - ")) << caption.toStdString();
    // Menus opening and idle passes leave it so.
    app->GetMainFrame()->UpdateCommandUi();
    runFor(100);
    EXPECT_EQ(app->GetMainFrame()->windowTitle(), caption);
    frame->showNormal();
    EXPECT_TRUE(runUntil([&] { return app->GetMainFrame()->windowTitle() == "KORVATH ELECTRONICS ORVANE - " + title; }));
}

TEST_F(AppTest, TheProgramIconShowsItsLettersWithinItsBorder)
{
    const QImage icon = QApplication::windowIcon().pixmap(32, 32).toImage();
    ASSERT_EQ(icon.size(), QSize(32, 32));
    // The border is the outermost ring; the letters stay off the ring inside it.
    QRect ink;
    for (int y = 1; y < 31; ++y)
        for (int x = 1; x < 31; ++x)
            if (icon.pixelColor(x, y).green() > 64)
                ink |= QRect(x, y, 1, 1);
    ASSERT_FALSE(ink.isEmpty());
    EXPECT_GT(ink.left(), 1);
    EXPECT_LT(ink.right(), 30);
    EXPECT_GT(ink.width(), 16);
}

TEST_F(AppTest, AViewWithEveryFlagClearCreatesNoPanel)
{
    hidePanels();
    CTqk5820ConfigDoc* doc = openController();
    CTqk5820ConfigView* view = viewOf(doc);
    for (int i = 0; i < CTqk5820ConfigView::kPanelCount; ++i)
        EXPECT_EQ(view->GetPanel(i), nullptr);
    EXPECT_FALSE(view->HasScrollSizes());
    EXPECT_EQ(view->GetFrame()->geometry(), QRect(0, 0, 100, 180));
}

TEST_F(AppTest, HaltAllStopsAllTrafficAndRestartAllResumes)
{
    hidePanels();   // so that every command on the line is the test's own
    CTqk5820ConfigDoc* doc = openController();
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline() && !doc->AnyOutstanding(); }));
    app->OnCommand(cmd::kHaltAll);
    runFor(100);
    const auto seen = sim->sim().commandsSeen();
    // The first goes out on the idle line at once; its reply and the second
    // command wait for the idle pass.
    ASSERT_TRUE(doc->RequestRead(1));
    ASSERT_TRUE(doc->RequestRead(2));
    runFor(2500);
    EXPECT_EQ(sim->sim().commandsSeen(), seen + 1);
    EXPECT_TRUE(doc->IsOutstanding(1));
    EXPECT_TRUE(doc->IsOutstanding(2));
    EXPECT_TRUE(doc->IsOnline());

    app->OnCommand(cmd::kRestartAll);
    EXPECT_TRUE(runUntil([&] { return !doc->IsOutstanding(1) && !doc->IsOutstanding(2); }));
    EXPECT_EQ(sim->sim().commandsSeen(), seen + 2);
    EXPECT_TRUE(doc->IsOnline());
}

// While polling is halted the program says so where the user looks: the
// status bar, every window's live values (blinking as for a unit that does
// not answer) and the logs (rows without readings). Restart All undoes it.
TEST_F(AppTest, HaltAllIsShownInTheStatusBarTheWindowsAndTheLogsUntilRestartAll)
{
    const QString halted = "Polling halted: Run > Restart All";
    char dir[] = "/tmp/tessol-halt-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    app->SetLogDirectory(dir);
    const std::vector<CTqk5820ConfigDoc*> docs = {openOnline(1), openOnline(2)};
    const auto logOf = [&](int unit) { return std::string(dir) + "/TQK-5820-0" + std::to_string(unit) + ".csv"; };
    const auto rowsOf = [&](int unit) { return logRows(logOf(unit)); };
    const auto actualOf = [](CTqk5820ConfigDoc* doc) {
        return panelOf<CTqk5820ConfigMeasureDialog>(doc, CTqk5820ConfigDoc::kMeasure)->ActualDisplay();
    };
    runFor(2500);
    for (CTqk5820ConfigDoc* doc : docs)
        ASSERT_TRUE(actualOf(doc)->hasValue());
    CMainFrame* main = app->GetMainFrame();
    EXPECT_NE(main->StatusText(), halted);

    app->OnCommand(cmd::kHaltAll);
    EXPECT_EQ(main->StatusText(), halted);
    const std::size_t before[2] = {rowsOf(1).size(), rowsOf(2).size()};
    std::map<bool, int> lit;
    for (int i = 0; i < 12; ++i) {
        runFor(250);
        for (CTqk5820ConfigDoc* doc : docs) {
            EXPECT_FALSE(actualOf(doc)->hasValue());
            ++lit[actualOf(doc)->blinkOn()];
        }
    }
    EXPECT_GT(lit[true], 4);
    EXPECT_GT(lit[false], 4);
    for (int unit : {1, 2}) {
        const std::vector<std::string> rows = rowsOf(unit);
        // The second under way when it stopped may hold what came before.
        ASSERT_GE(rows.size(), before[unit - 1] + 2) << unit;
        for (std::size_t i = before[unit - 1] + 1; i < rows.size(); ++i)
            EXPECT_EQ(rows[i].substr(25), ",???.???,???.???,???.???,???.???,???,") << rows[i];
    }
    // Another message is shown over it, and it stays underneath.
    main->statusBar()->showMessage("NEG LIM I limited to 0.00 (range -5.00 to 0.00)");
    runFor(200);
    EXPECT_EQ(main->StatusText(), "NEG LIM I limited to 0.00 (range -5.00 to 0.00)");
    EXPECT_EQ(main->MessagePaneText(), halted);
    for (CTqk5820ConfigDoc* doc : docs)
        EXPECT_TRUE(doc->IsOnline());

    app->OnCommand(cmd::kRestartAll);
    EXPECT_NE(main->StatusText(), halted);
    EXPECT_NE(main->MessagePaneText(), halted);
    for (CTqk5820ConfigDoc* doc : docs)
        EXPECT_TRUE(runUntil([&] { return actualOf(doc)->hasValue() && !actualOf(doc)->blinkOn(); }, 3000));
    const std::size_t restarted = rowsOf(1).size();
    runFor(2500);
    const std::vector<std::string> rows = rowsOf(1);
    ASSERT_GT(rows.size(), restarted + 1);
    EXPECT_EQ(rows.back().find("???"), std::string::npos) << rows.back();
    for (int unit : {1, 2})
        std::remove(logOf(unit).c_str());
    ::rmdir(dir);
}

// The About box, run modally as from its menu: both controller windows
// read on and log a valid row every second it is open.
TEST_F(AppTest, AModalDialogLeavesEveryWindowReadingAndLogging)
{
    char dir[] = "/tmp/tessol-modal-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    app->SetLogDirectory(dir);
    const std::vector<CTqk5820ConfigDoc*> docs = {openOnline(1), openOnline(2)};
    const auto logOf = [&](int unit) { return std::string(dir) + "/TQK-5820-0" + std::to_string(unit) + ".csv"; };
    const auto rowsOf = [&](int unit) { return logRows(logOf(unit)); };
    // Every reading of both windows has come once.
    runFor(2500);
    std::size_t before[2] = {};
    std::int64_t opened = 0;
    std::int64_t closed = 0;
    QTimer::singleShot(0, [&] {
        before[0] = rowsOf(1).size();
        before[1] = rowsOf(2).size();
        opened = clock.utcMillis();
        QTimer::singleShot(4000, [&] {
            closed = clock.utcMillis();
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        app->OnCommand(cmd::kAppAbout);
    });
    ASSERT_TRUE(runUntil([&] { return closed != 0; }, 8000));
    for (CTqk5820ConfigDoc* doc : docs)
        EXPECT_GT(doc->ReadAt(pn::kActualTemperature), opened + 2000);
    for (int unit : {1, 2}) {
        const std::vector<std::string> rows = rowsOf(unit);
        ASSERT_GE(rows.size(), before[unit - 1] + static_cast<std::size_t>((closed - opened) / 1000 - 1)) << unit;
        for (std::size_t i = before[unit - 1]; i < rows.size(); ++i)
            EXPECT_EQ(rows[i].find("???.???"), std::string::npos) << rows[i];
        std::remove(logOf(unit).c_str());
    }
    ::rmdir(dir);
}

// A loop that waits for one controller in place (a drain, the access
// checks) keeps the other windows live, and no pass meanwhile runs a step
// of the controller that waits.
TEST_F(AppTest, AWaitingLoopHoldsOnlyItsOwnController)
{
    // The program's own way of waiting, not the fixture's.
    auto* waiting = static_cast<CTqk5820ConfigDoc*>(app->OnFileNew());
    ASSERT_TRUE(runUntil([&] { return waiting->IsOnline() && waiting->GetSensorType() != 7; }, 10000));
    CTqk5820ConfigDoc* other = openOnline(2);
    runFor(1500);
    const std::int64_t start = clock.utcMillis();
    const std::int64_t waitingRead = waiting->ReadAt(pn::kActualTemperature);
    std::int64_t heldRead = -2;
    QTimer::singleShot(0, [&] {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 2500)
            waiting->WaitForLine();
        heldRead = waiting->ReadAt(pn::kActualTemperature);
    });
    ASSERT_TRUE(runUntil([&] { return heldRead != -2; }, 5000));
    EXPECT_EQ(heldRead, waitingRead);
    EXPECT_GT(other->ReadAt(pn::kActualTemperature), start + 1000);
    // And it goes on once the loop is done.
    EXPECT_TRUE(runUntil([&] { return waiting->ReadAt(pn::kActualTemperature) > start; }, 3000));
}

// The simulator goes away and comes back at the same path, as a USB adapter
// unplugged and plugged in again: the window goes offline, the status bar
// says so once, and it comes back online by itself.
TEST_F(AppTest, ALineThatIsLostAndComesBackIsOpenedAgainAndItsWindowReturns)
{
    CTqk5820ConfigDoc* doc = openOnline(1);
    ASSERT_TRUE(doc->IsOnline());
    sim.reset();
    ASSERT_TRUE(runUntil([&] { return !doc->IsOnline(); }, 5000));
    ASSERT_TRUE(runUntil([&] { return app->GetLink().isLost(1); }, 5000));
    runFor(3000);   // retries that find nothing say nothing more
    const auto lost = std::count(prompts.statusMessages.begin(), prompts.statusMessages.end(),
                                 std::string("COM2: device lost, retrying"));
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(prompts.boxes.empty());

    sim::Options options;
    options.units = simulatedUnits();
    sim = std::make_unique<QtSim>(options, link_);
    ASSERT_TRUE(sim->ok());
    EXPECT_TRUE(runUntil([&] { return doc->IsOnline(); }, 12000));
    EXPECT_FALSE(app->GetLink().isLost(1));
    EXPECT_EQ(app->GetLink().openCount(1), 1);
}

TEST_F(AppTest, AnIdleProgramSleeps)
{
    CTqk5820ConfigDoc* doc = openController();
    ASSERT_TRUE(runUntil([&] { return doc->IsOnline(); }));
    app->OnCommand(cmd::kHaltAll);
    runFor(50);
    const auto passes = app->IdlePassCount();
    runFor(1000);
    // Only the clock's tick wakes a halted program: a few dozen passes a
    // second, not the thousands of a spinning loop.
    EXPECT_LT(app->IdlePassCount() - passes, 40u);
}

// ------------------------------------------------------------ reports that do not wait

class ReportTest : public AppTest {
protected:
    bool realReports() const override { return true; }

    static QMessageBox* onlyBox()
    {
        const auto boxes = ReportingPrompts::shownBoxes();
        return boxes.size() == 1 ? boxes.front() : nullptr;
    }
    QString statusLine() const { return app->GetMainFrame()->statusBar()->currentMessage(); }
};

TEST_F(ReportTest, InstrumentWorkGoesOnWhileAnEndCodeReportIsOpen)
{
    CTqk5820ConfigDoc* doc = openOnline();
    sim->sim().control("faults corrupt=0.2");
    ASSERT_TRUE(runUntil([&] { return reporting.openReports() == 1; }, 10000));
    QMessageBox* box = onlyBox();
    ASSERT_NE(box, nullptr);
    // More may have come already; the first text stays on the first line.
    const std::string first = box->text().split('\n').front().toStdString();
    EXPECT_EQ(first.rfind("ERROR - Unit #01 Command ", 0), 0u) << first;
    EXPECT_EQ(first.find(", returned End Code 99."), first.size() - 23) << first;
    EXPECT_EQ(box->windowTitle(), "Tessol");
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    // Corrupted replies keep coming: polling goes on, they are counted on the
    // one box, and the status line follows the latest.
    const auto passes = app->IdlePassCount();
    const auto seen = sim->sim().commandsSeen();
    ASSERT_TRUE(runUntil([&] { return box->text().contains("more since"); }, 10000));
    ASSERT_TRUE(runUntil([&] { return sim->sim().commandsSeen() > seen + 20; }, 10000));
    EXPECT_GT(app->IdlePassCount(), passes + 20);
    EXPECT_EQ(reporting.openReports(), 1);
    EXPECT_EQ(ReportingPrompts::shownBoxes().size(), 1u);
    EXPECT_TRUE(box->text().startsWith(QString::fromStdString(first) + "\n("));
    EXPECT_TRUE(box->text().endsWith(" more since)"));
    EXPECT_TRUE(statusLine().startsWith("ERROR - Unit #01 Command ")) << statusLine().toStdString();
    EXPECT_TRUE(doc->IsOnline());
    EXPECT_TRUE(prompts.boxes.empty());   // nothing asked, nothing waited for

    // Writes and a new controller from the menu go on with the box still up.
    sim->sim().control("faults corrupt=0");
    bool taken = false;
    ASSERT_TRUE(runUntil([&] { return taken = taken || doc->WriteSetTemperature(31.5f); }));
    ASSERT_TRUE(runUntil([&] { return !doc->IsOutstanding(3); }));
    EXPECT_EQ(doc->ValueText(3), "+031.500");
    action(cmd::kNewTemperatureController)->trigger();
    ASSERT_EQ(app->ConfigTemplate().GetDocuments().size(), 2u);
    auto* second = static_cast<CTqk5820ConfigDoc*>(app->ConfigTemplate().GetDocuments().back());
    EXPECT_TRUE(runUntil([&] { return second->IsOnline(); }, 10000));
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(reporting.openReports(), 1);
}

TEST_F(ReportTest, ReportsOfOneControllerShareOneBoxUntilItIsClosed)
{
    const std::string a1 = "ERROR - Unit #01 Command 1-01, returned End Code 99.";
    const std::string a2 = "ERROR - Unit #01 Command 1-05, returned End Code 97.";
    const std::string a3 = "ERROR - Unit #01 Command 2-03, returned End Code 05.";
    const std::string b1 = "ERROR - Unit #02 Command 1-01, returned End Code 99.";
    const std::string key1 = CTqk5820ConfigDoc::ReportKey(1, 1);
    const std::string key2 = CTqk5820ConfigDoc::ReportKey(1, 2);
    for (const std::string* text : {&a1, &a2, &a3})
        report::showReport(reporting, key1, *text);
    report::showReport(reporting, key2, b1);
    runFor(50);
    EXPECT_EQ(reporting.openReports(), 2);
    const auto boxes = ReportingPrompts::shownBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    QMessageBox* box1 = boxes[0]->text().startsWith("ERROR - Unit #01") ? boxes[0] : boxes[1];
    QMessageBox* box2 = box1 == boxes[0] ? boxes[1] : boxes[0];
    EXPECT_EQ(box1->text().toStdString(), a1 + "\n(2 more since)");
    EXPECT_EQ(box2->text().toStdString(), b1);
    EXPECT_EQ(statusLine().toStdString(), b1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    const auto passes = app->IdlePassCount();
    EXPECT_TRUE(runUntil([&] { return app->IdlePassCount() > passes + 3; }));

    // Once the user has pressed OK, the next report opens a fresh box.
    QTest::mouseClick(box1->button(QMessageBox::Ok), Qt::LeftButton);
    ASSERT_TRUE(runUntil([&] { return reporting.openReports() == 1; }));
    report::showReport(reporting, key1, a2);
    runFor(50);
    EXPECT_EQ(reporting.openReports(), 2);
    bool fresh = false;
    for (QMessageBox* box : ReportingPrompts::shownBoxes())
        fresh |= box->text().toStdString() == a2;
    EXPECT_TRUE(fresh);
}

TEST_F(ReportTest, ReportsOfSeveralControllersOpenWhereEachCanBeSeen)
{
    for (int unit = 1; unit <= 4; ++unit)
        report::showReport(reporting, CTqk5820ConfigDoc::ReportKey(1, unit),
                           "ERROR - Unit #0" + std::to_string(unit) + " Command 1-01, returned End Code 99.");
    runFor(50);
    const auto boxes = ReportingPrompts::shownBoxes();
    ASSERT_EQ(boxes.size(), 4u);
    const QRect screen = app->GetMainFrame()->screen()->availableGeometry();
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_TRUE(screen.contains(boxes[i]->frameGeometry())) << i;
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_NE(boxes[i]->pos(), boxes[j]->pos()) << i << " on top of " << j;
    }
}

TEST_F(ReportTest, AReportOutlivesItsControllerButNotTheMainWindow)
{
    CTqk5820ConfigDoc* doc = openOnline();
    // The unit refuses a write to a reading (taken once no read of it is out).
    bool posted = false;
    ASSERT_TRUE(runUntil([&] { return posted || (posted = doc->WriteNumber(1, 5.0f)); }));
    ASSERT_TRUE(runUntil([&] { return reporting.openReports() == 1; }));
    QPointer<QMessageBox> box = onlyBox();
    ASSERT_FALSE(box.isNull());
    EXPECT_EQ(box->text(), "ERROR - Unit #01 Command 2-01, returned End Code 04.");

    app->ConfigTemplate().CloseDocument(doc);
    runFor(100);
    EXPECT_TRUE(app->ConfigTemplate().GetDocuments().empty());
    ASSERT_FALSE(box.isNull());
    EXPECT_TRUE(box->isVisible());
    // The next controller with that unit on that port shares the box.
    CTqk5820ConfigDoc* again = openOnline();
    ASSERT_EQ(again->GetUnitNumber(), 1);
    bool again1 = false;
    ASSERT_TRUE(runUntil([&] { return again1 || (again1 = again->WriteNumber(1, 5.0f)); }));
    ASSERT_TRUE(runUntil([&] { return box->text().endsWith("\n(1 more since)"); }));

    app->ExitInstance();
    EXPECT_TRUE(box.isNull());
    EXPECT_EQ(reporting.openReports(), 0);
}

TEST_F(ReportTest, NeitherAQuestionNorAReportStopsThePass)
{
    openOnline();
    report::showReport(reporting, CTqk5820ConfigDoc::ReportKey(1, 1), "ERROR - x");
    runFor(50);
    ASSERT_EQ(reporting.openReports(), 1);
    const auto passes = app->IdlePassCount();
    ASSERT_TRUE(runUntil([&] { return app->IdlePassCount() > passes + 3; }));

    // The real question box, answered after a while by "pressing" No.
    std::uint64_t passesAsked = 0, seenAsked = 0, passesLater = 0, seenLater = 0;
    QTimer::singleShot(200, [&] {
        passesAsked = app->IdlePassCount();
        seenAsked = sim->sim().commandsSeen();
    });
    QTimer::singleShot(1500, [&] {
        passesLater = app->IdlePassCount();
        seenLater = sim->sim().commandsSeen();
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    const MessageAnswer answer
        = reporting.QtPrompts::messageBox("Tessol", "Change the default to port COM1: ?", MessageButtons::YesNo,
                                          MessageIcon::Exclamation);
    EXPECT_EQ(answer, MessageAnswer::No);
    EXPECT_GT(passesLater, passesAsked);
    EXPECT_GT(seenLater, seenAsked);
}

} // namespace

TEST(MainFrameRect, FollowsTheScreenAndIconSize)
{
    const FrameRect wide = mainFrameRect(1280, 1024, 32, 32);
    EXPECT_EQ(wide.x, 32);
    EXPECT_EQ(wide.y, 32);
    EXPECT_EQ(wide.width, 960);
    EXPECT_EQ(wide.height, 704);
    const FrameRect narrow = mainFrameRect(640, 480, 32, 32);
    EXPECT_EQ(narrow.width, 576);
    EXPECT_EQ(narrow.height, 416);
    EXPECT_EQ(mainFrameRect(1000, 700, 32, 32).width, 736);  // 1000 still counts as narrow
}

TEST(WindowSlots, TakeTheLowestFreeSlot)
{
    WindowSlots table;
    EXPECT_EQ(table.take(), 0);
    EXPECT_EQ(table.take(), 1);
    EXPECT_EQ(table.take(), 2);
    table.set(1, 0);
    EXPECT_EQ(table.take(), 1);
    EXPECT_EQ(table.take(), 3);
    table.set(7, 1);
    EXPECT_EQ(table.size(), 8u);
    EXPECT_EQ(table.take(), 4);
}

// ------------------------------------------------------------ a full line

class FullLineTest : public AppBench {
protected:
    std::vector<int> simulatedUnits() const override
    {
        std::vector<int> units;
        for (int u = 1; u <= 16; ++u)
            units.push_back(u);
        return units;
    }
    bool pacedLine() const override { return true; }

    static std::int64_t actualReadAt(const CTqk5820ConfigDoc* doc)
    {
        return std::max(doc->ReadAt(pn::kActualTemperature), doc->ReadAt(pn::kSensorResistance));
    }

    // Opens `count` controller windows and waits until every one is online.
    void openAllOnline(int count)
    {
        for (int i = 0; i < count; ++i)
            docs.push_back(openController());
        ASSERT_TRUE(runUntil([&] { return all([](CTqk5820ConfigDoc* d) { return d->IsOnline(); }); }, 20000));
    }

    bool all(const std::function<bool(CTqk5820ConfigDoc*)>& f) const { return std::all_of(docs.begin(), docs.end(), f); }

    std::vector<CTqk5820ConfigDoc*> docs;
};

TEST_F(FullLineTest, SixteenUnitsOnOneLineAllComeOnlineAndAreAllPolled)
{
    ASSERT_NO_FATAL_FAILURE(openAllOnline(16));
    // Once every window shows readings, each one reads them again within a
    // few seconds, the active one (the last opened) every second.
    ASSERT_TRUE(runUntil([&] { return all([](CTqk5820ConfigDoc* d) { return actualReadAt(d) >= 0; }); }, 30000));
    EXPECT_TRUE(docs.back()->IsInFront());
    const std::int64_t since = clock.utcMillis();
    EXPECT_TRUE(runUntil([&] { return all([&](CTqk5820ConfigDoc* d) { return actualReadAt(d) > since; }); }, 10000));
    EXPECT_TRUE(runUntil([&] { return actualReadAt(docs.back()) > since + 1500; }, 3000));
}

// ------------------------------------------------------------ slow and noisy lines

struct LineCase {
    const char* name;
    std::map<int, int> delayMs;   // unit -> how late it answers
    double noise;                 // a stray byte before a reply
    double drop = 0;              // a reply lost
};

class AwkwardLineTest : public FullLineTest, public ::testing::WithParamInterface<LineCase> {
protected:
    std::vector<int> simulatedUnits() const override { return {1, 2, 3, 4}; }
    void adjustLine(sim::Options& options) const override
    {
        options.unitDelayMs = GetParam().delayMs;
        options.faults.noise = GetParam().noise;
        options.faults.drop = GetParam().drop;
    }
};

TEST_P(AwkwardLineTest, EveryUnitComesOnlineAndIsPolled)
{
    ASSERT_NO_FATAL_FAILURE(openAllOnline(4));
    // Each of them keeps being read. A unit that takes 800 ms an answer
    // leaves the line little time, so this is not about the values shown.
    const auto lastRead = [](CTqk5820ConfigDoc* d) {
        std::int64_t last = -1;
        for (int p = 1; p < 100; ++p)
            last = std::max(last, d->ReadAt(p));
        return last;
    };
    const std::int64_t since = clock.utcMillis();
    EXPECT_TRUE(runUntil([&] { return all([&](CTqk5820ConfigDoc* d) { return lastRead(d) > since; }); }, 15000));
    // None of them went offline on the way, unless replies were lost.
    if (GetParam().drop == 0) {
        EXPECT_TRUE(all([](CTqk5820ConfigDoc* d) { return d->IsOnline(); }));
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, AwkwardLineTest,
                         ::testing::Values(LineCase {"SlowUnits", {{1, 100}, {2, 200}, {3, 400}, {4, 800}}, 0.0},
                                           LineCase {"NoiseBeforeEveryReply", {}, 1.0},
                                           LineCase {"SlowAndNoisy", {{2, 300}, {4, 600}}, 0.5},
                                           LineCase {"AtOnceBesideOneAt1500ms", {{2, 1500}}, 0.0},
                                           LineCase {"SlowUnitsUnderHeavyLoss", {{2, 200}, {4, 400}}, 0.0, 0.2}),
                         [](const ::testing::TestParamInfo<LineCase>& line) { return std::string(line.param.name); });
