// The About box's layout.
#include "vexla/ui/AboutDialog.h"

#include "vexla/ui/DialogUnits.h"
#include "vexla/ui/Pictures.h"

#include <QLabel>
#include <QPushButton>

namespace vexla {

AboutDialog::AboutDialog(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About - Vexla -"));
    const DialogUnits du(font());
    setFixedSize(du.x(200), du.y(66));

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setPixmap(programIcon().pixmap(32, 32));
    icon->setGeometry(du.rect(8, 8, 24, 24));

    const struct {
        const char* name;
        const char* text;
        int top;
    } lines[] = {
        {"releaseLabel", "Vexla Release 6", 8},
        {"groupLabel", "A loop machine from the Vexla group", 20},
        {"authorsLabel", "Made by the Vexla and Zintor authors", 30},
    };
    for (const auto& line : lines) {
        auto* label = new QLabel(QString::fromUtf8(line.text), this);
        label->setObjectName(QString::fromUtf8(line.name));
        label->setGeometry(du.rect(40, line.top, 152, 10));
    }

    auto* ok = new QPushButton(QStringLiteral("Aceptar"), this);
    ok->setObjectName(QStringLiteral("aceptarButton"));
    ok->setAccessibleName(ok->text());
    ok->setDefault(true);
    ok->setGeometry(du.rect(142, 46, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace vexla
