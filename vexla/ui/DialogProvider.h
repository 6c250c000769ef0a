// Every modal interaction of the window (file dialogs, message boxes, running a dialog) behind one
// interface, so tests answer them without a modal loop. Window thread only.
#pragma once

#include <QString>

class QDialog;
class QWidget;

namespace vexla {

class DialogProvider {
  public:
    virtual ~DialogProvider() = default;
    /// Path of a WAV file to read, or empty when cancelled.
    virtual QString openSampleFile(QWidget* parent) = 0;
    /// Path of a WAV file to write (overwriting asked for), or empty when cancelled.
    virtual QString saveRecordingFile(QWidget* parent) = 0;
    /// Path of a scene file to open, or empty when cancelled.
    virtual QString openSceneFile(QWidget* parent) {
        (void)parent;
        return {};
    }
    /// Path of a scene file to write (overwriting asked for), or empty when cancelled.
    virtual QString saveSceneFile(QWidget* parent) {
        (void)parent;
        return {};
    }
    /// A Yes/No question without icon; true for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
    /// A short failure message.
    virtual void showError(QWidget* parent, const QString& caption, const QString& text) = 0;
    /// Runs the dialog modally; returns its result (QDialog::Accepted or Rejected).
    virtual int run(QDialog& dialog) = 0;
};

/// The real dialogs of the desktop.
class QtDialogProvider final : public DialogProvider {
  public:
    QString openSampleFile(QWidget* parent) override;
    QString saveRecordingFile(QWidget* parent) override;
    QString openSceneFile(QWidget* parent) override;
    QString saveSceneFile(QWidget* parent) override;
    bool askYesNo(QWidget* parent, const QString& caption, const QString& text) override;
    void showError(QWidget* parent, const QString& caption, const QString& text) override;
    int run(QDialog& dialog) override;
};

/// The filters of both file dialogs: WAV files, then all files.
QStringList wavFileFilters();
/// The filters of the scene dialogs: scenes, then all files.
QStringList sceneFileFilters();

} // namespace vexla
