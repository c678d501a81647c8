#pragma once

#include "controls/LampLogic.h"

#include <QLabel>

#include <memory>

class Clock;
class QColor;
class SystemClock;

// Indicator lamp: a static without text painted in its on colour while lit
// and in its off colour otherwise (green and black until SetColors). It can
// blink; an owner that blinked it sets its state again afterwards.
class CLibLampStatic : public QLabel {
    Q_OBJECT

public:
    // System clock.
    explicit CLibLampStatic(QWidget* parent = nullptr);
    explicit CLibLampStatic(Clock& clock, QWidget* parent = nullptr);
    ~CLibLampStatic() override;

    // Take the place of a template builder's placeholder (see
    // controls/ControlSupport.h); the placeholder's frame is kept. False when
    // there is no such placeholder.
    bool attach(QWidget* placeholder);
    bool attach(QWidget* parent, int controlId);

    // Repaints only when the state changes; any non-zero value lights the lamp.
    void SetState(int state) { logic_.SetState(state); }
    int state() const { return logic_.state(); }
    // The new colours show from the next repaint on.
    void SetColors(Rgb on, Rgb off) { logic_.SetColors(on, off); }
    void SetColors(const QColor& on, const QColor& off);
    void Blink() { logic_.Blink(); }

    LampLogic& logic() { return logic_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    class Host;
    struct Defaults {};
    CLibLampStatic(Defaults, Clock* clock, QWidget* parent);

    std::unique_ptr<SystemClock> ownClock_;
    std::unique_ptr<Host> host_;
    LampLogic logic_;
};
