// A small form with every numeric control of the program, steady and
// blinking, for looking at their colours, fonts and sizes.
//
//   controls_gallery            shows the form
//   controls_gallery out.png    renders it to out.png and exits

#include "controls/CLibComboBox.h"
#include "controls/CLibDatamineEdit.h"
#include "controls/CLibLampStatic.h"
#include "controls/CLibNumberEdit.h"
#include "controls/CLibNumberStatic.h"
#include "controls/CLibSpinButtonCtrl.h"
#include "controls/CLibTabButton.h"
#include "controls/ControlSupport.h"
#include "controls/NumberFormat.h"
#include "platform/Clock.h"
#include "platform/qt/DialogBuilder.h"
#include "platform/qt/QtPrompts.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <cstdio>
#include <optional>

namespace {

// A clock that stands still unless the gallery moves it, so that blinking
// controls can be shown in either phase.
class StillClock : public Clock {
public:
    std::int64_t seconds() const override { return millis / 1000; }
    std::int64_t utcMillis() const override { return millis; }
    std::int64_t millis = 1'700'000'000'000;
};

QLabel* caption(QWidget* form, const QString& text, int x, int y, int w = 120)
{
    auto* label = new QLabel(text, form);
    label->setGeometry(x, y, w, 20);
    return label;
}

struct Gallery {
    explicit Gallery(StillClock& clock, QtPrompts& prompts) : clock_(clock), prompts_(prompts)
    {
        QFont font(dialogFontFace(QStringLiteral("MS Sans Serif")));
        font.setPixelSize(11);
        form.setFont(font);
        QPalette palette = form.palette();
        palette.setColor(QPalette::Window, QColor(0, 62, 62));
        palette.setColor(QPalette::WindowText, Qt::white);
        form.setPalette(palette);
        form.setAutoFillBackground(true);
        form.setWindowTitle(QStringLiteral("Tessol controls"));
        form.resize(500, 440);

        caption(&form, QStringLiteral("online"), 140, 6);
        caption(&form, QStringLiteral("offline, on"), 290, 6);
        caption(&form, QStringLiteral("offline, off"), 400, 6);

        caption(&form, QStringLiteral("Numeric entry"), 10, 30);
        auto* plain = new CLibNumberEdit(prompts_, &form);
        plain->setGeometry(140, 30, 60, 20);
        plain->setText(QStringLiteral("-12.5"));
        auto* disabled = new CLibNumberEdit(prompts_, &form);
        disabled->setGeometry(215, 30, 50, 20);
        disabled->setText(QStringLiteral("3.3"));
        disabled->setEnabled(false);

        caption(&form, QStringLiteral("Bound entry + spin"), 10, 60);
        boundEntry(140, 60, 25.0f, Phase::Steady);
        boundEntry(290, 60, 25.0f, Phase::On);
        boundEntry(400, 60, 25.0f, Phase::Off);
        boundEntry(215, 60, numberformat::kNoReading, Phase::Steady);

        caption(&form, QStringLiteral("Display"), 10, 90);
        display(140, 90, 1.234f, Phase::Steady);
        display(215, 90, numberformat::kNoReading, Phase::Steady);
        display(290, 90, 1.234f, Phase::On);
        display(400, 90, 1.234f, Phase::Off);

        caption(&form, QStringLiteral("Fitted font"), 10, 122);
        auto* large = new CLibNumberStatic(clock_, &form);
        large->setGeometry(140, 118, 110, 26);
        large->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        large->CreateFittedFont();
        large->SetParameterId(1);
        large->SetValue(-23.45f);

        caption(&form, QStringLiteral("Lamps"), 10, 156);
        lamp(140, 160, 1, {});
        lamp(166, 160, 0, {});
        lamp(192, 160, 1, Colours{{255, 0, 0}, {64, 0, 0}});
        lamp(218, 160, 0, Colours{{255, 0, 0}, {64, 0, 0}});
        blinkingLamp(290, 160, Phase::On);
        blinkingLamp(400, 160, Phase::Off);

        caption(&form, QStringLiteral("Selector"), 10, 224);
        selector = new CLibComboBox(&form);
        selector->setGeometry(140, 224, 140, 22);
        selector->addItems({QStringLiteral("Thermistor T mode"), QStringLiteral("Thermistor R mode"),
                            QStringLiteral("RTD T mode"), QStringLiteral("RTD R mode"), QStringLiteral("AD590"),
                            QStringLiteral("LM335"), QStringLiteral("Thermocouple/LM35")});

        caption(&form, QStringLiteral("Buttons"), 10, 190);
        auto* push = new CLibTabButton(prompts_, &form);
        push->setText(QStringLiteral("Capture"));
        push->setGeometry(140, 188, 70, 24);
        push->SetPassFocus(true);
        auto* check = new CLibTabButton(prompts_, &form);
        check->setKind(CLibTabButton::Kind::CheckBox);
        check->setText(QStringLiteral("Auto"));
        check->setChecked(true);
        check->setGeometry(225, 190, 60, 20);
    }

    enum class Phase { Steady, On, Off };

    // Blinking starts from a shown value: the first toggle turns the field
    // solid green, the second black.
    template <class Control>
    void blink(int toggles, Control* control)
    {
        for (int i = 0; i < toggles; ++i) {
            clock_.millis += 1000;
            control->Blink();
        }
    }

    static int toggles(Phase phase) { return phase == Phase::On ? 1 : phase == Phase::Off ? 2 : 0; }

    void boundEntry(int x, int y, float value, Phase phase)
    {
        auto* entry = new CLibDatamineEdit(clock_, prompts_, &form);
        entry->setGeometry(x, y, 50, 20);
        auto* spin = new CLibSpinButtonCtrl(&form);
        spin->setGeometry(x + 50, y, 12, 20);
        entry->SetParameterId(1);
        spin->AttachEdit(*entry);
        entry->SetValue(value);
        blink(toggles(phase), entry);
    }

    void display(int x, int y, float value, Phase phase)
    {
        auto* number = new CLibNumberStatic(clock_, &form);
        number->setGeometry(x, y, 50, 18);
        number->SetParameterId(39);
        number->SetValue(value);
        blink(toggles(phase), number);
    }

    struct Colours {
        Rgb on;
        Rgb off;
    };

    void lamp(int x, int y, int state, std::optional<Colours> colours)
    {
        auto* l = new CLibLampStatic(clock_, &form);
        l->setGeometry(x, y, 20, 12);
        if (colours)
            l->SetColors(colours->on, colours->off);
        l->SetState(state);
    }

    void blinkingLamp(int x, int y, Phase phase)
    {
        auto* l = new CLibLampStatic(clock_, &form);
        l->setGeometry(x, y, 20, 12);
        blink(toggles(phase), l);
    }

    StillClock& clock_;
    QtPrompts& prompts_;
    QWidget form;
    CLibComboBox* selector = nullptr;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    StillClock clock;
    QtPrompts prompts;
    Gallery gallery(clock, prompts);
    gallery.form.show();

    if (argc < 2)
        return app.exec();

    // The drop-down list is a window of its own; draw it into the picture
    // below its combo box.
    gallery.selector->showPopup();
    QApplication::processEvents();
    QImage image = gallery.form.grab().toImage();
    if (QWidget* popup = gallery.selector->view()->window(); popup && popup != &gallery.form) {
        QPainter painter(&image);
        const QPoint at = gallery.selector->mapTo(&gallery.form, QPoint(0, gallery.selector->height()));
        painter.drawPixmap(at, popup->grab());
    }
    gallery.selector->hidePopup();
    if (!image.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "controls_gallery: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
