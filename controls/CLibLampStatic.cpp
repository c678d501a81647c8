#include "controls/CLibLampStatic.h"

#include "controls/ControlSupport.h"
#include "platform/SystemClock.h"

#include <QColor>
#include <QPainter>

class CLibLampStatic::Host final : public ControlHost {
public:
    explicit Host(CLibLampStatic& lamp) : lamp_(lamp) {}
    void repaint() override { lamp_.update(); }

private:
    CLibLampStatic& lamp_;
};

namespace {

Rgb toRgb(const QColor& c)
{
    return {static_cast<std::uint8_t>(c.red()), static_cast<std::uint8_t>(c.green()),
            static_cast<std::uint8_t>(c.blue())};
}

} // namespace

CLibLampStatic::CLibLampStatic(QWidget* parent) : CLibLampStatic(Defaults{}, nullptr, parent) {}

CLibLampStatic::CLibLampStatic(Clock& clock, QWidget* parent) : CLibLampStatic(Defaults{}, &clock, parent) {}

CLibLampStatic::CLibLampStatic(Defaults, Clock* clock, QWidget* parent)
    : QLabel(parent),
      ownClock_(clock ? nullptr : std::make_unique<SystemClock>()),
      host_(std::make_unique<Host>(*this)),
      logic_(*host_, clock ? *clock : *ownClock_)
{
}

CLibLampStatic::~CLibLampStatic() = default;

bool CLibLampStatic::attach(QWidget* placeholder)
{
    if (auto* label = qobject_cast<QLabel*>(placeholder)) {
        setFrameShape(label->frameShape());
        setFrameShadow(label->frameShadow());
        setLineWidth(label->lineWidth());
    }
    return controls::takePlaceOf(this, placeholder);
}

bool CLibLampStatic::attach(QWidget* parent, int controlId)
{
    return attach(controls::findChildControl(parent, controlId));
}

void CLibLampStatic::SetColors(const QColor& on, const QColor& off)
{
    logic_.SetColors(toRgb(on), toRgb(off));
}

void CLibLampStatic::paintEvent(QPaintEvent* e)
{
    {
        QPainter painter(this);
        painter.fillRect(rect(), controls::toQColor(logic_.currentColor()));
    }
    // The frame, if the template gave the lamp one.
    QLabel::paintEvent(e);
}
