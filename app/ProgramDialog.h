#pragma once

#include "config/SetPointProgram.h"

#include <QDialog>

#include <string>

class Controller;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTimer;
class UserPrompts;

// One controller's set-point program: Load... a program file (checked:
// every problem with its line, and the unit against the controller's),
// Start, Pause, Resume and Abort, the steps with the current one marked,
// where it stands ("step 3 of 7: soak 10m within 0.5, 4m12s in, 5m48s
// left") and a progress bar. Modeless: the controller goes on meanwhile,
// and the program runs on when the dialog is closed. A set point changed
// elsewhere asks whether to go on.
class ProgramDialog : public QDialog {
    Q_OBJECT
public:
    ProgramDialog(Controller& controller, UserPrompts& prompts, QWidget* parent = nullptr);

    // Reads and checks the file; false (said in a box) when it cannot run.
    bool Load(const std::string& path);
    void Start();
    void Pause();
    void Resume();
    void Abort();
    // Brings what is shown in line with the controller's program.
    void Refresh();
    // Its controller goes: nothing looks at it any more, and the dialog
    // goes once its own events are over (a question it asks may be open).
    void Detach();

    QLabel* Status() const { return status_; }
    QListWidget* Steps() const { return steps_; }
    QProgressBar* Progress() const { return progress_; }
    QPushButton* StartButton() const { return start_; }

private:
    void ShowSteps(const setpointprogram::Program& program);

    Controller& controller_;
    UserPrompts& prompts_;
    setpointprogram::Program loaded_;
    std::string path_;
    bool haveLoaded_ = false;
    bool detached_ = false;
    // The run whose foreign set point was asked about.
    const void* askedFor_ = nullptr;
    const void* listed_ = nullptr;   // the run whose steps the list shows
    QLabel* file_;
    QListWidget* steps_;
    QLabel* status_;
    QProgressBar* progress_;
    QPushButton* load_;
    QPushButton* start_;
    QPushButton* pause_;
    QPushButton* resume_;
    QPushButton* abort_;
    QTimer* timer_;
};
