#pragma once

class QAbstractItemModel;
class QColor;

// Small touches on widgets shared by the windows.
class ControlUtility
{
public:
    // Shows a list row emphasised (bold) or plain; a row outside the list is ignored.
    static void HighlightListItem(QAbstractItemModel* model, int row, bool on);
};

// Sets the text colour of a list row and of every one of its cells; nothing for a missing row.
void SetListItemColour(QAbstractItemModel* model, int row, const QColor& colour);
