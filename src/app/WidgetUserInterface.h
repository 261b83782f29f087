#pragma once

#include "support/UserInterface.h"

// Message boxes and the busy pointer for the window program: QMessageBox
// over the active window, and the application-wide override cursor.
class WidgetUserInterface : public UserInterface
{
public:
    Answer ShowMessage(const QString& text, Icon icon, Buttons buttons, Answer defaultAnswer) override;
    [[nodiscard]] Pointer CurrentPointer() const override;
    void SetPointer(Pointer pointer) override;
};
