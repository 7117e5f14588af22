#include "render_widget.h"

#include <QPixmap>
#include <QWidget>

namespace tessaly::controls {

QImage RenderWidget(QWidget& widget) {
  widget.ensurePolished();
  return widget.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace tessaly::controls
