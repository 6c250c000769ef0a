// The synth window's message boxes, behind an interface that tests answer at once. Window thread only.
#pragma once

#include <QString>

class QWidget;

namespace zintor {

class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    /// A modal error box with an OK button; returns once the user has closed it.
    virtual void error(QWidget* parent, const QString& title, const QString& text) = 0;
};

/// The real boxes, shown with QMessageBox.
class QtMessageBoxes final : public MessageBoxes {
  public:
    void error(QWidget* parent, const QString& title, const QString& text) override;
};

} // namespace zintor
