// The About dialog of the synthesiser: icon, release line, OK and two buttons that do nothing.
// Window thread only.
#pragma once

#include <QDialog>

namespace zintor {

class SynthAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit SynthAboutDialog(QWidget* parent = nullptr);
};

} // namespace zintor
