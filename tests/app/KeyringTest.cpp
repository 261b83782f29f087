// The window keeping the SMTP password in the desktop's keyring: a real gnome-keyring-daemon on a
// session bus of the test's own (with_keyring.sh), or no Secret Service in reach at all.
#include "../dialogs/DialogTestSupport.h"
#include "SmtpSink.h"
#include "monitor/cMonitor.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"
#include "support/GeneralUtility.h"

#include <QAction>
#include <QTabWidget>

using namespace AppTest;
using namespace DialogTest;

namespace {

class Keyring : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_sink.Started()) << m_sink.Error().toStdString();
        m_file = WatchedFile(TestEnvironment::NewFolder("watched"), "export.csv", NowSecs() - 1200);
        ASSERT_TRUE(WriteProfile(QString("[SMTPServer]\nAddress=127.0.0.1\nPort=%1\nLoginName=alice\nPassword=%2\n%3"
                                         "[Email]\nFrom=sentrel@example.org\nTo=ops@example.org\n"
                                         "[General]\nNumberFiles=1\n[File1]\nFileName=%4\n")
                                     .arg(m_sink.Port())
                                     .arg(GeneralUtility::TransformSecret("s3cret", true), m_store, m_file)));
    }
    void Start()
    {
        m_window = std::make_unique<frmMain>();
        ASSERT_TRUE(m_window->Load({"/NOPREVCHECK"}));
    }
    // Ticks the keyring's box in the settings dialog and leaves it with OK.
    void KeepInKeyring()
    {
        RunModalFrom(
            "frmSettings",
            [this] { Find<QAction>(m_window.get(), "mnuProgramSettings")->trigger(); },
            [](QWidget* dialog) {
                Find<QTabWidget>(dialog, "tbsSettings")->setCurrentIndex(1);
                Edit(dialog, "chkEmailKeyring");
                Click(dialog, "cmdOK");
            });
    }
    static QString Key(const char* key)
    {
        return ConfigUtility::ReadIniString("SMTPServer", key, "<absent>", ProfilePath());
    }
    QString LastHistoryLine() const
    {
        const auto* history = Find<QTreeWidget>(m_window.get(), "lvwHistory");
        return history->topLevelItem(history->topLevelItemCount() - 1)->text(1);
    }

    FixedClock m_clock {NowMSecs()};
    QString m_store; // a PasswordStore line for the profile
    QString m_file;  // watched for changes
    const SmtpSink m_sink {[] {
        SmtpSink::Options options;
        options.Auth = true;
        return options;
    }()};
    MessageAnswerer m_answer;
    std::unique_ptr<frmMain> m_window;
};

TEST_F(Keyring, APasswordKeptThereMailsAfterARestartAndLeavesTheProfile)
{
    Start();
    KeepInKeyring();
    ASSERT_TRUE(WaitFor([] { return Key("PasswordStore") == "Keyring"; }, 10000));
    EXPECT_EQ(Key("Password"), "<absent>");
    m_window.reset();
    Start();
    ASSERT_TRUE(TestEnvironment::SetModified(m_file, NowSecs() - 60));
    // At once: the send waits for the password on its way from the keyring.
    Find<QAction>(m_window.get(), "mnuCheckNow")->trigger();
    ASSERT_TRUE(WaitFor([this] { return !m_window->Monitor().Running(); }, 10000)) << LastHistoryLine().toStdString();
    ASSERT_EQ(m_sink.Messages().size(), 1) << LastHistoryLine().toStdString();
    EXPECT_EQ(m_sink.Messages().first().AuthUser, "alice");
}

class KeyringUnreachable : public Keyring
{ };

TEST_F(KeyringUnreachable, IsToldAndThePasswordStaysInTheProfile)
{
    Start();
    m_answer.AnswerWhenShown();
    KeepInKeyring();
    ASSERT_TRUE(WaitFor([this] { return m_answer.Shown().count == 1; }, 10000));
    EXPECT_TRUE(m_answer.Shown().text.startsWith("The password could not be kept in the desktop's keyring ("));
    EXPECT_EQ(Key("PasswordStore"), "<absent>");
    EXPECT_EQ(Key("Password"), GeneralUtility::TransformSecret("s3cret", true));

    m_store = "PasswordStore=Keyring\n";
    SetUp();
    Start();
    QApplication::processEvents();
    Start(); // the first window goes while its read from the keyring is on its way
    EXPECT_TRUE(
        WaitFor([this] { return LastHistoryLine().contains("could not be read from the desktop's keyring ("); }));
}

} // namespace
