#include "controls/skin_math.h"

#include <algorithm>
#include <cstdio>

namespace tessaly::controls {

namespace {

int Blend128(int from, int to, int steps) {
  return ((128 - steps) * from + steps * to) / 128;
}

SkinRgb BlendRgb128(SkinRgb from, SkinRgb to, int steps) {
  return MakeSkinRgb(Blend128(RedOf(from), RedOf(to), steps),
                     Blend128(GreenOf(from), GreenOf(to), steps),
                     Blend128(BlueOf(from), BlueOf(to), steps));
}

unsigned TintChannel(unsigned channel, unsigned percent, unsigned target) {
  return (channel * (100u - percent) + percent * target) / 100u;
}

}  // namespace

ShadePalette BuildShadePalette(SkinRgb highlight, SkinRgb face, SkinRgb shadow) {
  ShadePalette palette{};
  for (int i = 0; i <= 128; ++i) {
    palette[static_cast<size_t>(i)] = BlendRgb128(shadow, face, i);
  }
  for (int t = 1; t <= 128; ++t) {
    palette[static_cast<size_t>(127 + t)] = BlendRgb128(face, highlight, t);
  }
  return palette;
}

SkinRgb TintColour(SkinRgb entry, int percent, SkinRgb colour) {
  const unsigned p = static_cast<unsigned>(std::clamp(percent, 0, 100));
  return MakeSkinRgb(static_cast<int>(TintChannel(static_cast<unsigned>(RedOf(entry)), p,
                                                  static_cast<unsigned>(RedOf(colour)))),
                     static_cast<int>(TintChannel(static_cast<unsigned>(GreenOf(entry)), p,
                                                  static_cast<unsigned>(GreenOf(colour)))),
                     static_cast<int>(TintChannel(static_cast<unsigned>(BlueOf(entry)), p,
                                                  static_cast<unsigned>(BlueOf(colour)))));
}

int GreyLevel(int red, int green, int blue) {
  const double grey = 0.587 * green + 0.299 * red + 0.114 * blue;
  return static_cast<uint8_t>(static_cast<int>(grey));
}

int ShadeBaseValue(int rowFromBottom, int height) {
  if (height <= 0) {
    return 0;
  }
  return static_cast<int>(static_cast<int64_t>(rowFromBottom) * 239 / height);
}

uint8_t ShadePixel(int base, int noise) {
  const int q = noise / 2047;
  return static_cast<uint8_t>((base + 8) + (q - 8));
}

int ShadeNoise::Next() {
  m_state = m_state * 214013u + 2531011u;
  return static_cast<int>((m_state >> 16) & 0x7FFFu);
}

int DibRowStride(int width, int bitsPerPixel) {
  if (width <= 0 || bitsPerPixel <= 0) {
    return 0;
  }
  return static_cast<int>((static_cast<int64_t>(width) * bitsPerPixel + 31) / 32 * 4);
}

int DibPaletteSize(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1:
      return 2;
    case 4:
      return 16;
    case 8:
      return 256;
    default:
      return 0;
  }
}

double BarFraction(int position, int lower, int upper) {
  if (lower >= upper) {
    return 0.0;
  }
  // In double so that a range wider than 2^31 cannot overflow.
  const double fraction = (static_cast<double>(position) - lower) /
                          (static_cast<double>(upper) - static_cast<double>(lower));
  return std::clamp(fraction, 0.0, 1.0);
}

int FilledWidth(int position, int lower, int upper, int clientWidth) {
  return static_cast<int>(BarFraction(position, lower, upper) * std::max(clientWidth, 0));
}

std::string PercentText(int position, int lower, int upper) {
  char text[16];
  std::snprintf(text, sizeof text, "%d%%",
                static_cast<int>(BarFraction(position, lower, upper) * 100));
  return text;
}

int CopyTextToBuffer(std::u16string_view text, char16_t* buffer, int bufferChars) {
  if (buffer == nullptr || bufferChars <= 0) {
    return 0;
  }
  const size_t count = std::min(text.size(), static_cast<size_t>(bufferChars) - 1);
  std::copy_n(text.data(), count, buffer);
  buffer[count] = u'\0';
  return static_cast<int>(count);
}

}  // namespace tessaly::controls
