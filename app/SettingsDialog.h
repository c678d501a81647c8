#pragma once

#include "config/SettingsFile.h"

#include <QDialog>

#include <string>
#include <vector>

class Controller;
class QLabel;
class QPushButton;
class QTimer;
class QTreeWidget;
class UserPrompts;

namespace settingsdialog {

// Reads and checks a settings file for applying. False, after saying why
// in a box (the file cannot be read, its errors with their lines, values
// beyond their rows' ranges: nothing is written), or when the user did not
// want the settings it has that this program does not know skipped.
bool LoadForApply(const std::string& path, UserPrompts& prompts, settingsfile::Settings& settings);

// The header a file saved from `controller` gets ("Tessol 1.3", "COM2
// unit 07"): the time, serial number and firmware come with the read.
settingsfile::Header HeaderFor(const Controller& controller);

} // namespace settingsdialog

// A settings file against one controller or several. It reads each one's
// settings afresh and shows, for one controller, each setting with the
// file's value, the unit's and whether they differ; for several, one row
// per unit with what differs. Apply writes the file to each (asking first
// where a unit has another sensor type) and says what became of it: per
// setting for one controller, per unit for several. The jobs are the
// controllers' own, stepped by the idle pass; the dialog only watches them.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    enum Column { kName, kFile, kUnit, kResult };

    SettingsDialog(std::vector<Controller*> controllers, std::string path, settingsfile::Settings file,
                   UserPrompts& prompts, QWidget* parent = nullptr);

    // Applies the file (the Apply button). False when nothing was started.
    bool Apply();
    // Every controller's job has ended.
    bool Idle() const;
    QTreeWidget* Table() const { return table_; }
    QString Summary() const;
    QPushButton* ApplyButton() const { return apply_; }
    // Follows the jobs (also on a timer of its own while shown).
    void Follow();

private:
    void FillOne();
    void FillMany();

    std::vector<Controller*> controllers_;
    std::string path_;
    settingsfile::Settings file_;
    UserPrompts& prompts_;
    QTreeWidget* table_;
    QLabel* summary_;
    QPushButton* apply_;
    QTimer* timer_;
    bool applied_ = false;
};
