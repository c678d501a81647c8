#pragma once

#include "app/WindowSlots.h"
#include "platform/qt/CChildFrame.h"
#include "platform/qt/WindowHost.h"

#include <QDialog>
#include <QList>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <map>

class CTqk5820ConfigDoc;
class CTqk5820ConfigView;
class QAction;
class QLabel;

class QMdiArea;
class QMdiSubWindow;
class QMenu;

// The main window: the menu, the status bar, the green client area in which
// every document has its child frame, the enabling and check marks of the
// commands, and the slots that place controller windows in a grid.
class CMainFrame : public QMainWindow, public WindowHost {
    Q_OBJECT
public:
    using CommandHandler = std::function<void(int commandId)>;

    CMainFrame();

    // Commands the frame does not handle itself go here.
    void SetCommandHandler(CommandHandler handler) { handler_ = std::move(handler); }
    // Runs when the main window closes, before it goes.
    void SetCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }
    void OnCommand(int commandId);

    void AddChildFrame(QMdiSubWindow* frame);
    CChildFrame* GetActiveChildFrame() const override;
    // The document of the active view of the active child frame, if it is a
    // configuration document; otherwise null.
    CTqk5820ConfigDoc* GetActiveConfigDoc() const;
    CTqk5820ConfigView* GetActiveConfigView() const;
    // The active view is a configuration view whose document is online.
    bool IsActiveConfigViewOnline() const;

    int TakeWindowSlot() override { return slots_.take(); }
    void ReleaseWindowSlot(int slot) override { slots_.set(slot, 0); }
    void SetWindowSlot(int index, std::uint8_t value) { slots_.set(index, value); }
    const WindowSlots& GetWindowSlots() const { return slots_; }

    // Sets the message pane and repaints it at once.
    void ShowStatusMessage(const QString& text);
    // Empties the message pane and any message shown over it.
    void ClearStatusMessage();
    // The message pane alone: a message shown over it stays on top.
    void SetMessagePane(const QString& text);
    QString MessagePaneText() const;
    // What the active controller window's status bar keeps while it lasts:
    // its alarms ("MAJOR: stopped answering") and its settings difference
    // ("settings differ from line7-setup.tsc: P, I"). Empty hides it.
    void SetControllerNote(const QString& text);
    QString ControllerNote() const;
    // What the status bar shows: the message over the pane, or the pane.
    QString StatusText() const;
    // Enabling and check marks of every command, from the current state.
    void UpdateCommandUi();

    // Activates a child frame as the Window menu's list does: a minimized
    // one is restored, and the client area scrolls to show it.
    void ActivateChildFrame(QMdiSubWindow* frame);
    void RunCommand(CChildFrame* frame, int commandId) override;
    // Places the minimized child frames side by side along the bottom of the
    // client area, in the order they were opened, in rows from the bottom up.
    void ArrangeIcons();
    // Window, Cascade: the windows that are neither minimized nor hidden, in
    // the order the Window menu lists them but the active one last, take
    // their fitted sizes and go one title-bar height down and right of the
    // one before, from the top left corner, a new run from the top where
    // one would pass the bottom; the active one ends up in front.
    void Cascade();
    // Window, Tile: the same windows, each at its fitted size, side by side
    // as many as fit across, row by row in the order the Window menu lists
    // them (the first top left); rows that do not all fit overlap evenly
    // with every title bar in sight. A tiled window that changes its size
    // (a panel shown) has the windows tiled again.
    void Tile();
    void FrameResized(QWidget* frame) override;
    // The entries that list the open child frames at the end of the Window
    // menu, as it was last opened.
    QList<QAction*> GetWindowListActions() const { return windowList_; }
    // Fills the list from the open child frames, the active one checked:
    // the first nine, then "More Windows..." when there are more.
    void UpdateWindowList();
    // Window, More Windows...: every open window in a list to pick from;
    // the one picked comes to the front.
    void ChooseWindow();
    // The box ChooseWindow() shows while it is open, or null.
    QDialog* GetWindowChooser() const { return chooser_; }

    QMdiArea* GetClientArea() const { return client_; }
    // The size of the client area as it is laid out now.
    QSize GetClientSize() override;
    QAction* FindCommandAction(int commandId) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void UpdateTitle();

    QMdiArea* client_;
    QLabel* messagePane_;
    QLabel* controllerNote_ = nullptr;
    QMenu* windowMenu_ = nullptr;
    QList<QAction*> windowList_;
    QPointer<QDialog> chooser_;
    WindowSlots slots_;
    // The last arrangement was Tile, and nothing opened since.
    bool tiled_ = false;
    bool retilePending_ = false;
    CommandHandler handler_;
    std::function<void()> closeHandler_;
};
