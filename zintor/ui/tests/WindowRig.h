// The rig every window test starts from: one window on a fresh engine with the fakes of FakeSynthAudio.h.
// Window thread.
#pragma once

#include "zintor/ui/tests/FakeSynthAudio.h"

#include <QLabel>
#include <QString>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace zintor {

/// One window on a fresh engine, with fakes for everything that would block or make noise, and a
/// temporary folder for the files it writes.
struct WindowRig {
    std::unique_ptr<SynthEngine> engine = std::make_unique<SynthEngine>();
    FakeSynthAudio audio;
    FakeMessageBoxes boxes;
    std::unique_ptr<SynthWindow> window;
    QTemporaryDir dir;

    explicit WindowRig(bool show = true, int deviceIndex = 0)
        : window(std::make_unique<SynthWindow>(*engine, audio, boxes, deviceIndex)) {
        if (show) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
    }
    template <typename T> T* child(const QString& name) const {
        T* found = window->findChild<T*>(name);
        if (!found)
            qFatal("no control named %s", qPrintable(name));
        return found;
    }
    SynthParams& params() { return engine->params; }
    QString status() const { return child<QLabel>("statusLabel")->text(); }
    QString file(const char* name) const { return dir.filePath(name); }
    void keys(Qt::Key key, Qt::KeyboardModifiers modifiers) { QTest::keyClick(window.get(), key, modifiers); }
    SynthState state() const { return captureState(*engine); }
};

} // namespace zintor
