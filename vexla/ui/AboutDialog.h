// The About box: program icon, release line and credits, closed by "Aceptar". Window thread only.
#pragma once

#include <QDialog>

namespace vexla {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace vexla
