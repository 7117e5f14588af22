#include "controls/cexdib.h"

#include <QPainter>

#include "controls/skin_math.h"

namespace tessaly::controls {

CCeXDib::~CCeXDib() = default;

bool CCeXDib::Create(int width, int height, int bitsPerPixel) {
  Release();
  const int paletteSize = DibPaletteSize(bitsPerPixel);
  if (width <= 0 || height <= 0 || paletteSize == 0) {
    return false;
  }
  QImage image(width, height, QImage::Format_Indexed8);
  if (image.isNull()) {
    return false;
  }
  image.setColorTable(QList<QRgb>(paletteSize, qRgb(0, 0, 0)));
  image.fill(0);
  m_image = std::move(image);
  m_nBitsPerPixel = bitsPerPixel;
  return true;
}

void CCeXDib::SetPaletteEntry(int index, int red, int green, int blue) {
  if (index < 0 || index >= PaletteSize()) {
    return;
  }
  m_image.setColor(index, qRgb(red & 0xFF, green & 0xFF, blue & 0xFF));
}

void CCeXDib::TintPalette(int percent, QRgb colour) {
  QList<QRgb> table = m_image.colorTable();
  for (QRgb& entry : table) {
    entry = TintColour(entry, percent, colour);
  }
  m_image.setColorTable(table);
}

bool CCeXDib::CopyFrom(const CCeXDib& other) {
  if (&other == this) {
    return IsValid();
  }
  Release();
  if (!other.IsValid()) {
    return false;
  }
  m_image = other.m_image.copy();
  m_nBitsPerPixel = other.m_nBitsPerPixel;
  return !m_image.isNull();
}

void CCeXDib::Draw(QPainter& target, int x, int y) const {
  if (!IsValid()) {
    return;
  }
  target.drawImage(QPoint(x, y), m_image);
}

void CCeXDib::Release() {
  m_image = QImage();
  m_nBitsPerPixel = 0;
}

QRgb CCeXDib::PaletteEntry(int index) const {
  if (index < 0 || index >= PaletteSize()) {
    return 0;
  }
  return m_image.color(index);
}

uint8_t* CCeXDib::Row(int rowFromBottom) {
  if (rowFromBottom < 0 || rowFromBottom >= Height()) {
    return nullptr;
  }
  return m_image.scanLine(Height() - 1 - rowFromBottom);
}

const uint8_t* CCeXDib::Row(int rowFromBottom) const {
  if (rowFromBottom < 0 || rowFromBottom >= Height()) {
    return nullptr;
  }
  return m_image.constScanLine(Height() - 1 - rowFromBottom);
}

}  // namespace tessaly::controls
