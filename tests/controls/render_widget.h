// Draws a widget, shown or not, into an image the tests (and screenshots) can read.
#pragma once

#include <QImage>

class QWidget;

namespace tessaly::controls {

// The widget as it paints itself, with its children, as 32-bit ARGB.
QImage RenderWidget(QWidget& widget);

}  // namespace tessaly::controls
