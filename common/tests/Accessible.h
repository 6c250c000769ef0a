// What a screen reader or an automation tool does to a widget, for the windows' tests: its accessible
// interface, its "Toggle" action and the name it reads.
#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QTest>

#include <functional>

namespace accessible {

inline QAccessibleInterface* of(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    if (!face)
        qFatal("%s has no accessible interface", qPrintable(widget->objectName()));
    return face;
}

/// What a screen reader's "Toggle" does: the action the widget offers, not a click.
inline void toggle(QAbstractButton* button) {
    QAccessibleActionInterface* actions = of(button)->actionInterface();
    QVERIFY(actions);
    QVERIFY2(actions->actionNames().contains(QAccessibleActionInterface::toggleAction()),
             qPrintable(actions->actionNames().join(',')));
    actions->doAction(QAccessibleActionInterface::toggleAction());
}

inline QString readName(QWidget* widget) {
    return of(widget)->text(QAccessible::Name);
}

/// The ways a user or a tool can tick or untick a checkable button.
using Flip = std::function<void(QAbstractButton*)>;

} // namespace accessible

Q_DECLARE_METATYPE(accessible::Flip)

namespace accessible {

/// The rows of a "flip" column: a screen reader's Toggle, the mouse, Space, and a program's setChecked
/// (which a window must act on as on a click, since assistive tools flip boxes that way).
inline void addFlipRows() {
    QTest::addColumn<Flip>("flip");
    QTest::newRow("screen reader's Toggle") << Flip(toggle);
    QTest::newRow("mouse") << Flip([](QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); });
    QTest::newRow("Space") << Flip([](QAbstractButton* b) {
        b->setFocus();
        QTest::keyClick(b, Qt::Key_Space);
    });
    QTest::newRow("setChecked") << Flip([](QAbstractButton* b) { b->setChecked(!b->isChecked()); });
}

/// The rows of a recording whose file dialog is cancelled, or names a file that cannot be made: the
/// answer (relative to the test's folder) and the errors the window must show.
inline void addCancelledOrFailedRecordingRows() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("errors");
    QTest::newRow("cancelled") << QString() << 0;
    QTest::newRow("uncreatable") << QStringLiteral("no/such/folder/take.wav") << 1;
}

} // namespace accessible
