// The program icon, drawn in code: a resonant saw over a dark panel. Window thread only.
#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace zintor {

/// Paints the icon into the square (0, 0, size, size); also what the installed icons are.
void paintSynthIcon(QPainter& painter, double size);
/// The icon drawn at one square size in pixels.
QPixmap synthIconPixmap(int size);
/// The icon at the sizes a desktop asks for.
QIcon synthIcon();

} // namespace zintor
