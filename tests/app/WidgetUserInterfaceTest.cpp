// Message boxes and the busy pointer of the window program, answered the way
// a person would: the box is found on screen and its button clicked.
#include "app/WidgetUserInterface.h"
#include "AppTestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

namespace {

class WidgetUi : public ::testing::Test
{
protected:
    void SetUp() override { m_previous = UserInterface::Install(&m_ui); }
    void TearDown() override
    {
        UserInterface::Install(m_previous);
        while (QApplication::overrideCursor()) {
            QApplication::restoreOverrideCursor();
        }
    }
    // Clicks the button once the box is up, and remembers what the box showed.
    void AnswerWith(QMessageBox::StandardButton button)
    {
        QTimer::singleShot(0, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            m_shownText = box->text();
            m_shownIcon = box->icon();
            m_shownButtons = box->standardButtons();
            box->button(button)->click();
        });
    }

    WidgetUserInterface m_ui;
    UserInterface* m_previous = nullptr;
    QString m_shownText;
    QMessageBox::Icon m_shownIcon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons m_shownButtons;
};

TEST_F(WidgetUi, MessagesShowTheirTextIconAndButtonsAndReturnTheClick)
{
    using UI = UserInterface;
    struct Case
    {
        const char* name;
        UI::Icon icon;
        UI::Buttons buttons;
        QMessageBox::StandardButton click;
        UI::Answer expected;
        QMessageBox::Icon shownIcon;
        QMessageBox::StandardButtons shownButtons;
    };
    const Case cases[] = {
        {"warning",
         UI::Icon::Exclamation,
         UI::Buttons::Ok,
         QMessageBox::Ok,
         UI::Answer::Ok,
         QMessageBox::Warning,
         QMessageBox::Ok},
        {"question yes",
         UI::Icon::Question,
         UI::Buttons::YesNo,
         QMessageBox::Yes,
         UI::Answer::Yes,
         QMessageBox::Question,
         QMessageBox::Yes | QMessageBox::No},
        {"question no",
         UI::Icon::Question,
         UI::Buttons::YesNo,
         QMessageBox::No,
         UI::Answer::No,
         QMessageBox::Question,
         QMessageBox::Yes | QMessageBox::No},
        {"error",
         UI::Icon::Critical,
         UI::Buttons::Ok,
         QMessageBox::Ok,
         UI::Answer::Ok,
         QMessageBox::Critical,
         QMessageBox::Ok},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AnswerWith(c.click);
        const QString text = QStringLiteral("There was a problem ") + QLatin1String(c.name);
        EXPECT_EQ(UI::Message(text, c.icon, c.buttons, UI::Answer::Yes), c.expected);
        EXPECT_EQ(m_shownText, text);
        EXPECT_EQ(m_shownIcon, c.shownIcon);
        EXPECT_EQ(m_shownButtons, c.shownButtons);
    }
}

TEST_F(WidgetUi, BusyPointerNestsAndComesBackToNormal)
{
    EXPECT_EQ(UserInterface::GetPointer(), UserInterface::Pointer::Normal);
    {
        BusyPointer outer;
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            BusyPointer inner;
            EXPECT_EQ(UserInterface::GetPointer(), UserInterface::Pointer::Busy);
        }
        EXPECT_EQ(UserInterface::GetPointer(), UserInterface::Pointer::Busy);
        // A box shown meanwhile gets the ordinary pointer, and the busy one returns after it.
        Qt::CursorShape during = Qt::WaitCursor;
        QTimer::singleShot(0, [&] {
            during = QApplication::overrideCursor()->shape();
            qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->button(QMessageBox::Ok)->click();
        });
        UserInterface::Message(QStringLiteral("note"), UserInterface::Icon::Information);
        EXPECT_EQ(during, Qt::ArrowCursor);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
