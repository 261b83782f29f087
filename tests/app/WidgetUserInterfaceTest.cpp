// Message boxes and the busy pointer of the window program, answered the way
// a person would: the box is found on screen and its button clicked.
#include "app/WidgetUserInterface.h"
#include "TestEnvironment.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QTimer>

namespace {

using UI = UserInterface;
using MB = QMessageBox;

class WidgetUi : public ::testing::Test
{
protected:
    void SetUp() override { m_previous = UI::Install(&m_ui); }
    void TearDown() override
    {
        UI::Install(m_previous);
        while (QApplication::overrideCursor()) {
            QApplication::restoreOverrideCursor();
        }
    }
    WidgetUserInterface m_ui;
    UI* m_previous = nullptr;
};

TEST_F(WidgetUi, MessagesShowTheirTextIconAndButtonsAndReturnTheClick)
{
    struct Case
    {
        const char* name;
        UI::Icon icon;
        UI::Buttons buttons;
        MB::StandardButton click;
        UI::Answer expected;
        MB::Icon shownIcon;
    } const cases[] = {
        {"warning", UI::Icon::Exclamation, UI::Buttons::Ok, MB::Ok, UI::Answer::Ok, MB::Warning},
        {"question yes", UI::Icon::Question, UI::Buttons::YesNo, MB::Yes, UI::Answer::Yes, MB::Question},
        {"question no", UI::Icon::Question, UI::Buttons::YesNo, MB::No, UI::Answer::No, MB::Question},
        {"error", UI::Icon::Critical, UI::Buttons::Ok, MB::Ok, UI::Answer::Ok, MB::Critical},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString shownText;
        MB::Icon shownIcon = MB::NoIcon;
        MB::StandardButtons shownButtons;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<MB*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            shownText = box->text();
            shownIcon = box->icon();
            shownButtons = box->standardButtons();
            box->button(c.click)->click();
        });
        const QString text = QStringLiteral("There was a problem ") + QLatin1String(c.name);
        EXPECT_EQ(UI::Message(text, c.icon, c.buttons, UI::Answer::Yes), c.expected);
        EXPECT_EQ(shownText, text);
        EXPECT_EQ(shownIcon, c.shownIcon);
        EXPECT_EQ(shownButtons, c.buttons == UI::Buttons::YesNo ? MB::Yes | MB::No : MB::StandardButtons(MB::Ok));
    }
}

TEST_F(WidgetUi, BusyPointerNestsAndComesBackToNormal)
{
    EXPECT_EQ(UI::GetPointer(), UI::Pointer::Normal);
    {
        BusyPointer outer;
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            BusyPointer inner;
        }
        EXPECT_EQ(UI::GetPointer(), UI::Pointer::Busy);
        // A box shown meanwhile gets the ordinary pointer, and the busy one returns after it.
        Qt::CursorShape during = Qt::WaitCursor;
        QTimer::singleShot(0, [&] {
            during = QApplication::overrideCursor()->shape();
            qobject_cast<MB*>(QApplication::activeModalWidget())->button(MB::Ok)->click();
        });
        UI::Message(QStringLiteral("note"), UI::Icon::Information);
        EXPECT_EQ(during, Qt::ArrowCursor);
        EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
