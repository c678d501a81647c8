#pragma once

#include <QDialog>
#include <QWidget>

class Controller;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTimer;
class TuneRun;

// The temperature and the set point of a tuning so far, drawn.
class TunePlot : public QWidget {
public:
    explicit TunePlot(QWidget* parent = nullptr);
    // The tuning of this controller, whichever it is when drawn (a new one
    // replaces the last); null draws nothing.
    void Show(const Controller* controller);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const Controller* controller_ = nullptr;
};

// One controller's loop tuned: the step and which set to keep, Start and
// Cancel, what the tuning does now, the temperature and set point drawn,
// what it found of the stage (gains for heating and cooling, time
// constant, dead time, noise), the two sets it proposes and the verifying
// step. Once tuned, the other set and the gains the unit had before are a
// click away. Modeless: the tuning goes on when the dialog is closed.
class TuneDialog : public QDialog {
    Q_OBJECT
public:
    explicit TuneDialog(Controller& controller, QWidget* parent = nullptr);

    // Starts a tuning with the step and set chosen; false (said in the
    // status) when the controller is busy with a program or a tuning.
    bool Start();
    void Cancel();
    void Refresh();
    // Its controller goes: nothing looks at it any more.
    void Detach();

    QLabel* Status() const { return status_; }
    QLabel* Found() const { return found_; }
    QPushButton* StartButton() const { return start_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* FastButton() const { return useFast_; }
    QPushButton* GentleButton() const { return useGentle_; }
    QPushButton* PreviousButton() const { return previous_; }
    QDoubleSpinBox* StepBox() const { return step_; }
    QCheckBox* GentleBox() const { return gentle_; }

private:
    Controller& controller_;
    bool detached_ = false;
    QDoubleSpinBox* step_;
    QCheckBox* gentle_;
    QLabel* status_;
    TunePlot* plot_;
    QLabel* found_;
    QPushButton* start_;
    QPushButton* cancel_;
    QPushButton* useFast_;
    QPushButton* useGentle_;
    QPushButton* previous_;
    QTimer* timer_;
};
