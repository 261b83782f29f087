#pragma once

#include "../app/AppTestSupport.h"
#include "app/WidgetUserInterface.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

// What a message box showed before the test answered it with OK.
struct ShownMessage
{
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int count = 0;
};

// Installs the window program's message boxes and answers the next one, if
// one comes: the box is found on screen and its OK button clicked.
class MessageAnswerer
{
public:
    MessageAnswerer() { m_previous = UserInterface::Install(&m_ui); }
    ~MessageAnswerer() { UserInterface::Install(m_previous); }
    Q_DISABLE_COPY(MessageAnswerer)

    // Arms the answer for a box that comes later, after an event loop of the caller's own: looks for ten seconds.
    void AnswerWhenShown() { answerWithin(10000); }
    // Lets an armed answer that found no box run out.
    static void Settle() { QApplication::processEvents(); }
    [[nodiscard]] const ShownMessage& Shown() const { return m_shown; }
    // Runs act and answers the box it shows: that box, or an empty one (count 0) when none came.
    ShownMessage Answer(const std::function<void()>& act)
    {
        const int before = m_shown.count;
        answerWithin(0);
        act();
        Settle();
        return m_shown.count > before ? m_shown : ShownMessage {};
    }

private:
    void answerWithin(int milliseconds)
    {
        auto* poll = new QTimer;
        poll->callOnTimeout([this, poll, deadline = QDeadlineTimer(milliseconds)] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box && !deadline.hasExpired()) {
                return;
            }
            poll->stop();
            poll->deleteLater();
            if (box) {
                m_shown = {box->text(), box->icon(), m_shown.count + 1};
                box->button(QMessageBox::Ok)->click();
            }
        });
        poll->start(milliseconds == 0 ? 0 : 10);
    }

    WidgetUserInterface m_ui;
    UserInterface* m_previous = nullptr;
    ShownMessage m_shown;
};

namespace DialogTest {

inline QLineEdit* Box(QWidget* dialog, const char* name)
{
    return AppTest::Find<QLineEdit>(dialog, name);
}
inline QAbstractButton* Button(QWidget* dialog, const char* name)
{
    return AppTest::Find<QAbstractButton>(dialog, name);
}
// Clicks on the indicator of a check box or option, or the middle of a button.
inline void Click(QWidget* dialog, const char* name)
{
    QAbstractButton* button = Button(dialog, name);
    const QPoint where = button->isCheckable() ? QPoint(6, button->height() / 2) : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, {}, where);
}
// Gives the box the focus with a click, as a person would, and types after its text.
inline void Type(QWidget* dialog, const char* name, const QString& text)
{
    QLineEdit* box = Box(dialog, name);
    QTest::mouseClick(box, Qt::LeftButton);
    box->end(false);
    QTest::keyClicks(box, text);
}
// Tab from the first of the blank-separated objectNames visits the others in turn and comes back to it; Shift+Tab
// (Backtab) visits them in reverse.
inline void ExpectTabOrder(QWidget* dialog, const QString& names)
{
    QStringList order = names.split(' ');
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        AppTest::Find<QWidget>(dialog, qPrintable(order.first()))->setFocus();
        QStringList visited;
        for (QWidget* focus = QApplication::focusWidget(); focus && visited.size() < order.size();) {
            QTest::keyClick(focus, key);
            focus = QApplication::focusWidget();
            visited << (focus ? focus->objectName() : "<none>");
        }
        order.move(0, order.size() - 1);
        EXPECT_EQ(visited, order) << key;
        std::reverse(order.begin(), order.end());
    }
}
// Every button, tab and label with a buddy has an Alt+letter, and no two of them share one.
inline void ExpectDistinctMnemonics(QWidget* dialog)
{
    QStringList keys;
    const auto add = [&](const QString& what, const QKeySequence& key) {
        EXPECT_FALSE(key.isEmpty() || keys.contains(key.toString()))
            << what.toStdString() << " " << key.toString().toStdString();
        keys << key.toString();
    };
    for (const QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (QStringList {"cmd", "chk", "opt"}.contains(button->objectName().left(3))) {
            add(button->objectName(),
                button->text().isEmpty() ? button->shortcut() : QKeySequence::mnemonic(button->text()));
        }
    }
    for (const QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->buddy()) {
            add(label->objectName(), QKeySequence::mnemonic(label->text()));
        }
    }
    for (const QTabWidget* tabs : dialog->findChildren<QTabWidget*>()) {
        for (int i = 0; i < tabs->count(); ++i) {
            add(tabs->tabText(i), QKeySequence::mnemonic(tabs->tabText(i)));
        }
    }
}
// Every caption shown has the room its text needs (a push button's style may ask for more), and every enabled
// text box's text stands out from its background.
inline void ExpectReadable(QWidget* dialog)
{
    for (const QWidget* widget : dialog->findChildren<QWidget*>()) {
        const auto* label = qobject_cast<const QLabel*>(widget);
        const auto* button = qobject_cast<const QAbstractButton*>(widget);
        const QString text = label ? label->text() : button ? button->text() : QString();
        if (widget->isVisible() && !text.isEmpty()) {
            const QFontMetrics metrics = widget->fontMetrics();
            const int width = qobject_cast<const QPushButton*>(widget) ? metrics.horizontalAdvance(text) + 8
                                                                       : widget->sizeHint().width();
            EXPECT_TRUE(width <= widget->width() && metrics.height() <= widget->height())
                << widget->objectName().toStdString() << " needs " << width << "x" << metrics.height() << ", has "
                << widget->width() << "x" << widget->height();
        }
        // Nothing runs past the edge of the frame or dialog that holds it.
        EXPECT_TRUE(!widget->isVisible() || widget->isWindow() ||
                    widget->parentWidget()->rect().contains(widget->geometry()))
            << widget->objectName().toStdString() << " leaves its parent";
        // A box of limited length shows that many digits.
        const auto* box = qobject_cast<const QLineEdit*>(widget);
        EXPECT_TRUE(!box || box->maxLength() > 8 ||
                    box->fontMetrics().horizontalAdvance(QString(box->maxLength(), '9')) + 10 <= box->width())
            << widget->objectName().toStdString() << " is " << widget->width() << " wide";
        const QPalette& colours = widget->palette();
        EXPECT_TRUE(!qobject_cast<const QLineEdit*>(widget) || !widget->isEnabled() ||
                    qAbs(colours.color(QPalette::Base).lightness() - colours.color(QPalette::Text).lightness()) > 128)
            << widget->objectName().toStdString();
    }
}
// Presses Alt and each letter in turn: the objectName of the control that then has the focus.
inline QStringList AltFocus(const QString& letters)
{
    QStringList focused;
    for (const QChar letter : letters) {
        QTest::keyClick(QApplication::focusWidget(), letter.toLatin1(), Qt::AltModifier);
        focused << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "<none>");
    }
    return focused;
}
// Leaves a control as a person would: a check box or option is clicked, a drop-down
// list is moved by keys to the entry of that number, a box, which must be enabled, holds the text.
inline void Edit(QWidget* dialog, const char* name, const QString& value = {})
{
    const QByteArray kind = QByteArray(name).left(3);
    auto* list = kind == "cbo" ? AppTest::Find<QComboBox>(dialog, name) : nullptr;
    if (kind == "chk" || kind == "opt") {
        Click(dialog, name);
    } else if (list) {
        for (int step = 0; step < list->count() && list->currentIndex() != value.toInt(); ++step) {
            QTest::keyClick(list, list->currentIndex() < value.toInt() ? Qt::Key_Down : Qt::Key_Up);
        }
    } else {
        EXPECT_TRUE(Box(dialog, name)->isEnabled()) << name;
        Box(dialog, name)->setText(value);
    }
}

// Runs show, which opens the dialog of that objectName modally, while act
// drives it once it is active; act must leave it. A dialog act leaves open
// fails the test and is cancelled. Returns what show returned.
inline bool
RunModal(const char* objectName, const std::function<void(QWidget*)>& act, const std::function<bool()>& show)
{
    bool seen = false;
    QTimer::singleShot(0, [&] {
        QPointer<QWidget> dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        ASSERT_EQ(dialog->objectName(), QLatin1String(objectName));
        seen = true;
        // Typing needs the window active, which the platform reports after the show.
        EXPECT_TRUE(AppTest::WaitFor([&] { return dialog && QApplication::activeWindow() == dialog; }));
        act(dialog);
        if (dialog && dialog->isVisible()) {
            ADD_FAILURE() << objectName << " stayed open";
            QMetaObject::invokeMethod(dialog, "reject");
        }
    });
    const bool result = show();
    EXPECT_TRUE(seen) << objectName << " was not shown";
    return result;
}
// The same for a click or key that opens the dialog and returns nothing.
inline void
RunModalFrom(const char* objectName, const std::function<void()>& open, const std::function<void(QWidget*)>& act)
{
    RunModal(objectName, act, [&] {
        open();
        return true;
    });
}

} // namespace DialogTest
