// The synth window's message boxes and file dialogs, behind an interface that tests answer at once.
// Window thread only.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

namespace zintor {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    /// A modal error box with an OK button; returns once the user has closed it.
    virtual void error(QWidget* parent, const QString& title, const QString& text) = 0;
    /// A file to read: its path, or empty when cancelled. `filters` as for QFileDialog, the first chosen.
    virtual QString openFileName(QWidget* parent, const QString& title, const QStringList& filters,
                                 const QString& suffix) = 0;
    /// A file to write (replacing one is asked for): its path, or empty when cancelled.
    virtual QString saveFileName(QWidget* parent, const QString& title, const QStringList& filters,
                                 const QString& suffix) = 0;
};

/// The real boxes and dialogs, shown with QMessageBox and QFileDialog.
class QtMessageBoxes final : public MessageBoxes {
  public:
    void error(QWidget* parent, const QString& title, const QString& text) override;
    QString openFileName(QWidget* parent, const QString& title, const QStringList& filters,
                         const QString& suffix) override;
    QString saveFileName(QWidget* parent, const QString& title, const QStringList& filters,
                         const QString& suffix) override;
};

} // namespace zintor
