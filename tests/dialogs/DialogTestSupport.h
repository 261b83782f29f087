#pragma once

#include "AppTestSupport.h"
#include "app/WidgetUserInterface.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

// What a message box showed before the test answered it with OK.
struct ShownMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    int count = 0;
};

// Installs the window program's message boxes and answers the next one, if
// one comes: the box is found on screen and its OK button clicked.
class MessageAnswerer
{
public:
    MessageAnswerer() { m_previous = UserInterface::Install(&m_ui); }
    ~MessageAnswerer()
    {
        UserInterface::Install(m_previous);
        while (QApplication::overrideCursor()) {
            QApplication::restoreOverrideCursor();
        }
    }
    MessageAnswerer(const MessageAnswerer&) = delete;
    MessageAnswerer& operator=(const MessageAnswerer&) = delete;

    // Arms the answer; a box that never comes is no failure here, the caller checks Shown().
    void AnswerNext()
    {
        QTimer::singleShot(0, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                return;
            }
            m_shown.title = box->windowTitle();
            m_shown.text = box->text();
            m_shown.icon = box->icon();
            m_shown.buttons = box->standardButtons();
            ++m_shown.count;
            box->button(QMessageBox::Ok)->click();
        });
    }
    // Lets an armed answer that found no box run out.
    static void Settle() { QApplication::processEvents(); }
    [[nodiscard]] const ShownMessage& Shown() const { return m_shown; }

private:
    WidgetUserInterface m_ui;
    UserInterface* m_previous = nullptr;
    ShownMessage m_shown;
};
