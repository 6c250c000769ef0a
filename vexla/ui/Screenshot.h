// Lets the real program photograph its own window (for the user guide), under any display, even Xvfb.
// Window thread only.
#pragma once

#include <QString>

class QDialog;

namespace vexla {

/// The environment variable holding the PNG path; when set the program closes its start dialog by
/// itself, saves a picture of its main window there and quits without asking.
inline constexpr const char* kScreenshotVariable = "VZ_SCREENSHOT";

/// When also set (to anything), the picture shows the machine playing.
inline constexpr const char* kScreenshotPlayingVariable = "VZ_SCREENSHOT_PLAYING";

/// The path from the environment, or empty for a normal run.
QString screenshotPath();

/// Closes any start dialog at once, then after `delayMs` saves `window` to `path` and closes it.
void scheduleScreenshot(QDialog& window, const QString& path, int delayMs = 1500);

} // namespace vexla
