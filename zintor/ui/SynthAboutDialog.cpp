// The About dialog: a fixed little card with the program icon.
#include "zintor/ui/SynthAboutDialog.h"

#include "zintor/ui/SynthIcon.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zintor {

SynthAboutDialog::SynthAboutDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutDialog");
    setWindowTitle("About Vexla");
    setWindowIcon(synthIcon());

    auto* icon = new QLabel(this);
    icon->setObjectName("aboutIcon");
    icon->setPixmap(synthIconPixmap(48));
    icon->setAccessibleName("Program icon");
    auto* release = new QLabel("Vexla release 8", this);
    release->setObjectName("releaseLabel");

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("okButton");
    ok->setDefault(true);
    auto* systemInfo = new QPushButton("System info...", this);
    systemInfo->setObjectName("systemInfoButton");
    // "&&" shows one ampersand; a single one would turn the next letter into a mnemonic.
    auto* credits = new QPushButton("Credits && greetz...", this);
    credits->setObjectName("creditsButton");
    ok->setAccessibleName("OK");
    systemInfo->setAccessibleName("System info...");
    credits->setAccessibleName("Credits & greetz...");
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* text = new QHBoxLayout;
    text->addWidget(icon);
    text->addSpacing(12);
    text->addWidget(release, 1);
    text->addWidget(ok);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(systemInfo);
    buttons->addWidget(credits);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(text);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

} // namespace zintor
