// Flat icon buttons drawn by the program: an icon at the left, a centred caption, a raised
// edge under the pointer and a sunken one while pressed. CShadeButtonST adds a shaded,
// slightly blue, noisy gradient behind it, one shade lighter under the pointer.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QPushButton>

#include "controls/cexdib.h"

namespace tessaly::controls {

// Given as the out icon, asks for a grey copy of the in icon.
struct AutoGreyIcon {};
inline constexpr AutoGreyIcon AUTO_GREY_ICON{};

// A grey copy of an icon, same size and transparency: every pixel that is not black gets
// GreyLevel of its colour in all three channels; black stays black. Null for a null icon.
QPixmap MakeGreyIcon(const QPixmap& icon);

class CButtonST : public QPushButton {
  Q_OBJECT

 public:
  explicit CButtonST(QWidget* parent = nullptr);
  ~CButtonST() override;

  // The in icon is drawn while the button is pressed or under the pointer, the out icon at
  // other times (the in icon when there is no out icon). A null in icon leaves the button
  // without icons. Returns 0 on success, 1 on failure (the button then has no icons).
  int AssignIcons(const QPixmap& in, const QPixmap& out = QPixmap());
  int AssignIcons(const QPixmap& in, AutoGreyIcon);
  // The same from icons, taken at the button icon size (kButtonIconSize). A null out icon
  // means the in icon in every state; AUTO_GREY_ICON asks for the grey copy.
  int SetIcons(const QIcon& in, const QIcon& out = QIcon());
  int SetIcons(const QIcon& in, AutoGreyIcon);

  bool IsHover() const { return m_bHover; }
  const QPixmap& IconIn() const { return m_iconIn; }
  const QPixmap& IconOut() const { return m_iconOut; }
  // The icon the button shows now (in, out or the disabled grey copy); null when none.
  const QPixmap& CurrentIcon() const;

 protected:
  virtual void PaintBackground(QPainter& painter, const QRect& rect);
  virtual void PaintBorder(QPainter& painter, const QRect& rect);

  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;

  bool m_bHover = false;
  bool m_bPressed = false;
  bool m_bDisabled = false;

 private:
  void ReleaseIcons();
  void SetHover(bool hover);
  void DrawCaption(QPainter& painter, QRect captionRect);

  QPixmap m_iconIn;
  QPixmap m_iconOut;
  QPixmap m_iconDisabled;  // grey copy of the icon shown when not hovered
};

class CShadeButtonST : public CButtonST {
  Q_OBJECT

 public:
  explicit CShadeButtonST(QWidget* parent = nullptr);
  ~CShadeButtonST() override;

  // Builds the normal and hover shadings for the button's present size from the palette's
  // light, button and dark colours. Built once: later size or colour changes keep them.
  void BuildShades();

  const CCeXDib& NormalShade() const { return m_dibNormal; }
  const CCeXDib& HoverShade() const { return m_dibHover; }

 protected:
  void PaintBackground(QPainter& painter, const QRect& rect) override;

 private:
  CCeXDib m_dibNormal;
  CCeXDib m_dibHover;
};

}  // namespace tessaly::controls
