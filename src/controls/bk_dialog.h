// The dialog base of the main window: a dialog that can tile a pattern picture behind its
// controls. Without a pattern (the program never sets one) the background is the dialog's
// default one, and child labels stay transparent over it.
#pragma once

#include <QDialog>
#include <QPixmap>

namespace tessaly::controls {

class CBackgroundUtil {
 public:
  CBackgroundUtil() = default;
  virtual ~CBackgroundUtil();
  CBackgroundUtil(const CBackgroundUtil&) = delete;
  CBackgroundUtil& operator=(const CBackgroundUtil&) = delete;

  // Sets the pattern tiled behind the dialog; a null picture clears it.
  void SetBitmap(const QPixmap& pattern);
  bool HasBitmap() const { return !m_bmBackground.isNull(); }

 protected:
  // Tiles the pattern over `area`; false (nothing drawn) when there is no pattern.
  bool TileBitmap(QPainter& painter, const QRect& area) const;

  QPixmap m_bmBackground;
  int m_nBmpWidth = 0;
  int m_nBmpHeight = 0;
};

class CBkDialog : public QDialog, public CBackgroundUtil {
  Q_OBJECT

 public:
  explicit CBkDialog(QWidget* parent = nullptr);
  ~CBkDialog() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace tessaly::controls
