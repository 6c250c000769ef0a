// The synthesiser's About dialog: icon, release line, OK and two inert buttons. Window thread only.
#pragma once

#include <QDialog>

namespace zintor {

class SynthAboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit SynthAboutDialog(QWidget* parent = nullptr);
};

} // namespace zintor
