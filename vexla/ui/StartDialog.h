// The borderless start dialog: the start picture over a full-width "Start" button. Window thread only.
#pragma once

#include <QDialog>

namespace vexla {

class StartDialog : public QDialog {
    Q_OBJECT
  public:
    explicit StartDialog(QWidget* parent = nullptr);
};

} // namespace vexla
