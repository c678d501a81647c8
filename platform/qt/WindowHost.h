#pragma once

#include <QSize>

#include <functional>

class CChildFrame;
class QWidget;
class Clock;
class UserPrompts;

// What a document's window reaches of the main window it lives in. The main
// frame implements it; the views know only this.
class WindowHost {
public:
    // Takes the first free slot of the grid in which controller windows are
    // placed; -1 when every slot is taken.
    virtual int TakeWindowSlot() = 0;
    // Gives a slot taken before back.
    virtual void ReleaseWindowSlot(int slot) = 0;
    // The size of the client area as it is laid out now.
    virtual QSize GetClientSize() = 0;
    // The active child frame, or null.
    virtual CChildFrame* GetActiveChildFrame() const = 0;
    // A controller window took a new size by itself (a panel shown or
    // hidden), so that an arrangement of the windows can follow.
    virtual void FrameResized(QWidget* /*frame*/) {}
    // A menu command for the window in `frame` (a panel's button that
    // opens what the menu opens): the frame is made the active one first.
    virtual void RunCommand(CChildFrame* /*frame*/, int /*commandId*/) {}

protected:
    ~WindowHost() = default;
};

// What a controller's production form (calibration, diagnostics) reaches
// outside itself.
struct FormServices {
    Clock* clock = nullptr;
    UserPrompts* prompts = nullptr;
    // Null when the form lives outside a main window.
    WindowHost* host = nullptr;
    // Closes the form's document and its window (and the form with it).
    std::function<void()> closeDocument;
};
