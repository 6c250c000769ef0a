// The program's self-portrait for the user guide.
#include "vexla/ui/Screenshot.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QTimer>
#include <cstdio>

namespace vexla {

QString screenshotPath() {
    return qEnvironmentVariable(kScreenshotVariable);
}

void scheduleScreenshot(QDialog& window, const QString& path, int delayMs) {
    auto* closer = new QTimer(&window);
    closer->setInterval(100);
    QObject::connect(closer, &QTimer::timeout, &window, [&window, closer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* dialog = qobject_cast<QDialog*>(modal); dialog != nullptr && dialog != &window) {
            dialog->accept();
            closer->stop();
        }
    });
    closer->start();
    // A picture of the machine playing: press "Run" once the window shows, then wait two bars.
    if (!qEnvironmentVariableIsEmpty(kScreenshotPlayingVariable)) {
        QTimer::singleShot(300, &window, [&window] {
            if (auto* run = window.findChild<QAbstractButton*>(QStringLiteral("runButton")))
                run->click();
        });
        delayMs += 3000;
    }
    QTimer::singleShot(delayMs, &window, [&window, path] {
        const bool saved = window.grab().save(path, "PNG");
        std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "Saved" : "Could not save",
                     qPrintable(path));
        window.done(saved ? 0 : 1);
    });
}

} // namespace vexla
