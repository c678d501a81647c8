#pragma once

#include "platform/UserPrompts.h"

#include <QPointer>
#include <QStatusBar>
#include <QWidget>


// Message boxes, the wait cursor, the status-bar message and the beep on Qt.
// Boxes are owned by the main window, which they block while open.
class QtPrompts : public UserPrompts {
public:
    void setOwner(QWidget* owner) { owner_ = owner; }
    void setStatusBar(QStatusBar* bar) { statusBar_ = bar; }

    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    void showStatusMessage(const std::string& text) override;
    void beep() override;

private:
    QPointer<QWidget> owner_;
    QPointer<QStatusBar> statusBar_;
};
