#pragma once

#include <QDialog>
#include <QRect>
#include <QString>

class QKeyEvent;
class QLabel;
class QLineEdit;

// What the fixed dialogs share: their window, their controls named and placed
// from the design, and the reading of the numbers typed into them.
namespace DialogParts {

// A modal dialog of fixed size with a title bar, a system menu and a close box.
inline constexpr Qt::WindowFlags kFixedDialog = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                                                Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// The 8-point interface font the twip layout was drawn for, and the fixed
// client size of width x height twips.
void UseDesign(QDialog* dialog, double widthTwips, double heightTwips);

// The desktop's font, and the fixed client size of width x height twips grown
// with that font (DialogGeometry::FontScale).
void UseDesktopFont(QDialog* dialog, double widthTwips, double heightTwips);

template<typename Widget>
Widget* Named(Widget* widget, const char* name, const QRect& geometry)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(geometry);
    return widget;
}

// A note or example in italic Arial 8.25 pt.
QLabel* NewNote(QWidget* parent, const char* name, const QString& text, const QRect& geometry);

// Widens a box of limited length, if need be, to show that many digits.
void FitDigits(QLineEdit* box);

// The character a key press types, or 0 for a command: shortcuts (Ctrl+V) and
// control keys (Enter for the default button, Backspace) are not filtered.
[[nodiscard]] int TypedCode(const QKeyEvent* key);

// Passes a typed character through GeneralUtility::FilterKeyPress in the given
// mode: true when the filter took it (dropped, or put its own character into
// the box instead); false lets the box take the key as typed.
bool FilterTyped(QLineEdit* box, int code, int mode);

// The number the text starts with: leading blanks, a sign, digits and a
// decimal point, the rest ignored; 0 when it starts with none. Pasted text
// reaches a box unfiltered, so anything may be there.
[[nodiscard]] double LeadingNumber(const QString& text);

// Nearest whole number, ties to even, within the 32-bit range the profile stores.
[[nodiscard]] qint32 WholeNumber(double value);

} // namespace DialogParts
