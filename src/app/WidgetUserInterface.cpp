#include "app/WidgetUserInterface.h"

#include "support/GeneralUtility.h"

#include <QApplication>
#include <QCursor>
#include <QMessageBox>

UserInterface::Answer
WidgetUserInterface::ShowMessage(const QString& text, Icon icon, Buttons buttons, Answer defaultAnswer)
{
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(GeneralUtility::App().Title);
    box.setText(text);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(defaultAnswer == Answer::No ? QMessageBox::No : QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    // The message may come while the busy pointer is up; the box gets the normal one.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy) {
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    const int result = box.exec();
    if (busy) {
        QApplication::restoreOverrideCursor();
    }
    if (buttons == Buttons::YesNo) {
        return result == QMessageBox::Yes ? Answer::Yes : result == QMessageBox::No ? Answer::No : defaultAnswer;
    }
    return Answer::Ok;
}

UserInterface::Pointer WidgetUserInterface::CurrentPointer() const
{
    const QCursor* cursor = QApplication::overrideCursor();
    return cursor && cursor->shape() == Qt::WaitCursor ? Pointer::Busy : Pointer::Normal;
}

void WidgetUserInterface::SetPointer(Pointer pointer)
{
    if (pointer == Pointer::Busy) {
        if (CurrentPointer() != Pointer::Busy) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
        return;
    }
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
    }
}
