// The loop machine's pictures, drawn in code: the clip lamps, the program icon and the start picture.
// Window thread only (they paint with QPainter).
#pragma once

#include <QIcon>
#include <QPainter>
#include <QPixmap>

namespace vexla {

/// Logical size of a clip lamp in pixels.
inline constexpr int kLampWidth = 21;
inline constexpr int kLampHeight = 12;
/// Logical size of the start picture in pixels.
inline constexpr int kStartPictureWidth = 224;
inline constexpr int kStartPictureHeight = 221;

/// The clip lamp: red (lit) or green, with a dark rim and a white glint at the top left.
QPixmap clipLamp(bool lit, qreal devicePixelRatio = 1.0);

/// Paints the program icon into the square (0, 0, size, size); also what the installed icons are.
void paintProgramIcon(QPainter& painter, qreal size);
/// The program icon at the usual icon sizes.
QIcon programIcon();

/// The start picture: a ring of sixteen step pads around a looping arrow, with the program's name.
QPixmap startPicture(qreal devicePixelRatio = 1.0);

} // namespace vexla
