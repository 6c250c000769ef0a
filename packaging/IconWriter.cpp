// Writes the installed icons (48 and 256 pixel PNGs and a scalable SVG for each program), painted by
// the same code that draws the windows' icons, so the desktop and the window show one picture.
#include "vexla/ui/Pictures.h"
#include "zintor/ui/SynthIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>
#include <functional>

namespace {

using Paint = std::function<void(QPainter&, int size)>;

bool writeIcons(const QDir& dir, const QString& name, const Paint& paint) {
    for (int size : {48, 256}) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paint(painter, size);
        painter.end();
        if (!image.save(dir.filePath(QString("%1-%2.png").arg(name).arg(size))))
            return false;
    }
    QSvgGenerator svg;
    svg.setFileName(dir.filePath(name + ".svg"));
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle(name);
    QPainter painter(&svg);
    paint(painter, 256);
    return painter.end();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vz_icon_writer OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    // Painting needs no screen: run wherever the build runs.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok =
        writeIcons(dir, "vexla", [](QPainter& p, int size) { vexla::paintProgramIcon(p, size); }) &&
        writeIcons(dir, "zintor", [](QPainter& p, int size) { zintor::paintSynthIcon(p, size); });
    if (!ok) {
        std::fprintf(stderr, "cannot write the icons into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
