// The desktop's file dialogs and message boxes.
#include "vexla/ui/DialogProvider.h"

#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>

namespace vexla {

QStringList wavFileFilters() {
    return {QStringLiteral("Wav Files (*.wav)"), QStringLiteral("All Files (*)")};
}

QStringList sceneFileFilters() {
    return {QStringLiteral("Vexla scenes (*.json)"), QStringLiteral("All Files (*)")};
}

namespace {
QString runFileDialog(QWidget* parent, QFileDialog::AcceptMode mode,
                      const QStringList& filters = wavFileFilters(),
                      const QString& suffix = QStringLiteral("wav")) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(suffix);
    // The save dialog asks before overwriting by default.
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}
} // namespace

QString QtDialogProvider::openSampleFile(QWidget* parent) {
    return runFileDialog(parent, QFileDialog::AcceptOpen);
}

QString QtDialogProvider::saveRecordingFile(QWidget* parent) {
    return runFileDialog(parent, QFileDialog::AcceptSave);
}

QString QtDialogProvider::openSceneFile(QWidget* parent) {
    return runFileDialog(parent, QFileDialog::AcceptOpen, sceneFileFilters(), QStringLiteral("json"));
}

QString QtDialogProvider::saveSceneFile(QWidget* parent) {
    return runFileDialog(parent, QFileDialog::AcceptSave, sceneFileFilters(), QStringLiteral("json"));
}

bool QtDialogProvider::askYesNo(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogProvider::showError(QWidget* parent, const QString& caption, const QString& text) {
    QMessageBox::warning(parent, caption, text);
}

int QtDialogProvider::run(QDialog& dialog) {
    return dialog.exec();
}

} // namespace vexla
