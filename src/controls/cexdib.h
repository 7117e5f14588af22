// A small palette picture: one byte an index per pixel, a colour table of 2, 16 or 256
// entries, rows counted from the bottom as in a device-independent bitmap.
#pragma once

#include <QImage>
#include <QRgb>
#include <cstdint>

class QPainter;

namespace tessaly::controls {

class CCeXDib {
 public:
  CCeXDib() = default;
  virtual ~CCeXDib();
  CCeXDib(const CCeXDib&) = delete;
  CCeXDib& operator=(const CCeXDib&) = delete;

  // Releases the old picture, then makes a width x height picture of 1, 4 or 8 bits a pixel
  // (stored one byte a pixel) with an all-black palette and all indices 0. False, and no
  // picture, for an empty size or another depth.
  bool Create(int width, int height, int bitsPerPixel);
  // Ignored when there is no picture or the index is not below the palette size.
  void SetPaletteEntry(int index, int red, int green, int blue);
  // Moves every palette entry `percent` towards `colour`.
  void TintPalette(int percent, QRgb colour);
  // Makes this picture a copy of `other`: same size, depth, palette and pixels.
  bool CopyFrom(const CCeXDib& other);
  // Copies the whole picture to (x, y) of the target; draws nothing without a picture.
  void Draw(QPainter& target, int x, int y) const;
  void Release();

  bool IsValid() const { return !m_image.isNull(); }
  int Width() const { return m_image.width(); }
  int Height() const { return m_image.height(); }
  int BitsPerPixel() const { return m_nBitsPerPixel; }
  int PaletteSize() const { return static_cast<int>(m_image.colorCount()); }
  QRgb PaletteEntry(int index) const;
  // Pixel indices of one row, row 0 being the bottom line; null outside the picture.
  uint8_t* Row(int rowFromBottom);
  const uint8_t* Row(int rowFromBottom) const;
  // The picture as it is drawn (top row first).
  const QImage& Image() const { return m_image; }

 private:
  QImage m_image;
  int m_nBitsPerPixel = 0;
};

}  // namespace tessaly::controls
