#include "controls/text_progress.h"

#include <QPaintDevice>
#include <QPaintEvent>
#include <QPainter>

#include "controls/skin_math.h"

namespace tessaly::controls {

CMemDC::CMemDC(QPainter& target, const QRect& area) : m_pTargetDC(&target), m_rcArea(area) {
  QPaintDevice* device = target.device();
  if (device == nullptr || device->devType() == QInternal::Printer || area.isEmpty()) {
    return;
  }
  const qreal ratio = device->devicePixelRatioF();
  m_bitmap = QPixmap(area.size() * ratio);
  if (m_bitmap.isNull()) {
    return;
  }
  m_bitmap.setDevicePixelRatio(ratio);
  m_painter = std::make_unique<QPainter>(&m_bitmap);
  // Drawing keeps the target's coordinates.
  m_painter->translate(-area.topLeft());
  m_bOffscreen = true;
}

CMemDC::~CMemDC() {
  if (!m_bOffscreen) {
    return;
  }
  m_painter->end();
  m_pTargetDC->drawPixmap(m_rcArea.topLeft(), m_bitmap);
}

QPainter& CMemDC::Painter() {
  return m_bOffscreen ? *m_painter : *m_pTargetDC;
}

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent)
    : QWidget(parent),
      m_clrBar(palette().color(QPalette::Active, QPalette::Highlight)),
      m_clrTrack(palette().color(QPalette::Active, QPalette::Dark)),
      m_clrTextOnTrack(palette().color(QPalette::Active, QPalette::ButtonText)),
      m_clrTextOnBar(palette().color(QPalette::Active, QPalette::Base)) {
  // Painting covers the whole client area; nothing needs erasing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CTextProgressCtrl::~CTextProgressCtrl() = default;

int CTextProgressCtrl::SetPosition(int position) {
  const int previous = m_nPosition;
  m_nPosition = position;
  const int barWidth = FilledWidth(m_nPosition, m_nLower, m_nUpper, width());
  if (barWidth != m_nLastBarWidth) {
    m_nLastBarWidth = barWidth;
    ++m_nRepaintRequests;
    repaint();
  }
  return previous;
}

void CTextProgressCtrl::SetBounds(int lower, int upper) {
  m_nLower = lower;
  m_nUpper = upper;
}

void CTextProgressCtrl::SetText(const QString& text) {
  if (text == m_strBarText) {
    return;
  }
  m_strBarText = text;
  ++m_nRepaintRequests;
  update();
}

int CTextProgressCtrl::GetText(char16_t* buffer, int bufferChars) const {
  return CopyTextToBuffer(
      std::u16string_view(reinterpret_cast<const char16_t*>(m_strBarText.utf16()),
                          static_cast<size_t>(m_strBarText.size())),
      buffer, bufferChars);
}

QString CTextProgressCtrl::DisplayText() const {
  if (!m_strBarText.isEmpty()) {
    return m_strBarText;
  }
  return QString::fromStdString(PercentText(m_nPosition, m_nLower, m_nUpper));
}

QSize CTextProgressCtrl::sizeHint() const {
  return QSize(200, fontMetrics().height() + 6);
}

void CTextProgressCtrl::paintEvent(QPaintEvent* event) {
  QPainter target(this);
  const QRect client = rect();
  if (m_nLower >= m_nUpper) {
    // An empty range has no bar; show the bare track rather than stale pixels.
    target.fillRect(event->rect(), m_clrTrack);
    return;
  }

  CMemDC mem(target, event->rect());
  QPainter& dc = mem.Painter();
  const int barRight = client.left() + FilledWidth(m_nPosition, m_nLower, m_nUpper, client.width());
  const QRect bar(client.left(), client.top(), barRight - client.left(), client.height());
  const QRect track(barRight, client.top(), client.left() + client.width() - barRight,
                    client.height());
  dc.fillRect(bar, m_clrBar);
  dc.fillRect(track, m_clrTrack);

  const QString text = DisplayText();
  const int flags = Qt::AlignCenter | Qt::TextSingleLine;
  dc.setFont(font());
  dc.setClipRect(bar);
  dc.setPen(m_clrTextOnBar);
  dc.drawText(client, flags, text);
  dc.setClipRect(track);
  dc.setPen(m_clrTextOnTrack);
  dc.drawText(client, flags, text);
}

void CTextProgressCtrl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  m_nLastBarWidth = -1;
}

}  // namespace tessaly::controls
