#include "controls/shade_button.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>

#include "controls/resources.h"
#include "controls/skin_math.h"

namespace tessaly::controls {

namespace {

QSize IconSize(const QPixmap& icon) {
  return icon.deviceIndependentSize().toSize();
}

QPixmap IconPixmap(const QIcon& icon) {
  return icon.isNull() ? QPixmap() : icon.pixmap(QSize(kButtonIconSize, kButtonIconSize));
}

}  // namespace

QPixmap MakeGreyIcon(const QPixmap& icon) {
  if (icon.isNull()) {
    return QPixmap();
  }
  // Straight (not premultiplied) alpha, so the colours read are the icon's own.
  QImage image = icon.toImage().convertToFormat(QImage::Format_ARGB32);
  if (image.isNull()) {
    return QPixmap();
  }
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb pixel = line[x];
      if ((pixel & 0x00FFFFFFu) == 0) {
        continue;
      }
      const int grey = GreyLevel(qRed(pixel), qGreen(pixel), qBlue(pixel));
      line[x] = qRgba(grey, grey, grey, qAlpha(pixel));
    }
  }
  QPixmap grey = QPixmap::fromImage(image);
  grey.setDevicePixelRatio(icon.devicePixelRatio());
  return grey;
}

CButtonST::CButtonST(QWidget* parent) : QPushButton(parent) {
  // Hover is followed on every move, not only while a button is held.
  setMouseTracking(true);
  // The window that holds these buttons takes its pictures from the library's resources.
  EnsureTessalyResources();
}

CButtonST::~CButtonST() = default;

void CButtonST::ReleaseIcons() {
  m_iconIn = QPixmap();
  m_iconOut = QPixmap();
  m_iconDisabled = QPixmap();
}

int CButtonST::AssignIcons(const QPixmap& in, const QPixmap& out) {
  ReleaseIcons();
  if (!in.isNull()) {
    m_iconIn = in;
    m_iconOut = out;
    m_iconDisabled = MakeGreyIcon(out.isNull() ? in : out);
    if (m_iconDisabled.isNull()) {
      ReleaseIcons();
      update();
      return 1;
    }
  }
  update();
  return 0;
}

int CButtonST::AssignIcons(const QPixmap& in, AutoGreyIcon) {
  if (in.isNull()) {
    return AssignIcons(in, QPixmap());
  }
  const QPixmap grey = MakeGreyIcon(in);
  if (grey.isNull()) {
    ReleaseIcons();
    update();
    return 1;
  }
  return AssignIcons(in, grey);
}

int CButtonST::SetIcons(const QIcon& in, const QIcon& out) {
  return AssignIcons(IconPixmap(in), IconPixmap(out));
}

int CButtonST::SetIcons(const QIcon& in, AutoGreyIcon) {
  return AssignIcons(IconPixmap(in), AUTO_GREY_ICON);
}

const QPixmap& CButtonST::CurrentIcon() const {
  if (m_iconIn.isNull()) {
    return m_iconIn;
  }
  if (!isEnabled()) {
    return m_iconDisabled;
  }
  if (isDown() || m_bHover || m_iconOut.isNull()) {
    return m_iconIn;
  }
  return m_iconOut;
}

void CButtonST::PaintBackground(QPainter& painter, const QRect& rect) {
  painter.fillRect(rect, palette().color(QPalette::Button));
}

void CButtonST::PaintBorder(QPainter& painter, const QRect& rect) {
  QColor light = palette().color(QPalette::Light);
  QColor dark = palette().color(QPalette::Dark);
  if (m_bPressed) {
    std::swap(light, dark);
  }
  const int x = rect.x();
  const int y = rect.y();
  const int cx = rect.width();
  const int cy = rect.height();
  painter.fillRect(x, y, cx - 1, 1, light);
  painter.fillRect(x, y, 1, cy - 1, light);
  painter.fillRect(x + cx - 1, y, 1, cy, dark);
  painter.fillRect(x, y + cy - 1, cx, 1, dark);
}

void CButtonST::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  m_bPressed = isDown();
  m_bDisabled = !isEnabled();
  const QRect item = rect();

  PaintBackground(painter, item);
  if (m_bPressed || m_bHover) {
    PaintBorder(painter, item);
  }

  QRect caption = item;
  const QPixmap& icon = CurrentIcon();
  if (!icon.isNull()) {
    const QSize size = IconSize(icon);
    int left = item.left() + 3;
    const int top = item.top() + (item.height() - size.height()) / 2;
    if (text().isEmpty()) {
      left = item.left() + (item.width() - size.width()) / 2;
    } else {
      caption.setLeft(caption.left() + size.width() + 3);
    }
    const int shift = m_bPressed ? 1 : 0;
    painter.save();
    painter.setClipRect(item);
    painter.drawPixmap(left + shift, top + shift, icon);
    painter.restore();
  }

  if (!text().isEmpty()) {
    DrawCaption(painter, caption);
  }
  // No focus rectangle, whatever the keyboard focus.
}

void CButtonST::DrawCaption(QPainter& painter, QRect captionRect) {
  if (m_bPressed) {
    captionRect.translate(1, 1);
  }
  const int flags = Qt::TextWordWrap | Qt::AlignHCenter;
  const QSize textSize = painter.fontMetrics().boundingRect(captionRect, flags, text()).size();
  QRect textRect(captionRect.topLeft(), textSize);
  textRect.translate((captionRect.width() - textRect.width()) / 2,
                     (captionRect.height() - textRect.height()) / 2);
  if (m_bDisabled) {
    painter.setPen(palette().color(QPalette::Light));
    painter.drawText(textRect.translated(1, 1), flags, text());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawText(textRect, flags, text());
  } else {
    painter.setPen(palette().color(QPalette::ButtonText));
    painter.drawText(textRect, flags, text());
  }
}

void CButtonST::SetHover(bool hover) {
  if (m_bHover == hover) {
    return;
  }
  m_bHover = hover;
  update();
}

void CButtonST::enterEvent(QEnterEvent* event) {
  QPushButton::enterEvent(event);
  // Pressing elsewhere and dragging onto the button does not light it.
  if (!isEnabled() || (QGuiApplication::mouseButtons() & Qt::LeftButton)) {
    return;
  }
  SetHover(true);
}

void CButtonST::leaveEvent(QEvent* event) {
  QPushButton::leaveEvent(event);
  SetHover(false);
}

void CButtonST::mouseMoveEvent(QMouseEvent* event) {
  QPushButton::mouseMoveEvent(event);
  if ((event->buttons() & Qt::LeftButton) && !m_bHover) {
    return;
  }
  SetHover(isEnabled() && rect().contains(event->position().toPoint()));
}

void CButtonST::mouseDoubleClickEvent(QMouseEvent* event) {
  // A double click is a second press, so two quick clicks give two clicks. Where the
  // platform has already delivered that press, the button is down and nothing is added.
  if (event->button() == Qt::LeftButton && !isDown()) {
    mousePressEvent(event);
    return;
  }
  event->accept();
}

void CButtonST::focusOutEvent(QFocusEvent* event) {
  QPushButton::focusOutEvent(event);
  SetHover(false);
}

void CButtonST::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  if ((event->type() == QEvent::EnabledChange && !isEnabled()) ||
      (event->type() == QEvent::ActivationChange && !isActiveWindow())) {
    SetHover(false);
  }
}

CShadeButtonST::CShadeButtonST(QWidget* parent) : CButtonST(parent) {}

CShadeButtonST::~CShadeButtonST() = default;

void CShadeButtonST::BuildShades() {
  m_dibHover.Release();
  const int w = width();
  const int h = height();
  if (!m_dibNormal.Create(w, h, 8)) {
    return;
  }
  const QRgb highlight = palette().color(QPalette::Active, QPalette::Light).rgb();
  const QRgb face = palette().color(QPalette::Active, QPalette::Button).rgb();
  const QRgb shadow = palette().color(QPalette::Active, QPalette::Dark).rgb();

  const ShadePalette entries = BuildShadePalette(highlight, face, shadow);
  for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
    const SkinRgb c = entries[static_cast<size_t>(i)];
    m_dibNormal.SetPaletteEntry(i, RedOf(c), GreenOf(c), BlueOf(c));
  }
  m_dibNormal.TintPalette(kShadeTintPercent, kShadeTintColour);

  ShadeNoise noise;
  for (int r = 0; r < h; ++r) {
    uint8_t* row = m_dibNormal.Row(r);
    const int base = ShadeBaseValue(r, h);
    for (int x = 0; x < w; ++x) {
      row[x] = ShadePixel(base, noise.Next());
    }
  }

  if (m_dibHover.CopyFrom(m_dibNormal)) {
    m_dibHover.TintPalette(kHoverTintPercent, highlight);
  }
}

void CShadeButtonST::PaintBackground(QPainter& painter, const QRect& rect) {
  if (!m_dibNormal.IsValid() || !m_dibHover.IsValid()) {
    CButtonST::PaintBackground(painter, rect);
    return;
  }
  if (!m_bHover) {
    m_dibNormal.Draw(painter, 0, 0);
  } else if (m_bPressed) {
    // The shifted picture leaves its first row and column to the face colour.
    CButtonST::PaintBackground(painter, rect);
    m_dibHover.Draw(painter, 1, 1);
  } else {
    m_dibHover.Draw(painter, 0, 0);
  }
}

}  // namespace tessaly::controls
