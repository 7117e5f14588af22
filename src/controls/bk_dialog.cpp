#include "controls/bk_dialog.h"

#include <QPaintEvent>
#include <QPainter>

#include "controls/resources.h"

namespace tessaly::controls {

CBackgroundUtil::~CBackgroundUtil() = default;

void CBackgroundUtil::SetBitmap(const QPixmap& pattern) {
  m_bmBackground = pattern;
  const QSize size = pattern.isNull() ? QSize() : pattern.deviceIndependentSize().toSize();
  m_nBmpWidth = size.isValid() ? size.width() : 0;
  m_nBmpHeight = size.isValid() ? size.height() : 0;
}

bool CBackgroundUtil::TileBitmap(QPainter& painter, const QRect& area) const {
  if (m_bmBackground.isNull() || m_nBmpWidth <= 0 || m_nBmpHeight <= 0) {
    return false;
  }
  painter.drawTiledPixmap(area, m_bmBackground, area.topLeft());
  return true;
}

CBkDialog::CBkDialog(QWidget* parent) : QDialog(parent) {
  // The window that derives from this base shows the program's pictures.
  EnsureTessalyResources();
}

CBkDialog::~CBkDialog() = default;

void CBkDialog::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (!TileBitmap(painter, event->rect())) {
    painter.end();
    QDialog::paintEvent(event);
  }
}

}  // namespace tessaly::controls
