// The program's own pictures, compiled into the controls library.
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

namespace tessaly::controls {

inline constexpr const char* kIconApp = ":/icons/app.svg";          // application
inline constexpr const char* kIconClose = ":/icons/close.svg";      // Close button
inline constexpr const char* kIconUpdate = ":/icons/update.svg";    // Update button
inline constexpr const char* kIconOpen = ":/icons/open.svg";        // Open button
inline constexpr const char* kIconSetting = ":/icons/setting.svg";  // Setting button
inline constexpr const char* kBanner = ":/banner.svg";              // top of the main window

// The size a button icon is loaded at.
inline constexpr int kButtonIconSize = 32;
// The banner's own size in pixels: the 283 x 134 dialog units of its area at the
// usual 1.5 x 1.625 pixels a unit.
inline constexpr QSize kBannerSize{425, 218};

// Registers the pictures with Qt's resource system; any number of calls. Needed because
// the controls are a static library, whose resource registration the linker would drop.
void EnsureTessalyResources();

// A picture drawn from an SVG resource (or file) at `size`; null when it cannot be read.
QPixmap RenderSvgPixmap(const QString& path, const QSize& size);
// A button icon at kButtonIconSize.
QPixmap LoadIconPixmap(const QString& path);

}  // namespace tessaly::controls
