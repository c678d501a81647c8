#include "controls/CLibNumberStatic.h"

#include "controls/ControlSupport.h"
#include "controls/NumberFormat.h"
#include "platform/SystemClock.h"

#include <QPainter>

class CLibNumberStatic::Host final : public TextHost {
public:
    explicit Host(CLibNumberStatic& label) : label_(label) {}
    std::string windowText() const override { return label_.text().toStdString(); }
    void setWindowText(const std::string& text) override { label_.setText(QString::fromStdString(text)); }
    void repaint() override { label_.update(); }

private:
    CLibNumberStatic& label_;
};

CLibNumberStatic::CLibNumberStatic(QWidget* parent) : CLibNumberStatic(Defaults{}, nullptr, parent) {}

CLibNumberStatic::CLibNumberStatic(Clock& clock, QWidget* parent) : CLibNumberStatic(Defaults{}, &clock, parent) {}

CLibNumberStatic::CLibNumberStatic(Defaults, Clock* clock, QWidget* parent)
    : QLabel(parent),
      ownClock_(clock ? nullptr : std::make_unique<SystemClock>()),
      host_(std::make_unique<Host>(*this)),
      logic_(*host_, clock ? *clock : *ownClock_)
{
    // Free texts (serial numbers) are shown as they are, never as markup.
    setTextFormat(Qt::PlainText);
    applyColors();
}

CLibNumberStatic::~CLibNumberStatic() = default;

bool CLibNumberStatic::attach(QWidget* placeholder)
{
    if (auto* label = qobject_cast<QLabel*>(placeholder)) {
        setAlignment(label->alignment());
        setFrameShape(label->frameShape());
        setFrameShadow(label->frameShadow());
        setLineWidth(label->lineWidth());
        if (!label->text().isEmpty())
            setText(label->text());
    }
    return controls::takePlaceOf(this, placeholder);
}

bool CLibNumberStatic::attach(QWidget* parent, int controlId)
{
    return attach(controls::findChildControl(parent, controlId));
}

bool CLibNumberStatic::SetParameterId(std::uint8_t row)
{
    const bool set = logic_.SetParameterId(row);
    if (fitted_)
        fitFont();
    return set;
}

void CLibNumberStatic::CreateFittedFont()
{
    fitted_ = true;
    fitFont();
}

void CLibNumberStatic::fitFont()
{
    const QRect box = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    const numberformat::FontRequest request = numberformat::fittedFontRequest(box.height());
    QFont fitted = font();
    fitted.setFamily(dialogFontFace(QString::fromStdString(request.face)));
    fitted.setStyleHint(QFont::SansSerif);
    fitted.setWeight(static_cast<QFont::Weight>(request.weight));
    QStringList widest;
    for (const std::string& text : numberformat::widestTexts(logic_.parameterId()))
        widest << QString::fromStdString(text);
    // A negative height asks for a character height; the font's ascent and
    // descent reach beyond it, so the line is centred on the rectangle
    // rather than hung from its top edge.
    fitted.setPixelSize(fittedPixelSize(fitted, widest, box.width(), request.height < 0 ? -request.height : 1));
    setFont(fitted);
    setAlignment((alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
    update();
}

void CLibNumberStatic::resizeEvent(QResizeEvent* e)
{
    QLabel::resizeEvent(e);
    if (fitted_)
        fitFont();
}

void CLibNumberStatic::setOwnColors(bool on)
{
    ownColors_ = on;
    applyColors();
    update();
}

void CLibNumberStatic::applyColors()
{
    if (ownColors_)
        setPalette(controls::numericPalette(palette(), controls::toQColor(kBlack)));
    else
        setPalette(QPalette());
}

void CLibNumberStatic::paintEvent(QPaintEvent* e)
{
    if (ownColors_) {
        QPainter painter(this);
        painter.fillRect(rect(), controls::toQColor(logic_.blinkOn() ? kGreen : kBlack));
    }
    QLabel::paintEvent(e);
}
