// The progress bar that keeps its own position and range and writes a text across
// itself: the text last given to it, or the percentage when it has none. The text changes
// colour where it crosses the edge of the filled part. Painted off screen, so it does not
// flicker while the update and the download drive it many times a second.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>

class QPainter;

namespace tessaly::controls {

// Stands in for a target painter over `area` (in the target's coordinates): drawing goes
// to an off-screen picture that is copied to the target when this object ends. A printer
// target is drawn on directly.
class CMemDC {
 public:
  CMemDC(QPainter& target, const QRect& area);
  ~CMemDC();
  CMemDC(const CMemDC&) = delete;
  CMemDC& operator=(const CMemDC&) = delete;

  QPainter& Painter();
  bool IsOffscreen() const { return m_bOffscreen; }

 private:
  QPixmap m_bitmap;
  QPainter* m_pTargetDC;  // not owned
  QRect m_rcArea;
  bool m_bOffscreen = false;
  std::unique_ptr<QPainter> m_painter;
};

// The bar does not derive from QProgressBar: its own position and range are the only
// ones, and a second, unused pair would invite callers to set the wrong one.
class CTextProgressCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CTextProgressCtrl(QWidget* parent = nullptr);
  ~CTextProgressCtrl() override;

  // Stores the position and returns the previous one. Redraws at once, but only when the
  // filled width in pixels has changed since the last redraw.
  int SetPosition(int position);
  int GetPosition() const { return m_nPosition; }
  // Stores the range without redrawing; callers follow it with SetPosition.
  void SetBounds(int lower, int upper);
  int GetLower() const { return m_nLower; }
  int GetUpper() const { return m_nUpper; }

  // The bar's text; an empty text brings the percentage back. Repaints only on a change.
  void SetText(const QString& text);
  QString GetText() const { return m_strBarText; }
  // Copies the text into a buffer of `bufferChars` characters, cut so that the terminating
  // zero fits; returns the characters copied without the terminator.
  int GetText(char16_t* buffer, int bufferChars) const;
  // What the bar shows now: its text, or the percentage when the text is empty.
  QString DisplayText() const;

  // How many redraws the bar has asked for, for checking that it redraws only on change.
  int RepaintRequests() const { return m_nRepaintRequests; }
  int LastBarWidth() const { return m_nLastBarWidth; }

  QColor BarColour() const { return m_clrBar; }
  QColor TrackColour() const { return m_clrTrack; }
  QColor TextOnTrackColour() const { return m_clrTextOnTrack; }
  QColor TextOnBarColour() const { return m_clrTextOnBar; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int m_nPosition = 0;
  int m_nUpper = 100;
  int m_nLower = 0;
  QString m_strBarText;
  int m_nLastBarWidth = -1;  // -1 forces the next redraw
  QColor m_clrBar;
  QColor m_clrTrack;
  QColor m_clrTextOnTrack;
  QColor m_clrTextOnBar;
  int m_nRepaintRequests = 0;
};

}  // namespace tessaly::controls
