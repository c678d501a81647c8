#pragma once

#include "controls/DatamineEditLogic.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

class CLibDatamineEdit;

// A small up-down arrow pair beside a bound entry. Its range is the entry's
// row (minimum to maximum, in scaled units), its position the entry's value
// in those units. A click proposes position ± 1 to the entry, which shows the
// stepped value at once and commits it about two seconds after the last
// click. Holding an arrow repeats, faster after two and five seconds. The
// spin never takes the keyboard focus, so clicking it leaves a typed entry
// alone.
class CLibSpinButtonCtrl : public QWidget {
    Q_OBJECT

public:
    explicit CLibSpinButtonCtrl(QWidget* parent = nullptr);
    ~CLibSpinButtonCtrl() override;

    // Take the place of a template builder's placeholder (see
    // controls/ControlSupport.h). False when there is no such placeholder.
    bool attach(QWidget* placeholder);
    bool attach(QWidget* parent, int controlId);

    // Couples the entry both ways and takes its range and position. Returns true.
    bool AttachEdit(CLibDatamineEdit& entry);
    void SyncWithEdit() { logic_.SyncWithEdit(); }
    void SetRange(int lower, int upper) { logic_.SetRange(lower, upper); }
    void SetPos(int position) { logic_.SetPos(position); }
    int GetPos() const { return logic_.position(); }
    int lower() const { return logic_.lower(); }
    int upper() const { return logic_.upper(); }

    SpinButtonLogic& logic() { return logic_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void changeEvent(QEvent* e) override;

private:
    void repeatStep();
    void stop();

    SpinButtonLogic logic_;
    int pressed_ = 0; // +1 up arrow, -1 down arrow, 0 none
    QTimer repeat_;
    QElapsedTimer held_;
};
