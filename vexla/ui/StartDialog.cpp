// The start dialog's layout.
#include "vexla/ui/StartDialog.h"

#include "vexla/ui/DialogUnits.h"
#include "vexla/ui/Pictures.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace vexla {

StartDialog::StartDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("startDialog"));
    setWindowTitle(QStringLiteral("Vexla"));
    setModal(true);
    const DialogUnits du(font());
    setFixedSize(du.x(149), du.y(150));
    // It opens before the main window has a place of its own, and frameless no window manager places
    // it: centre it on the screen, or it would sit in the corner where the unshown window stands.
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    setStyleSheet(QStringLiteral("QDialog#startDialog { background: #08060f; }"));

    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("startPicture"));
    picture->setAccessibleName(QStringLiteral("Vexla loop machine"));
    picture->setAlignment(Qt::AlignCenter);
    picture->setPixmap(startPicture(devicePixelRatioF()));
    picture->setGeometry(0, 0, width(), du.y(136));

    auto* start = new QPushButton(QStringLiteral("Start"), this);
    start->setObjectName(QStringLiteral("startButton"));
    start->setAccessibleName(start->text());
    start->setDefault(true);
    start->setGeometry(0, du.y(136), width(), height() - du.y(136));
    connect(start, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace vexla
