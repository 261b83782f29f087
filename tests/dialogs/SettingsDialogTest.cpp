// The program settings dialog with real widgets: how it opens from a
// profile, the e-mail and login switches, the file list with the monitored
// file dialog inside it, the OK checks with their messages, what OK writes to
// the real profile, Cancel and the close box, the typed-key filters and a test
// e-mail to a real server on loopback.
#include "DialogTestSupport.h"
#include "SmtpSink.h"
#include "app/frmMain.h"
#include "dialogs/frmSettings.h"
#include "model/cSettings.h"
#include "notify/NotificationComposer.h"
#include "support/Autostart.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"
#include "support/GeneralUtility.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabWidget>

using namespace AppTest;
using namespace DialogTest;

namespace {

const QString kNoServer = "You must enter the name or IP address of an SMTP e-mail server";
const QString kNoUsername = "You must enter the Username required by your e-mail server";
const QString kNoAddresses = "You must enter valid 'From' and 'To' e-mail addresses.";
const QString kNoInterval =
    "You must enter a number of seconds for the 'Check Interval' (how often Sentrel should check the files)";

// A profile as a person would write it: e-mail on with a login, two files.
const QString kProfile = "[General]\nNumberFiles=2\nPollInterval=45\n\n"
                         "[SMTPServer]\nEnabled=1\nAddress=mail.example.org\nPort=587\nSecurity=STARTTLS\n"
                         "LoginName=alice\nPassword=%1\n\n"
                         "[Email]\nFrom=\"Sentrel\" <sentrel@example.org>\nTo=ops@example.org; jane@example.org\n\n"
                         "[File1]\nFileName=/srv/export/app.log\nFriendlyName=Application log\nStaleMins=1\n\n"
                         "[File2]\nFileName=/srv/export/#YYYYMMDD#.csv\nAttachFile=1\n";
const QStringList kRows = {"Application log (/srv/export/app.log) - 1 mins", "/srv/export/#YYYYMMDD#.csv - On Change"};

QListWidget* List(QWidget* dialog)
{
    return Find<QListWidget>(dialog, "listFiles");
}
QStringList Rows(QWidget* dialog)
{
    QStringList rows;
    for (int i = 0; i < List(dialog)->count(); ++i) {
        rows << List(dialog)->item(i)->text();
    }
    return rows;
}
QTabWidget* Tabs(QWidget* dialog)
{
    return Find<QTabWidget>(dialog, "tbsSettings");
}
void ShowTab(QWidget* dialog, int index)
{
    Tabs(dialog)->setCurrentIndex(index);
    QApplication::processEvents();
}
void SelectRow(QWidget* dialog, int row, bool twice = false)
{
    QListWidget* list = List(dialog);
    const QPoint at = list->visualItemRect(list->item(row)).center();
    twice ? QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at)
          : QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}
// The monitored file dialog opened by a click on one of the list's buttons.
void InFileDialog(QWidget* dialog, const char* button, const std::function<void(QWidget*)>& act)
{
    RunModalFrom(
        "frmMonitorFile", [&] { Click(dialog, button); }, act);
}

// Fills the monitored file dialog that is open: a file checked on change,
// or with a friendly name and a staleness rule.
void FillFileDialog(QWidget* fileDialog, const QString& name, const QString& friendly = {}, int staleMins = 0)
{
    Edit(fileDialog, "txtFilename", name);
    if (!friendly.isEmpty()) {
        Edit(fileDialog, "chkUseFriendlyName", {});
        Edit(fileDialog, "txtFriendlyName", friendly);
    }
    Click(fileDialog, staleMins > 0 ? "optNotifyStale" : "optNotifyOnChange");
    if (staleMins > 0) {
        Edit(fileDialog, "txtStaleMinutes", QString::number(staleMins));
    }
    Click(fileDialog, "cmdOK");
}

class SettingsDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GeneralUtility::SetAppFromArguments({});
        ASSERT_TRUE(WriteProfile(kProfile.arg(GeneralUtility::TransformSecret("s3cret", true))));
        ASSERT_TRUE(m_settings.ReadSettings("Profile1"));
        m_before = ProfileText();
        cSettings::SetDialogHook([](cSettings& settings) { return frmSettings::DisplaySettings(&settings); });
    }
    void TearDown() override { cSettings::SetDialogHook(nullptr); }

    // Opens the dialog through the settings object, as the main window does:
    // OK writes the profile file. act drives the dialog and must leave it.
    bool Run(const std::function<void(QWidget*)>& act)
    {
        return RunModal("frmSettings", act, [this] { return m_settings.DisplaySettings(); });
    }
    // Clicks OK, expecting the message; the dialog stays open.
    void RefusedWith(QWidget* dialog, const QString& message)
    {
        m_answer.AnswerNext();
        Click(dialog, "cmdOK");
        MessageAnswerer::Settle();
        EXPECT_EQ(m_answer.Shown().text, message);
        EXPECT_EQ(m_answer.Shown().icon, QMessageBox::Warning);
        EXPECT_EQ(m_answer.Shown().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        EXPECT_TRUE(dialog->isVisible());
    }
    // A key of the profile file; a key written blank and an absent key differ.
    static QString Key(const QString& section, const QString& key)
    {
        return ConfigUtility::ReadIniString(section, key, "<absent>", ProfilePath());
    }

    cSettings m_settings;
    QString m_before;
    MessageAnswerer m_answer;
};

TEST_F(SettingsDialog, NoSettingsShowsNothing)
{
    EXPECT_FALSE(ShowsNothing([] { return frmSettings::DisplaySettings(nullptr); }));
}

TEST_F(SettingsDialog, OpensFromTheProfileOnTheFilesTab)
{
    EXPECT_FALSE(Run([&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Sentrel Settings"));
        EXPECT_EQ(Tabs(dialog)->currentIndex(), 0);
        EXPECT_EQ(Tabs(dialog)->tabText(0), QStringLiteral("Files to Monitor:"));
        EXPECT_EQ(Tabs(dialog)->tabText(1), QStringLiteral("Notification Options:"));
        EXPECT_TRUE(Find<QPushButton>(dialog, "cmdOK")->isDefault());
        EXPECT_EQ(Button(dialog, "cmdAddFile")->toolTip(), QStringLiteral("Add"));
        EXPECT_EQ(Button(dialog, "cmdRemoveFile")->toolTip(), QStringLiteral("Remove"));

        // Raw names with their patterns unexpanded; no singular "min"; nothing selected.
        EXPECT_EQ(Rows(dialog), kRows);
        EXPECT_FALSE(Button(dialog, "cmdEditFile")->isEnabled());
        EXPECT_FALSE(Button(dialog, "cmdRemoveFile")->isEnabled());

        const std::pair<const char*, QString> boxes[] = {
            {"txtPollInterval", "45"},
            {"txtEmailServer", "mail.example.org"},
            {"txtEmailPort", "587"},
            {"txtEmailUsername", "alice"},
            {"txtEmailPassword", "s3cret"},
            {"txtEmailNotifyFrom", "\"Sentrel\" <sentrel@example.org>"},
            {"txtEmailNotifyTo", "ops@example.org; jane@example.org"},
        };
        for (const auto& [name, text] : boxes) {
            EXPECT_EQ(Box(dialog, name)->text(), text) << name;
            EXPECT_TRUE(Box(dialog, name)->isEnabled()) << name;
        }
        EXPECT_EQ(Box(dialog, "txtEmailPassword")->echoMode(), QLineEdit::Password);
        EXPECT_EQ(Find<QComboBox>(dialog, "cboEmailSecurity")->currentText(), QStringLiteral("STARTTLS"));
        EXPECT_TRUE(Button(dialog, "chkEmailEnabled")->isChecked());
        EXPECT_TRUE(Button(dialog, "chkEmailLogin")->isChecked());
        EXPECT_FALSE(Button(dialog, "chkWatchEvents")->isChecked());
        Click(dialog, "cmdCancel");
    }));
    EXPECT_EQ(ProfileText(), m_before);
}

TEST_F(SettingsDialog, OpensWithTheLargestFileList)
{
    ASSERT_TRUE(WriteProfile("[General]\nNumberFiles=2000000000\n[File32767]\nFileName=/srv/last.csv\n"));
    ASSERT_TRUE(m_settings.ReadSettings("Profile1"));
    EXPECT_FALSE(Run([](QWidget* dialog) {
        EXPECT_EQ(List(dialog)->count(), 32767);
        EXPECT_EQ(Rows(dialog).constLast(), QStringLiteral("/srv/last.csv - On Change"));
        Click(dialog, "cmdCancel");
    }));
}

TEST_F(SettingsDialog, LoginBoxesAreTypableOnlyWhileBothSwitchesAreOn)
{
    m_settings.SetSMTPEnabled(false);
    m_settings.SetSMTPLoginName(QString());
    Run([&](QWidget* dialog) {
        ShowTab(dialog, 1);
        const auto expectEnabled = [&](bool email, bool login) {
            for (const QString& name : QString("lblemailserverDesc txtEmailServer chkEmailLogin lblEmailNotifyFromDesc "
                                               "txtEmailNotifyFrom lblEmailNotifyFromExampleDesc lblEmailNotifyTo "
                                               "txtEmailNotifyTo lblEmailNotifyToExampleDesc")
                                           .split(' ')) {
                EXPECT_EQ(Find<QWidget>(dialog, qPrintable(name))->isEnabled(), email) << name.toStdString();
            }
            for (const char* name : {"lblEmailUserNameDesc", "txtEmailUsername", "txtEmailPassword"}) {
                EXPECT_EQ(Find<QWidget>(dialog, name)->isEnabled(), login) << name;
            }
        };
        // Each click, then what is enabled: e-mail off at first, then on, then the login
        // too, then e-mail off with the login still ticked.
        const std::tuple<const char*, bool, bool> steps[] = {{nullptr, false, false},
                                                             {"chkEmailEnabled", true, false},
                                                             {"chkEmailLogin", true, true},
                                                             {"chkEmailEnabled", false, false}};
        for (const auto& [click, email, login] : steps) {
            SCOPED_TRACE(click ? click : "opened");
            if (click) {
                Click(dialog, click);
            }
            expectEnabled(email, login);
        }
        EXPECT_TRUE(Button(dialog, "chkEmailLogin")->isChecked());
        Click(dialog, "cmdCancel");
    });
}

TEST_F(SettingsDialog, OkRefusesWhatCannotBeUsedAndStaysOpen)
{
    const struct
    {
        const char* name;
        const char* box;
        QString text;
        QString message;
    } cases[] = {
        {"server of blanks", "txtEmailServer", "   ", kNoServer},
        {"login without a user name", "txtEmailUsername", "  ", kNoUsername},
        {"sender without @", "txtEmailNotifyFrom", "sentrel.example.org", kNoAddresses},
        {"recipients without @", "txtEmailNotifyTo", "ops", kNoAddresses},
        {"port 0", "txtEmailPort", "0", "You must enter the e-mail server's port, a whole number from 1 to 65535"},
        {"interval 0", "txtPollInterval", "0", kNoInterval},
        {"interval empty", "txtPollInterval", "", kNoInterval},
        {"interval not a number", "txtPollInterval", "x9", kNoInterval},
        {"interval negative", "txtPollInterval", "-5", kNoInterval},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Run([&](QWidget* dialog) {
            Edit(dialog, c.box, c.text);
            ShowTab(dialog, 1);
            RefusedWith(dialog, c.message);
            // Only the interval's message brings its tab to the front.
            EXPECT_EQ(Tabs(dialog)->currentIndex(), c.message == kNoInterval ? 0 : 1);
            Click(dialog, "cmdCancel");
        }));
        EXPECT_EQ(ProfileText(), m_before);
    }
}

TEST_F(SettingsDialog, OkWritesTheEditedValuesToTheProfile)
{
    using Keys = std::vector<std::tuple<QString, QString, QString>>; // section, key, value
    const struct
    {
        const char* name;
        std::vector<std::pair<const char*, QString>> edits;
        Keys keys;
    } cases[] = {
        {"blanks trimmed from server and login, addresses as typed",
         {{"txtEmailServer", "  smtp.example.net "},
          {"txtEmailUsername", " bob "},
          {"txtEmailNotifyFrom", "@"},
          {"txtEmailNotifyTo", " @ "}},
         {{"SMTPServer", "Address", "smtp.example.net"},
          {"SMTPServer", "LoginName", "bob"},
          {"Email", "From", "@"},
          {"Email", "To", " @ "}}},
        {"login unticked empties name and password",
         {{"chkEmailLogin", ""}, {"txtEmailUsername", ""}},
         {{"SMTPServer", "LoginName", "<absent>"}, {"SMTPServer", "Password", "<absent>"}}},
        {"e-mail off takes an empty server and addresses",
         {{"chkEmailEnabled", ""}, {"txtEmailServer", ""}, {"txtEmailNotifyTo", ""}},
         {{"SMTPServer", "Enabled", "0"}, {"SMTPServer", "Address", "<absent>"}, {"SMTPServer", "LoginName", "alice"}}},
        {"interval rounded half to even", {{"txtPollInterval", "2.5"}}, {{"General", "PollInterval", "2"}}},
        {"interval rounded up", {{"txtPollInterval", "3.5s"}}, {{"General", "PollInterval", "4"}}},
        {"watching for changes", {{"chkWatchEvents", ""}}, {{"General", "WatchEvents", "1"}}},
        {"TLS picked on a server moved off the usual port",
         {{"txtEmailPort", "2525"}, {"cboEmailSecurity", "2"}},
         {{"SMTPServer", "Port", "2525"}, {"SMTPServer", "Security", "TLS"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteProfile(m_before));
        ASSERT_TRUE(m_settings.ReadSettings("Profile1"));
        EXPECT_TRUE(Run([&](QWidget* dialog) {
            ShowTab(dialog, 1);
            for (const auto& [name, value] : c.edits) {
                Edit(dialog, name, value);
            }
            Click(dialog, "cmdOK");
        }));
        for (const auto& [section, key, value] : c.keys) {
            EXPECT_EQ(Key(section, key), value) << key.toStdString();
        }
        // The files come back as they were, in their order.
        EXPECT_EQ(Key("File2", "FileName"), QStringLiteral("/srv/export/#YYYYMMDD#.csv"));
        EXPECT_EQ(Key("File1", "StaleMins"), QStringLiteral("1"));
    }
}

TEST_F(SettingsDialog, PickingASecurityMovesOnlyThePlainPort)
{
    // The profile's STARTTLS is picked; the keys move the pick up or down the list None, STARTTLS, TLS.
    const struct
    {
        QString port;
        std::vector<Qt::Key> keys;
        QString expected;
    } cases[] = {
        {"25", {Qt::Key_Down}, "465"},
        {"25", {Qt::Key_Up, Qt::Key_Down}, "587"},
        {"25", {Qt::Key_Up}, "25"},
        {"2525", {Qt::Key_Down}, "2525"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        Run([&](QWidget* dialog) {
            ShowTab(dialog, 1);
            Edit(dialog, "txtEmailPort", c.port);
            for (const Qt::Key key : c.keys) {
                QTest::keyClick(Find<QComboBox>(dialog, "cboEmailSecurity"), key);
            }
            EXPECT_EQ(Box(dialog, "txtEmailPort")->text(), c.expected);
            Click(dialog, "cmdCancel");
        });
    }
}

TEST_F(SettingsDialog, TypedKeysAreFilteredAndPastedTextIsNot)
{
    Run([&](QWidget* dialog) {
        const std::tuple<const char*, QString, QString> typed[] = {
            {"txtPollInterval", "1a2 -3", "123"},
            {"txtEmailServer", "mail .example. org", "mail.example.org"},
            {"txtEmailPort", "2a5:25", "2525"},
        };
        for (const auto& [box, keys, text] : typed) {
            ShowTab(dialog, QByteArray(box) == "txtPollInterval" ? 0 : 1);
            Clear(dialog, box);
            Type(dialog, box, keys);
            EXPECT_EQ(Box(dialog, box)->text(), text) << box;
        }
        Paste(dialog, "txtEmailServer", " x");
        EXPECT_EQ(Box(dialog, "txtEmailServer")->text(), QStringLiteral("mail.example.org x"));
        Click(dialog, "cmdCancel");
    });
}

TEST_F(SettingsDialog, FilesAreAddedEditedAndRemovedOnlyInTheDialogUntilOk)
{
    const auto editList = [&](QWidget* dialog) {
        // Add: the new row comes last and is not selected; the selection stays.
        SelectRow(dialog, 0);
        InFileDialog(dialog, "cmdAddFile", [](QWidget* d) { FillFileDialog(d, "/srv/in/new.txt"); });
        EXPECT_EQ(Rows(dialog), kRows + QStringList {"/srv/in/new.txt - On Change"});
        EXPECT_EQ(List(dialog)->currentRow(), 0);
        EXPECT_TRUE(Button(dialog, "cmdEditFile")->isEnabled());
        // A monitored file dialog left with Cancel adds nothing.
        InFileDialog(dialog, "cmdAddFile", [](QWidget* d) { Click(d, "cmdCancel"); });
        EXPECT_EQ(Rows(dialog).size(), 3);

        // Edit by double-click: the row's text follows, the selection stays.
        SelectRow(dialog, 1);
        RunModalFrom(
            "frmMonitorFile",
            [&] { SelectRow(dialog, 1, true); },
            [](QWidget* d) { FillFileDialog(d, "/srv/export/#YYYYMMDD#.csv", "Daily", 90); });
        EXPECT_EQ(Rows(dialog).at(1), QStringLiteral("Daily (/srv/export/#YYYYMMDD#.csv) - 90 mins"));
        EXPECT_EQ(List(dialog)->currentRow(), 1);

        // Remove the middle row: the others keep their order, nothing stays selected.
        Click(dialog, "cmdRemoveFile");
        EXPECT_EQ(Rows(dialog), (QStringList {kRows[0], "/srv/in/new.txt - On Change"}));
        EXPECT_TRUE(List(dialog)->selectedItems().isEmpty());
        EXPECT_FALSE(Button(dialog, "cmdEditFile")->isEnabled());
        EXPECT_FALSE(Button(dialog, "cmdRemoveFile")->isEnabled());
    };

    m_settings.MonitorFile(1)->SetStatus("Changed!");
    // Cancel, the close box, then OK.
    for (const char* leave : {"cmdCancel", "", "cmdOK"}) {
        SCOPED_TRACE(*leave ? leave : "close box");
        const bool ok = QByteArray(leave) == "cmdOK";
        EXPECT_EQ(Run([&](QWidget* dialog) {
                      editList(dialog);
                      *leave ? Click(dialog, leave) : void(dialog->close());
                  }),
                  ok);
        if (!ok) {
            EXPECT_EQ(m_settings.MonitorFile(2)->RawFileName(), QStringLiteral("/srv/export/#YYYYMMDD#.csv"));
            EXPECT_EQ(ProfileText(), m_before);
        }
    }
    ASSERT_EQ(m_settings.NumberFiles(), 2);
    EXPECT_EQ(m_settings.MonitorFile(2)->RawFileName(), QStringLiteral("/srv/in/new.txt"));
    // The dialog's copies carry no status over; the settings find their own.
    EXPECT_NE(m_settings.MonitorFile(1)->Status(), QStringLiteral("Changed!"));
    EXPECT_EQ(m_settings.MonitorFile(1)->FriendlyName(), QStringLiteral("Application log"));
    EXPECT_EQ(Key("General", "NumberFiles"), QStringLiteral("2"));
    EXPECT_EQ(Key("File2", "FileName"), QStringLiteral("/srv/in/new.txt"));
    EXPECT_EQ(Key("File3", "FileName"), QStringLiteral("<absent>"));
}

TEST_F(SettingsDialog, RemovingTheLastFileLeavesAnEmptyListThatOkKeeps)
{
    m_settings.RemoveFile(2);
    m_settings.SetSMTPEnabled(false);
    EXPECT_TRUE(Run([&](QWidget* dialog) {
        SelectRow(dialog, 0);
        Click(dialog, "cmdRemoveFile");
        EXPECT_TRUE(Rows(dialog).isEmpty());
        EXPECT_FALSE(Button(dialog, "cmdRemoveFile")->isEnabled());
        Click(dialog, "cmdOK");
    }));
    // No files is the default count, so the key goes; the old section stays, never read again.
    EXPECT_EQ(Key("General", "NumberFiles"), QStringLiteral("<absent>"));
    cSettings reread;
    ASSERT_TRUE(reread.ReadSettings("Profile1"));
    EXPECT_EQ(reread.NumberFiles(), 0);
}

TEST_F(SettingsDialog, StartingAtLoginFollowsTheBoxAfterOkOnly)
{
    QFile::remove(Autostart::EntryPath());
    const auto tidy = qScopeGuard([] { QFile::remove(Autostart::EntryPath()); });
    const auto toggle = [&](const char* leave) {
        return Run([&](QWidget* dialog) {
            Click(dialog, "chkAutostart");
            Click(dialog, leave);
        });
    };
    EXPECT_FALSE(toggle("cmdCancel"));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));

    EXPECT_TRUE(toggle("cmdOK"));
    const QString entry = QString::fromUtf8(TestEnvironment::ReadFile(Autostart::EntryPath()));
    EXPECT_TRUE(entry.contains("\nExec=" + Autostart::ExecArgument(QCoreApplication::applicationFilePath()) + "\n"))
        << entry.toStdString();
    // The box shows the entry; the profile does not hold it.
    Run([&](QWidget* dialog) {
        EXPECT_TRUE(Button(dialog, "chkAutostart")->isChecked());
        Click(dialog, "cmdCancel");
    });
    EXPECT_FALSE(ProfileText().contains("utostart"));

    EXPECT_TRUE(toggle("cmdOK"));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
}

TEST_F(SettingsDialog, TheMainWindowOpensItAndShowsTheConfirmedFilesAfterwards)
{
    FixedClock clock {NowMSecs()};
    const QString added = WatchedFile(TestEnvironment::NewFolder("settings-window"), "orders.csv", NowSecs() - 60);
    cSettings::SetDialogHook(nullptr);
    frmMain window;
    ASSERT_TRUE(window.Load({"/NOPREVCHECK"}));
    RunModalFrom(
        "frmSettings",
        [&] { QTest::mouseClick(Find<QWidget>(&window, "cmdSettings"), Qt::LeftButton); },
        [&](QWidget* dialog) {
            EXPECT_EQ(dialog->parentWidget(), &window);
            InFileDialog(dialog, "cmdAddFile", [&](QWidget* d) { FillFileDialog(d, added, "Orders", 15); });
            SelectRow(dialog, 0);
            Click(dialog, "cmdRemoveFile");
            Click(dialog, "cmdOK");
        });
    // The profile is written and read again, and the list shows the new file.
    ASSERT_EQ(Files(window)->rowCount(), 2);
    // The dated name as of the clock's day.
    EXPECT_EQ(FilesCell(window, 1, "FILENAME"), QStringLiteral("/srv/export/20261204.csv"));
    EXPECT_EQ(FilesCell(window, 2, "FILENAME"), QStringLiteral("Orders"));
    EXPECT_EQ(FilesCell(window, 2, "STATUS"), QStringLiteral("OK"));
    EXPECT_EQ(Key("File2", "FileName"), added);
    EXPECT_EQ(Key("File2", "StaleMins"), QStringLiteral("15"));
}

class SettingsTestEmail : public SettingsDialog
{
protected:
    void SetUp() override
    {
        SettingsDialog::SetUp();
        NotificationComposer::SetSendTimeoutForTesting(2000);
    }
    void TearDown() override
    {
        NotificationComposer::SetSendTimeoutForTesting(0);
        SettingsDialog::TearDown();
    }
    // Points the dialog at the server on loopback, without a login or TLS.
    static void ToLoopback(QWidget* dialog, quint16 port)
    {
        ShowTab(dialog, 1);
        Edit(dialog, "txtEmailServer", "127.0.0.1");
        Edit(dialog, "txtEmailPort", QString::number(port));
        Find<QComboBox>(dialog, "cboEmailSecurity")->setCurrentIndex(0);
        Click(dialog, "chkEmailLogin");
    }
    // Clicks the test button and answers the box that ends the send; its text.
    QString SendTest(QWidget* dialog)
    {
        const int before = m_answer.Shown().count;
        m_answer.AnswerWhenShown();
        Click(dialog, "cmdSendTestEmail");
        EXPECT_TRUE(WaitFor([&] { return m_answer.Shown().count > before; }, 10000));
        return m_answer.Shown().text;
    }
};

TEST_F(SettingsTestEmail, GoesWithTheDialogsValuesAndStoresNothing)
{
    SmtpSink sink;
    ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
    EXPECT_FALSE(Run([&](QWidget* dialog) {
        ToLoopback(dialog, sink.Port());
        EXPECT_EQ(SendTest(dialog), QStringLiteral("Test e-mail sent to ops@example.org; jane@example.org"));
        EXPECT_EQ(m_answer.Shown().icon, QMessageBox::Information);
        EXPECT_TRUE(dialog->isVisible());
        Click(dialog, "cmdCancel");
    }));
    ASSERT_EQ(sink.Messages().size(), 1);
    const SmtpSink::Message mail = sink.Messages().first();
    EXPECT_EQ(mail.RcptTos, (QStringList {"ops@example.org", "jane@example.org"}));
    EXPECT_EQ(mail.MailFrom, QStringLiteral("sentrel@example.org"));
    EXPECT_TRUE(mail.Raw.contains("Subject: Sentrel test e-mail"));
    EXPECT_TRUE(mail.Raw.contains("port " + QByteArray::number(sink.Port())));
    EXPECT_EQ(ProfileText(), m_before);
}

TEST_F(SettingsTestEmail, SaysWhyItFailedAndWhatIsMissing)
{
    SmtpSink::Options options;
    options.RejectRcpt = "ops@example.org";
    SmtpSink sink(options);
    ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
    Run([&](QWidget* dialog) {
        ToLoopback(dialog, sink.Port());
        const QString failed = SendTest(dialog);
        EXPECT_TRUE(failed.startsWith("The test e-mail could not be sent.") && failed.contains("550"))
            << failed.toStdString();
        EXPECT_EQ(m_answer.Shown().icon, QMessageBox::Warning);

        Edit(dialog, "txtEmailNotifyFrom", QString());
        Edit(dialog, "txtEmailNotifyTo", "  ");
        EXPECT_EQ(SendTest(dialog),
                  QStringLiteral("To send a test e-mail, enter the 'From' address and the 'To' address."));
        Click(dialog, "chkEmailEnabled");
        EXPECT_TRUE(SendTest(dialog).startsWith("Sending notifications by e-mail is switched off"));
        Click(dialog, "cmdCancel");
    });
    EXPECT_EQ(sink.Messages().size(), 0);
}

TEST_F(SettingsTestEmail, TheDialogKeepsPaintingAndCannotBeLeftWhileASendWaits)
{
    SmtpSink::Options options;
    options.Silent = true;
    SmtpSink sink(options);
    ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
    NotificationComposer::SetSendTimeoutForTesting(700);
    EXPECT_FALSE(Run([&](QWidget* dialog) {
        ToLoopback(dialog, sink.Port());
        int ticks = 0;
        bool stayed = false;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            // While the send waits: the event loop runs and Cancel is refused.
            if (++ticks == 3) {
                Click(dialog, "cmdCancel");
                stayed = dialog->isVisible() && !Button(dialog, "cmdSendTestEmail")->isEnabled();
            }
        });
        ticker.start(50);
        EXPECT_TRUE(SendTest(dialog).startsWith("The test e-mail could not be sent."));
        ticker.stop();
        EXPECT_TRUE(stayed);
        EXPECT_TRUE(Button(dialog, "cmdSendTestEmail")->isEnabled());
        Click(dialog, "cmdCancel");
    }));
}

} // namespace
