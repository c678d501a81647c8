#include "app/TuneDialog.h"

#include "app/Floor.h"
#include "config/Controller.h"
#include "config/TuneRun.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdio>

TunePlot::TunePlot(QWidget* parent)
    : QWidget(parent)
{
    setMinimumSize(420, 140);
}

void TunePlot::Show(const Controller* controller)
{
    controller_ = controller;
    update();
}

void TunePlot::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    painter.setPen(Qt::gray);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const TuneRun* run = controller_ != nullptr ? controller_->Tune() : nullptr;
    const Tuner* tuner = run != nullptr ? run->GetTuner() : nullptr;
    if (tuner == nullptr || tuner->Samples().size() < 2)
        return;
    const auto& samples = tuner->Samples();
    double low = samples.front().actual, high = low;
    for (const tune::Sample& s : samples) {
        low = std::min({low, s.actual, s.setPoint});
        high = std::max({high, s.actual, s.setPoint});
    }
    if (high - low < 0.5) {
        const double mid = (high + low) / 2;
        low = mid - 0.25;
        high = mid + 0.25;
    }
    const double t0 = samples.front().t, t1 = std::max(samples.back().t, t0 + 1);
    const QRectF area = QRectF(rect()).adjusted(44, 8, -8, -18);
    const auto at = [&](double t, double v) {
        return QPointF(area.left() + (t - t0) / (t1 - t0) * area.width(),
                       area.bottom() - (v - low) / (high - low) * area.height());
    };
    painter.setPen(Qt::black);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", high);
    painter.drawText(QRectF(0, area.top() - 6, 40, 14), Qt::AlignRight, QString::fromLatin1(text));
    std::snprintf(text, sizeof text, "%.1f", low);
    painter.drawText(QRectF(0, area.bottom() - 8, 40, 14), Qt::AlignRight, QString::fromLatin1(text));
    std::snprintf(text, sizeof text, "%.0f s", t1 - t0);
    painter.drawText(QRectF(area.right() - 80, area.bottom() + 2, 80, 14), Qt::AlignRight, QString::fromLatin1(text));
    QPainterPath setPoint, actual;
    setPoint.moveTo(at(samples.front().t, samples.front().setPoint));
    actual.moveTo(at(samples.front().t, samples.front().actual));
    // A few thousand points at the most; a long tuning has many more.
    const std::size_t stride = std::max<std::size_t>(1, samples.size() / 2000);
    for (std::size_t k = stride; k < samples.size(); k += stride) {
        setPoint.lineTo(at(samples[k].t, samples[k - stride].setPoint));
        setPoint.lineTo(at(samples[k].t, samples[k].setPoint));
        actual.lineTo(at(samples[k].t, samples[k].actual));
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::darkGreen, 1, Qt::DashLine));
    painter.drawPath(setPoint);
    painter.setPen(QPen(Qt::red, 1.5));
    painter.drawPath(actual);
}

TuneDialog::TuneDialog(Controller& controller, QWidget* parent)
    : QDialog(parent)
    , controller_(controller)
    , step_(new QDoubleSpinBox)
    , gentle_(new QCheckBox(QStringLiteral("Keep the &no-overshoot set")))
    , status_(new QLabel)
    , plot_(new TunePlot)
    , found_(new QLabel)
    , start_(new QPushButton(QStringLiteral("&Start")))
    , cancel_(new QPushButton(QStringLiteral("&Cancel Tuning")))
    , useFast_(new QPushButton(QStringLiteral("Use &Fast Set")))
    , useGentle_(new QPushButton(QStringLiteral("Use No-&Overshoot Set")))
    , previous_(new QPushButton(QStringLiteral("&Previous Gains")))
    , timer_(new QTimer(this))
{
    setWindowTitle(QString::fromStdString("Tune - " + Floor::UnitName(controller)));
    step_->setRange(0.5, 10);
    step_->setDecimals(1);
    step_->setSingleStep(0.5);
    step_->setValue(2);
    step_->setSuffix(QStringLiteral(" °C"));
    auto* options = new QHBoxLayout;
    auto* stepLabel = new QLabel(QStringLiteral("S&tep:"));
    stepLabel->setBuddy(step_);
    options->addWidget(stepLabel);
    options->addWidget(step_);
    options->addWidget(gentle_);
    options->addStretch();
    status_->setWordWrap(true);
    status_->setMinimumWidth(460);
    found_->setWordWrap(true);
    found_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {start_, cancel_, useFast_, useGentle_, previous_})
        buttons->addWidget(b);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(options);
    layout->addWidget(status_);
    layout->addWidget(plot_, 1);
    layout->addWidget(found_);
    layout->addLayout(buttons);
    layout->addWidget(close);
    connect(close, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(start_, &QPushButton::clicked, this, &TuneDialog::Start);
    connect(cancel_, &QPushButton::clicked, this, &TuneDialog::Cancel);
    const auto use = [this](const Tuner::Gains& (Tuner::*which)() const) {
        TuneRun* run = controller_.Tune();
        if (!detached_ && run != nullptr && run->GetTuner() != nullptr)
            run->Use((run->GetTuner()->*which)());
        Refresh();
    };
    connect(useFast_, &QPushButton::clicked, this, [use] { use(&Tuner::Fast); });
    connect(useGentle_, &QPushButton::clicked, this, [use] { use(&Tuner::NoOvershoot); });
    connect(previous_, &QPushButton::clicked, this, [this] {
        if (TuneRun* run = detached_ ? nullptr : controller_.Tune())
            run->Use(run->GetSetup().original);
        Refresh();
    });
    connect(timer_, &QTimer::timeout, this, &TuneDialog::Refresh);
    timer_->start(250);
    Refresh();
}

bool TuneDialog::Start()
{
    if (detached_)
        return false;
    if (controller_.ProgramRunning()) {
        status_->setText(QStringLiteral("A program runs on this controller: abort it before tuning."));
        return false;
    }
    if (controller_.TuneRunning())
        return false;
    TuneRun::Options options;
    options.step = step_->value();
    options.noOvershoot = gentle_->isChecked();
    controller_.StartTune(std::make_unique<TuneRun>(controller_.Doc(), controller_.GetClock(), options));
    Refresh();
    return true;
}

void TuneDialog::Cancel()
{
    if (TuneRun* run = detached_ ? nullptr : controller_.Tune())
        run->Cancel();
    Refresh();
}

void TuneDialog::Detach()
{
    detached_ = true;
    timer_->stop();
    plot_->Show(nullptr);
    hide();
    deleteLater();
}

void TuneDialog::Refresh()
{
    if (detached_)
        return;
    const TuneRun* run = controller_.Tune();
    const bool tuning = run != nullptr && run->Tuning();
    const bool tuned = run != nullptr && run->Tuned() && run->Finished();
    start_->setEnabled(!controller_.TuneRunning());
    step_->setEnabled(!controller_.TuneRunning());
    gentle_->setEnabled(!controller_.TuneRunning());
    cancel_->setEnabled(tuning);
    useFast_->setEnabled(tuned && run->Kept() != run->GetTuner()->Fast());
    useGentle_->setEnabled(tuned && run->Kept() != run->GetTuner()->NoOvershoot());
    previous_->setEnabled(tuned && run->Kept() != run->GetSetup().original);
    plot_->Show(&controller_);
    if (run == nullptr) {
        status_->setText(QStringLiteral(
            "The set point steps up and down by the step, within the instrument's limits; the gains the unit has now are "
            "written back if the tuning stops."));
        found_->clear();
        return;
    }
    status_->setText(QString::fromStdString(run->StatusText()));
    const Tuner* tuner = run->GetTuner();
    if (tuner == nullptr) {
        found_->clear();
        return;
    }
    std::string text = "Before: " + TuneRun::GainsText(run->GetSetup().original);
    const tune::Model& m = tuner->Found();
    if (m.fitted) {
        char line[256];
        const auto gain = [](double g) {
            char t[32];
            std::snprintf(t, sizeof t, g > 0 ? "%.2f °C/A" : "not seen", g);
            return std::string(t);
        };
        std::snprintf(line, sizeof line, "\nStage: time constant %.1f s, dead time %.1f s, noise %.3f °C",
                      m.tau, m.dead, m.noise);
        text += line;
        text += "\nGain heating " + gain(m.heatGain) + ", cooling " + gain(m.coolGain);
        text += "\nFast: " + TuneRun::GainsText(tuner->Fast()) + "\nNo overshoot: "
            + TuneRun::GainsText(tuner->NoOvershoot());
    }
    if (run->Tuned()) {
        const tune::StepResult& v = tuner->Verified();
        char line[160];
        if (tuner->FellBack())
            text += "\nThe fast set's step overshot more than 5 %: the no-overshoot set was verified instead.";
        std::snprintf(line, sizeof line, "\nThe %s set's step: within 0.1 °C after %.0f s, overshoot %.1f %%",
                      run->GetSetup().noOvershoot || tuner->FellBack() ? "no-overshoot" : "fast", v.settleSeconds,
                      100 * v.overshoot);
        text += line;
        text += "\nIn the unit: " + TuneRun::GainsText(run->Kept());
    }
    found_->setText(QString::fromStdString(text));
}
