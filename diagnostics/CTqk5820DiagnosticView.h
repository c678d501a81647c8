#pragma once

#include "diagnostics/DiagnosticViewLogic.h"
#include "platform/qt/CView.h"
#include "platform/qt/WindowHost.h"

#include <QMdiSubWindow>
#include <QPointer>
#include <QWidget>

#include <functional>

class CLibNumberStatic;
class CTqk5820DiagnosticDoc;
class Clock;
class QAbstractButton;
class UserPrompts;

// The diagnostics window of one controller: the form of dialog template
// 139, white on dark teal, beside the controller's window. Lamp-test
// buttons light one lamp group at a time, the status indicators and the
// counter follow the instrument, HALT CPU stops its processor, CLOSE closes
// the window. The working is DiagnosticViewLogic; this class puts it on
// the widgets.
class CTqk5820DiagnosticView : public QWidget, public CView, public DiagnosticFormHost {
    Q_OBJECT
public:
    // What the window reaches outside itself.
    using Services = FormServices;

    CTqk5820DiagnosticView(CTqk5820DiagnosticDoc& document, QMdiSubWindow* frame, Services services);
    // The window's end: polling stops and an online instrument's lamps go out.
    ~CTqk5820DiagnosticView() override;

    QWidget* widget() override { return this; }
    CTqk5820DiagnosticDoc& GetDiagnosticDoc() const;

    // Places the frame right of the controller window at the top of the
    // main window, fitted to the form, and starts polling.
    void OnInitialUpdate() override;
    // The frame's caption follows the document's title.
    void OnUpdate(DocumentView* sender, long hint) override;
    // One pass of the idle loop; true while a read or a write is waiting.
    // The view may be gone when it returns (its instrument went offline).
    bool RefreshPass();
    // Shows the window in front of the others and activates it.
    void BringForward();

    void SetMark(int controlId, int mark) override;
    void ShowCounter(float value) override;
    void CloseDocument() override;

    DiagnosticViewLogic& Logic() { return logic_; }
    CLibNumberStatic* CounterDisplay() const { return counter_; }
    QAbstractButton* Button(int controlId) const;
    QMdiSubWindow* GetFrame() const { return frame_; }

private:
    void UpdateCaption();

    QPointer<QMdiSubWindow> frame_;
    Services services_;
    DiagnosticViewLogic logic_;
    CLibNumberStatic* counter_ = nullptr;
    bool closing_ = false;
};
