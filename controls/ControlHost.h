#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// What the logic of a control needs from the window that shows it. The Qt
// widgets implement these; tests implement them with plain objects, so the
// logic runs without a window system.

// A colour as the controls store it.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb& a, const Rgb& b) { return a.r == b.r && a.g == b.g && a.b == b.b; }
    friend bool operator!=(const Rgb& a, const Rgb& b) { return !(a == b); }
};

inline constexpr Rgb kGreen{0, 255, 0};
inline constexpr Rgb kBlack{0, 0, 0};

class ControlHost {
public:
    virtual ~ControlHost() = default;
    // Repaints the whole control, background included.
    virtual void repaint() = 0;
};

class TextHost : public ControlHost {
public:
    virtual std::string windowText() const = 0;
    // Replaces the shown text. A field reports the change through its
    // logic's onTextChanged(), but only when the text really changed.
    virtual void setWindowText(const std::string& text) = 0;
};

class EntryHost : public TextHost {
public:
    // Characters of the text that the next typed character replaces.
    virtual std::size_t selectedLength() const = 0;
    // Gives the keyboard focus to the next control of the parent's tab order.
    virtual void moveFocusForward() = 0;
    // The caption the user sees for this entry (its label on the form, as
    // shown there, colon and all), or empty when it has none.
    virtual std::string caption() const { return {}; }
};
