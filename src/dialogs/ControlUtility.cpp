#include "dialogs/ControlUtility.h"

#include <QApplication>
#include <QColor>
#include <QLineEdit>
#include <QPalette>
#include <QPointer>
#include <QTimer>

void ControlUtility::TextBoxGotFocus(QLineEdit* box)
{
    if (!box) {
        return;
    }
    box->selectAll();
    // A mouse click that gave the focus places the caret after this handler
    // has run; select again once that click has been handled.
    QPointer<QLineEdit> guarded(box);
    QTimer::singleShot(0, box, [guarded] {
        if (guarded && guarded->hasFocus()) {
            guarded->selectAll();
        }
    });
}

void ControlUtility::EnableControl(QWidget* control, bool on)
{
    if (!control) {
        return;
    }
    control->setEnabled(on);
    if (qobject_cast<QLineEdit*>(control)) {
        QPalette palette = control->palette();
        // The desktop's palette, dark or light, whose text colour the box keeps.
        const QPalette system = QApplication::palette(control);
        const QColor background =
            on ? system.color(QPalette::Active, QPalette::Base) : system.color(QPalette::Active, QPalette::Button);
        for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            palette.setColor(group, QPalette::Base, background);
        }
        control->setPalette(palette);
    }
}
