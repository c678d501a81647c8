#pragma once

#include "controls/NumberStaticLogic.h"

#include <QLabel>

#include <memory>

class Clock;
class SystemClock;

// Read-only number display, green on black: formats values like the bound
// entry, shows free text, can get a font as tall as itself, and blinks while
// its owner is offline. A refresh with an unchanged value leaves the text
// alone, so the display does not flicker.
class CLibNumberStatic : public QLabel {
    Q_OBJECT

public:
    // System clock.
    explicit CLibNumberStatic(QWidget* parent = nullptr);
    explicit CLibNumberStatic(Clock& clock, QWidget* parent = nullptr);
    ~CLibNumberStatic() override;

    // Take the place of a template builder's placeholder (see
    // controls/ControlSupport.h); the placeholder's text, alignment and frame
    // are kept. False when there is no such placeholder.
    bool attach(QWidget* placeholder);
    bool attach(QWidget* parent, int controlId);

    // A fitted font is fitted again to the row's widest texts.
    bool SetParameterId(std::uint8_t row);
    void SetValue(float value) { logic_.SetValue(value); }
    void SetText(const std::string& text) { logic_.SetText(text); }
    void SetText(const QString& text) { logic_.SetText(text.toStdString()); }
    void ClearValue() { logic_.ClearValue(); }
    void Blink() { logic_.Blink(); }
    // A font of face "MS Sans Serif" (its stand-in where it is missing),
    // normal weight, whose character height is the client height, or less
    // where the row's widest texts ("-999.999", "???.???" with the row's
    // decimals) would not fit the client width otherwise. The text is
    // centred vertically and keeps its horizontal alignment. The font is
    // fitted again whenever the size or the row changes.
    void CreateFittedFont();
    bool hasFittedFont() const { return fitted_; }

    bool hasValue() const { return logic_.hasValue(); }
    float value() const { return logic_.value(); }
    bool blinkOn() const { return logic_.blinkOn(); }
    std::uint8_t parameterId() const { return logic_.parameterId(); }

    // Forms that colour their children themselves turn the display's own
    // green-on-black (and its blinking background) off; on by default.
    void setOwnColors(bool on);
    bool ownColors() const { return ownColors_; }

    NumberStaticLogic& logic() { return logic_; }

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    class Host;
    struct Defaults {};
    CLibNumberStatic(Defaults, Clock* clock, QWidget* parent);
    void applyColors();
    void fitFont();

    std::unique_ptr<SystemClock> ownClock_;
    std::unique_ptr<Host> host_;
    NumberStaticLogic logic_;
    bool ownColors_ = true;
    bool fitted_ = false;
};
