// What the window benchmarks share: the one QApplication, on the offscreen platform, and a restless
// user's slider move.
#pragma once

#include "common/Random.h"

#include <QApplication>
#include <QList>
#include <QSlider>

namespace bench {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "window_bench";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}

/// Moves one of `sliders`, drawn at random, to a random position.
inline void moveRandomSlider(const QList<QSlider*>& sliders, common::Random& random) {
    QSlider* s = sliders[random.below(int(sliders.size()))];
    s->setValue(s->minimum() + random.below(s->maximum() - s->minimum() + 1));
}

} // namespace bench
