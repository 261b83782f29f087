#pragma once

class QLineEdit;
class QWidget;

// Small touches on widgets shared by the windows.
class ControlUtility
{
public:
    // Selects the whole text of a box that has just received the focus, so
    // that typing replaces it; nothing for no box.
    static void TextBoxGotFocus(QLineEdit* box);
    // Enables or disables a control; a disabled text box takes the button-face
    // background and an enabled one the window background.
    static void EnableControl(QWidget* control, bool on);
};
