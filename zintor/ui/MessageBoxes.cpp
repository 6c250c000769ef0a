// Qt's message boxes for the synth window.
#include "zintor/ui/MessageBoxes.h"

#include <QMessageBox>

namespace zintor {

void QtMessageBoxes::error(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

} // namespace zintor
