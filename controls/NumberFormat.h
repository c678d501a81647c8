#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Number rules shared by the numeric entries and displays.
namespace numberformat {

// The single-precision value that stands for a missing reading (bit pattern
// 0x4479FFF0); every numeric control shows it as "???.???".
inline constexpr float kNoReading = 999.999f;
inline constexpr const char* kNoReadingText = "???.???";

// The text of a value as an entry or display shows it: "???.???" for the
// no-reading value, otherwise three decimals when unbound (row 255) or the
// row's decimals, in each case trimmed and framed by one space on each side.
std::string displayText(std::uint8_t row, float value);

// The widest texts that displayText() gives for the row: the no-reading text
// and the most negative value of the 8-character field, -999.999, with the
// row's decimals (which may round it up to "-1000.0").
std::vector<std::string> widestTexts(std::uint8_t row);

// The text read as a number (leading blanks skipped, the longest decimal
// prefix used, 0 without one), narrowed to single precision and clamped to
// -999.9 ... 999.9.
float clampedValue(const std::string& text);

// The text read as an integer (leading blanks, optional sign, leading
// digits; 0 without digits). Saturates at the int range.
int integerValue(const std::string& text);

// The spin position of a value for a row: scale × value rounded half away
// from zero. Values whose position does not fit an int give the nearest int;
// a value that is not a number gives 0.
int spinPosition(std::uint8_t row, float value);

// The font a display asks for to fill its client height: face, weight and
// a negative height, which requests a character height (not cell height).
struct FontRequest {
    std::string face;
    int weight;
    int height;
};
FontRequest fittedFontRequest(int clientHeight);

} // namespace numberformat
