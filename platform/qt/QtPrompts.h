#pragma once

#include "platform/UserPrompts.h"

#include <QPointer>
#include <QStatusBar>
#include <QWidget>

#include <map>
#include <string>

class QMessageBox;

// Message boxes, the wait cursor, the status-bar message and the beep on Qt.
// Boxes are owned by the main window. A message box is application-modal:
// it takes all input until answered, while the program's timers (and so the
// idle pass) go on; a wait cursor of a loop under way gives way to the arrow
// meanwhile. A report is a box that is not modal, one per key, and it lives
// until the user presses OK or its owner goes.
class QtPrompts : public UserPrompts {
public:
    QtPrompts() = default;
    ~QtPrompts() override;
    QtPrompts(const QtPrompts&) = delete;
    QtPrompts& operator=(const QtPrompts&) = delete;

    void setOwner(QWidget* owner) { owner_ = owner; }
    void setStatusBar(QStatusBar* bar) { statusBar_ = bar; }

    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override;
    void report(const std::string& key, const std::string& caption, const std::string& text,
                MessageIcon icon) override;
    void beginWaitCursor() override;
    void endWaitCursor() override;
    void showStatusMessage(const std::string& text) override;
    void takeBackStatusMessage(const std::string& text) override;
    void beep() override;

    // The reports on screen now.
    int openReports() const;

private:
    struct OpenReport {
        QPointer<QMessageBox> box;
        std::string text;   // the text it opened with
        int more = 0;       // reports with its key since
    };

    // Puts a new report where `others` open ones leave it in sight.
    void place(QWidget* box, int others) const;

    QPointer<QWidget> owner_;
    QPointer<QStatusBar> statusBar_;
    std::map<std::string, OpenReport> reports_;
};
