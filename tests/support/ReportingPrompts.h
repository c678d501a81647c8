#pragma once

#include "platform/qt/QtPrompts.h"
#include "tests/support/ScriptedPrompts.h"

#include <QApplication>
#include <QMessageBox>
#include <vector>

// The window program's own reports, real boxes that do not wait, with
// every question handed to a script instead, so that no modal box stops a
// test.
class ReportingPrompts : public QtPrompts {
public:
    explicit ReportingPrompts(ScriptedPrompts& script) : script_(script) {}

    MessageAnswer messageBox(const std::string& caption, const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override
    {
        return script_.messageBox(caption, text, buttons, icon);
    }

    // The message boxes on screen, oldest first.
    static std::vector<QMessageBox*> shownBoxes()
    {
        std::vector<QMessageBox*> boxes;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible())
                boxes.push_back(box);
        }
        return boxes;
    }

private:
    ScriptedPrompts& script_;
};
