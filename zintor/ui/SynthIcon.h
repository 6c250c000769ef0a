// The program icon, drawn in code: a resonant saw over a dark panel. Window thread only.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace zintor {

/// The icon drawn at one square size in pixels.
QPixmap synthIconPixmap(int size);
/// The icon at the sizes a desktop asks for.
QIcon synthIcon();

} // namespace zintor
