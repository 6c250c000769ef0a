// Qt's message boxes and file dialogs for the synth window.
#include "zintor/ui/MessageBoxes.h"

#include <QFileDialog>
#include <QMessageBox>

namespace zintor {

namespace {

QString runFileDialog(QWidget* parent, const QString& title, QFileDialog::AcceptMode mode,
                      const QStringList& filters, const QString& suffix) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(suffix);
    // The save dialog asks before replacing a file.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace

void QtMessageBoxes::error(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox::critical(parent, title, text, QMessageBox::Ok);
}

QString QtMessageBoxes::openFileName(QWidget* parent, const QString& title, const QStringList& filters,
                                     const QString& suffix) {
    return runFileDialog(parent, title, QFileDialog::AcceptOpen, filters, suffix);
}

QString QtMessageBoxes::saveFileName(QWidget* parent, const QString& title, const QStringList& filters,
                                     const QString& suffix) {
    return runFileDialog(parent, title, QFileDialog::AcceptSave, filters, suffix);
}

} // namespace zintor
