// The arithmetic of the skinned controls: button shading palettes, tints, grey levels,
// the shading noise, and the progress bar's filled width and percentage. Plain functions
// without Qt, so they are tested without a screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tessaly::controls {

// A colour as 0xAARRGGBB, the layout of QRgb.
using SkinRgb = uint32_t;

constexpr SkinRgb MakeSkinRgb(int red, int green, int blue) {
  return 0xFF000000u | (static_cast<uint32_t>(red & 0xFF) << 16) |
         (static_cast<uint32_t>(green & 0xFF) << 8) | static_cast<uint32_t>(blue & 0xFF);
}
constexpr int RedOf(SkinRgb c) {
  return static_cast<int>((c >> 16) & 0xFF);
}
constexpr int GreenOf(SkinRgb c) {
  return static_cast<int>((c >> 8) & 0xFF);
}
constexpr int BlueOf(SkinRgb c) {
  return static_cast<int>(c & 0xFF);
}

// The colour every shading palette is tinted towards first, and by how much.
inline constexpr SkinRgb kShadeTintColour = MakeSkinRgb(55, 55, 255);
inline constexpr int kShadeTintPercent = 5;
// How far the hover shading moves towards the highlight colour.
inline constexpr int kHoverTintPercent = 20;

using ShadePalette = std::array<SkinRgb, 256>;

// The 256-entry gradient of a shaded button: shadow at 0, face at 128, highlight at 255,
// per channel with integer division. Entry 128 is written twice; the second value,
// (127 x face + highlight) / 128, is the one kept.
ShadePalette BuildShadePalette(SkinRgb highlight, SkinRgb face, SkinRgb shadow);

// One palette entry moved `percent` towards `colour`, per channel with unsigned integer
// division. Percentages outside 0..100 are clamped so a channel can never wrap.
SkinRgb TintColour(SkinRgb entry, int percent, SkinRgb colour);

// The grey level of a colour: 0.587 green + 0.299 red + 0.114 blue, summed in that order
// in double precision and truncated.
int GreyLevel(int red, int green, int blue);

// Base palette index of a shading row counted from the bottom: (row x 239) / height.
// A height of 0 or less gives 0.
int ShadeBaseValue(int rowFromBottom, int height);

// The palette index of one shading pixel: the base plus noise / 2047, so 0 to 16 steps of
// noise on top of the gradient.
uint8_t ShadePixel(int base, int noise);

// The noise source of the shading: a fixed linear congruential generator giving 0 to 32767,
// never seeded from outside, so every start draws the same shading.
class ShadeNoise {
 public:
  int Next();

 private:
  uint32_t m_state = 1;
};

// Bytes per row of a device-independent bitmap, rounded up to whole 32-bit words.
int DibRowStride(int width, int bitsPerPixel);
// Palette entries for a bit depth: 2, 16 or 256 for 1, 4 or 8 bits, otherwise 0.
int DibPaletteSize(int bitsPerPixel);

// Share of the range that `position` has reached, clamped to 0..1 so positions outside the
// range neither overflow the filled width nor show a negative or oversized percentage.
// An empty range (lower not below upper) gives 0.
double BarFraction(int position, int lower, int upper);
// Filled width in pixels: the fraction times the client width, truncated towards zero.
int FilledWidth(int position, int lower, int upper, int clientWidth);
// The percentage text drawn when the bar has no text of its own, e.g. "25%"; truncated.
std::string PercentText(int position, int lower, int upper);

// Copies `text` into a buffer of `bufferChars` characters, cut so that the terminating zero
// fits, and returns the number of characters copied without the terminator. A buffer of
// no characters (or no buffer) receives nothing and gives 0.
int CopyTextToBuffer(std::u16string_view text, char16_t* buffer, int bufferChars);

}  // namespace tessaly::controls
