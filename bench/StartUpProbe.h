// Start-up timing helpers: one offscreen application per process, and a wait for a window's first
// paint. Window thread only.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QWidget>
#include <benchmark/benchmark.h>
#include <chrono>

namespace bench {

inline QApplication& application(const char* name) {
    static int argc = 1;
    static char* argv[] = {const_cast<char*>(name), nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

/// Notes the first paint event a widget receives.
class PaintWatch : public QObject {
  public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

/// Shows `window` and runs the event loop until it has painted (at most 5 s).
inline void showAndWaitForPaint(QWidget& window) {
    PaintWatch watch;
    window.installEventFilter(&watch);
    window.show();
    QElapsedTimer timer;
    timer.start();
    while (!watch.painted && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    window.removeEventFilter(&watch);
}

} // namespace bench
