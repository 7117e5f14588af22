#include "controls/resources.h"

#include <QPainter>
#include <QSvgRenderer>

// Must stand outside any namespace.
static void InitTessalyResource() {
  Q_INIT_RESOURCE(tessaly);
}

namespace tessaly::controls {

void EnsureTessalyResources() {
  static const bool registered = [] {
    InitTessalyResource();
    return true;
  }();
  (void)registered;
}

QPixmap RenderSvgPixmap(const QString& path, const QSize& size) {
  EnsureTessalyResources();
  if (size.isEmpty()) {
    return QPixmap();
  }
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) {
    return QPixmap();
  }
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter);
  painter.end();
  return QPixmap::fromImage(image);
}

QPixmap LoadIconPixmap(const QString& path) {
  return RenderSvgPixmap(path, QSize(kButtonIconSize, kButtonIconSize));
}

}  // namespace tessaly::controls
