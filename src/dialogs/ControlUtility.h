#pragma once

class QAbstractItemModel;
class QColor;
class QLineEdit;
class QWidget;

// Small touches on widgets shared by the windows.
class ControlUtility
{
public:
    // Shows a list row emphasised (bold) or plain; a row outside the list is ignored.
    static void HighlightListItem(QAbstractItemModel* model, int row, bool on);
    // Selects the whole text of a box that has just received the focus, so
    // that typing replaces it; nothing for no box.
    static void TextBoxGotFocus(QLineEdit* box);
    // Enables or disables a control; a disabled text box takes the button-face
    // background and an enabled one the window background.
    static void EnableControl(QWidget* control, bool on);
};

// Sets the text colour of a list row and of every one of its cells; nothing for a missing row.
void SetListItemColour(QAbstractItemModel* model, int row, const QColor& colour);
