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

const QString kNoServer = QStringLiteral("You must enter the name or IP address of an SMTP e-mail server");
const QString kNoUsername = QStringLiteral("You must enter the Username required by your e-mail server");
const QString kNoAddresses = QStringLiteral("You must enter valid 'From' and 'To' e-mail addresses.");
const QString kNoInterval = QStringLiteral(
    "You must enter a number of seconds for the 'Check Interval' (how often Sentrel should check the files)");

// A profile as a person would write it: e-mail on with a login, two files.
const QString kProfile = QStringLiteral("[General]\n"
                                        "NumberFiles=2\n"
                                        "PollInterval=45\n"
                                        "\n"
                                        "[SMTPServer]\n"
                                        "Enabled=1\n"
                                        "Address=mail.example.org\n"
                                        "Port=587\n"
                                        "Security=STARTTLS\n"
                                        "LoginName=alice\n"
                                        "Password=%1\n"
                                        "\n"
                                        "[Email]\n"
                                        "From=\"Sentrel\" <sentrel@example.org>\n"
                                        "To=ops@example.org; jane@example.org\n"
                                        "\n"
                                        "[File1]\n"
                                        "FileName=/srv/export/app.log\n"
                                        "FriendlyName=Application log\n"
                                        "StaleMins=1\n"
                                        "\n"
                                        "[File2]\n"
                                        "FileName=/srv/export/#YYYYMMDD#.csv\n"
                                        "AttachFile=1\n");

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
bool Checked(QWidget* dialog, const char* name)
{
    return Button(dialog, name)->isChecked();
}
void SetText(QWidget* dialog, const char* name, const QString& text)
{
    Box(dialog, name)->setText(text);
}
void SelectRow(QWidget* dialog, int row)
{
    QListWidget* list = List(dialog);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}
QStringList FileNames(cSettings& settings)
{
    QStringList names;
    for (qint16 i = 1; i <= settings.NumberFiles(); ++i) {
        names << settings.MonitorFile(i)->RawFileName();
    }
    return names;
}

// Fills the monitored file dialog that is open: a file checked on change,
// or with a friendly name and a staleness rule.
void FillFileDialog(QWidget* fileDialog, const QString& name, const QString& friendly = {}, int staleMins = 0)
{
    Clear(fileDialog, "txtFilename");
    Type(fileDialog, "txtFilename", name);
    if (!friendly.isEmpty()) {
        if (!Checked(fileDialog, "chkUseFriendlyName")) {
            Click(fileDialog, "chkUseFriendlyName");
        }
        Clear(fileDialog, "txtFriendlyName");
        Type(fileDialog, "txtFriendlyName", friendly);
    }
    if (staleMins > 0) {
        Click(fileDialog, "optNotifyStale");
        Clear(fileDialog, "txtStaleMinutes");
        Type(fileDialog, "txtStaleMinutes", QString::number(staleMins));
    } else {
        Click(fileDialog, "optNotifyOnChange");
    }
    Click(fileDialog, "cmdOK");
}

class SettingsDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GeneralUtility::SetAppFromArguments({});
        ASSERT_TRUE(WriteProfile(kProfile.arg(GeneralUtility::TransformSecret(QStringLiteral("s3cret"), true))));
        ASSERT_TRUE(m_settings.ReadSettings(QStringLiteral("Profile1")));
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
    // What the profile file holds now.
    static QString Key(const QString& section, const QString& key)
    {
        cSettings reread;
        EXPECT_TRUE(reread.ReadSettings(QStringLiteral("Profile1")));
        const QString text = ProfileText();
        // The raw line, so that a key written blank and an absent key differ.
        const QString header = QLatin1Char('[') + section + QStringLiteral("]\n");
        const qsizetype at = text.indexOf(header);
        if (at < 0) {
            return QStringLiteral("<no section>");
        }
        const qsizetype end = text.indexOf(QLatin1Char('['), at + header.size());
        for (const QString& line : text.mid(at + header.size(), end < 0 ? -1 : end - at - header.size()).split('\n')) {
            if (line.startsWith(key + QLatin1Char('='))) {
                return line.mid(key.size() + 1);
            }
        }
        return QStringLiteral("<absent>");
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
        EXPECT_EQ(dialog->minimumSize(), QSize(477, 422));
        EXPECT_EQ(dialog->maximumSize(), QSize(477, 422));
        EXPECT_EQ(Tabs(dialog)->currentIndex(), 0);
        EXPECT_EQ(Tabs(dialog)->tabText(0), QStringLiteral("Files to Monitor:"));
        EXPECT_EQ(Tabs(dialog)->tabText(1), QStringLiteral("Notification Options:"));
        EXPECT_TRUE(Find<QPushButton>(dialog, "cmdOK")->isDefault());

        // Raw names with their patterns unexpanded; no singular "min".
        EXPECT_EQ(Rows(dialog),
                  (QStringList {QStringLiteral("Application log (/srv/export/app.log) - 1 mins"),
                                QStringLiteral("/srv/export/#YYYYMMDD#.csv - On Change")}));
        EXPECT_EQ(List(dialog)->selectedItems().size(), 0);
        EXPECT_FALSE(Button(dialog, "cmdEditFile")->isEnabled());
        EXPECT_FALSE(Button(dialog, "cmdRemoveFile")->isEnabled());
        EXPECT_TRUE(Button(dialog, "cmdAddFile")->isEnabled());
        EXPECT_EQ(Button(dialog, "cmdAddFile")->toolTip(), QStringLiteral("Add"));
        EXPECT_EQ(Button(dialog, "cmdRemoveFile")->toolTip(), QStringLiteral("Remove"));
        EXPECT_EQ(Box(dialog, "txtPollInterval")->text(), QStringLiteral("45"));
        EXPECT_FALSE(Checked(dialog, "chkWatchEvents"));

        EXPECT_TRUE(Checked(dialog, "chkEmailEnabled"));
        EXPECT_EQ(Box(dialog, "txtEmailServer")->text(), QStringLiteral("mail.example.org"));
        EXPECT_EQ(Box(dialog, "txtEmailPort")->text(), QStringLiteral("587"));
        EXPECT_EQ(Find<QComboBox>(dialog, "cboEmailSecurity")->currentText(), QStringLiteral("STARTTLS"));
        EXPECT_TRUE(Checked(dialog, "chkEmailLogin"));
        EXPECT_EQ(Box(dialog, "txtEmailUsername")->text(), QStringLiteral("alice"));
        EXPECT_EQ(Box(dialog, "txtEmailPassword")->text(), QStringLiteral("s3cret"));
        EXPECT_EQ(Box(dialog, "txtEmailPassword")->echoMode(), QLineEdit::Password);
        EXPECT_EQ(Box(dialog, "txtEmailNotifyFrom")->text(), QStringLiteral("\"Sentrel\" <sentrel@example.org>"));
        EXPECT_EQ(Box(dialog, "txtEmailNotifyTo")->text(), QStringLiteral("ops@example.org; jane@example.org"));
        for (const char* box : {"txtEmailServer", "txtEmailUsername", "txtEmailPassword", "txtEmailNotifyTo"}) {
            EXPECT_TRUE(Box(dialog, box)->isEnabled()) << box;
        }
        Click(dialog, "cmdCancel");
    }));
    EXPECT_EQ(ProfileText(), m_before);
}

TEST_F(SettingsDialog, OpensWithTheLargestFileList)
{
    ASSERT_TRUE(
        WriteProfile(QStringLiteral("[General]\nNumberFiles=2000000000\n[File32767]\nFileName=/srv/last.csv\n")));
    ASSERT_TRUE(m_settings.ReadSettings(QStringLiteral("Profile1")));
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
        const char* const emailControls[] = {"lblemailserverDesc",
                                             "txtEmailServer",
                                             "chkEmailLogin",
                                             "lblEmailNotifyFromDesc",
                                             "txtEmailNotifyFrom",
                                             "lblEmailNotifyFromExampleDesc",
                                             "lblEmailNotifyTo",
                                             "txtEmailNotifyTo",
                                             "lblEmailNotifyToExampleDesc"};
        const auto expectEnabled = [&](bool email, bool login) {
            for (const char* name : emailControls) {
                EXPECT_EQ(Find<QWidget>(dialog, name)->isEnabled(), email) << name;
            }
            for (const char* name : {"lblEmailUserNameDesc", "txtEmailUsername", "txtEmailPassword"}) {
                EXPECT_EQ(Find<QWidget>(dialog, name)->isEnabled(), login) << name;
            }
        };
        {
            SCOPED_TRACE("e-mail off");
            EXPECT_FALSE(Checked(dialog, "chkEmailEnabled"));
            expectEnabled(false, false);
        }
        Click(dialog, "chkEmailEnabled");
        {
            SCOPED_TRACE("e-mail on, no login");
            expectEnabled(true, false);
        }
        Click(dialog, "chkEmailLogin");
        {
            SCOPED_TRACE("both on");
            expectEnabled(true, true);
        }
        Click(dialog, "chkEmailEnabled");
        {
            SCOPED_TRACE("e-mail off, login still ticked");
            EXPECT_TRUE(Checked(dialog, "chkEmailLogin"));
            expectEnabled(false, false);
        }
        Click(dialog, "cmdCancel");
    });
}

TEST_F(SettingsDialog, OkRefusesWhatCannotBeUsedAndStaysOpen)
{
    struct Case
    {
        const char* name;
        std::function<void(QWidget*)> edit;
        QString message;
    };
    const Case cases[] = {
        {"server of blanks", [](QWidget* d) { SetText(d, "txtEmailServer", QStringLiteral("   ")); }, kNoServer},
        {"login without a user name",
         [](QWidget* d) { SetText(d, "txtEmailUsername", QStringLiteral("  ")); },
         kNoUsername},
        {"sender without @",
         [](QWidget* d) { SetText(d, "txtEmailNotifyFrom", QStringLiteral("sentrel.example.org")); },
         kNoAddresses},
        {"recipients without @",
         [](QWidget* d) { SetText(d, "txtEmailNotifyTo", QStringLiteral("ops")); },
         kNoAddresses},
        {"port 0",
         [](QWidget* d) { SetText(d, "txtEmailPort", QStringLiteral("0")); },
         QStringLiteral("You must enter the e-mail server's port, a whole number from 1 to 65535")},
        {"interval 0", [](QWidget* d) { SetText(d, "txtPollInterval", QStringLiteral("0")); }, kNoInterval},
        {"interval empty", [](QWidget* d) { SetText(d, "txtPollInterval", QString()); }, kNoInterval},
        {"interval pasted text", [](QWidget* d) { Paste(d, "txtPollInterval", QStringLiteral("x9")); }, kNoInterval},
        {"interval negative", [](QWidget* d) { SetText(d, "txtPollInterval", QStringLiteral("-5")); }, kNoInterval},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(Run([&](QWidget* dialog) {
            if (c.message == kNoInterval) {
                Clear(dialog, "txtPollInterval");
            }
            c.edit(dialog);
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
    struct Case
    {
        const char* name;
        std::function<void(QWidget*)> edit;
        std::vector<std::tuple<QString, QString, QString>> keys; // section, key, line value
    };
    const Case cases[] = {
        {"blanks trimmed from server and login, addresses as typed",
         [](QWidget* d) {
             SetText(d, "txtEmailServer", QStringLiteral("  smtp.example.net "));
             SetText(d, "txtEmailUsername", QStringLiteral(" bob "));
             SetText(d, "txtEmailNotifyFrom", QStringLiteral("@"));
             SetText(d, "txtEmailNotifyTo", QStringLiteral(" @ "));
         },
         {{"SMTPServer", "Address", "smtp.example.net"},
          {"SMTPServer", "LoginName", "bob"},
          {"Email", "From", "@"},
          {"Email", "To", "\" @ \""}}},
        {"login unticked empties name and password",
         [](QWidget* d) {
             Click(d, "chkEmailLogin");
             SetText(d, "txtEmailUsername", QString());
         },
         {{"SMTPServer", "LoginName", "<absent>"}, {"SMTPServer", "Password", "<absent>"}}},
        {"e-mail off takes an empty server and addresses",
         [](QWidget* d) {
             Click(d, "chkEmailEnabled");
             SetText(d, "txtEmailServer", QString());
             SetText(d, "txtEmailNotifyTo", QString());
         },
         {{"SMTPServer", "Enabled", "0"}, {"SMTPServer", "Address", "<absent>"}, {"SMTPServer", "LoginName", "alice"}}},
        {"interval rounded half to even",
         [](QWidget* d) { SetText(d, "txtPollInterval", QStringLiteral("2.5")); },
         {{"General", "PollInterval", "2"}}},
        {"interval rounded up",
         [](QWidget* d) { SetText(d, "txtPollInterval", QStringLiteral("3.5s")); },
         {{"General", "PollInterval", "4"}}},
        {"watching for changes", [](QWidget* d) { Click(d, "chkWatchEvents"); }, {{"General", "WatchEvents", "1"}}},
        {"TLS picked on a server moved off the usual port",
         [](QWidget* d) {
             SetText(d, "txtEmailPort", QStringLiteral("2525"));
             Find<QComboBox>(d, "cboEmailSecurity")->setCurrentIndex(2);
         },
         {{"SMTPServer", "Port", "2525"}, {"SMTPServer", "Security", "TLS"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteProfile(m_before));
        ASSERT_TRUE(m_settings.ReadSettings(QStringLiteral("Profile1")));
        EXPECT_TRUE(Run([&](QWidget* dialog) {
            ShowTab(dialog, 1);
            c.edit(dialog);
            Click(dialog, "cmdOK");
        }));
        for (const auto& [section, key, value] : c.keys) {
            EXPECT_EQ(Key(section, key), value) << key.toStdString();
        }
        // The files come back as they were, in their order.
        EXPECT_EQ(Key(QStringLiteral("File2"), QStringLiteral("FileName")),
                  QStringLiteral("/srv/export/#YYYYMMDD#.csv"));
        EXPECT_EQ(Key(QStringLiteral("File1"), QStringLiteral("StaleMins")), QStringLiteral("1"));
    }
}

TEST_F(SettingsDialog, PickingASecurityMovesOnlyThePlainPort)
{
    struct Case
    {
        QString port;
        int security;
        QString expected;
    };
    const Case cases[] = {
        {QStringLiteral("25"), 2, QStringLiteral("465")},
        {QStringLiteral("25"), 1, QStringLiteral("587")},
        {QStringLiteral("25"), 0, QStringLiteral("25")},
        {QStringLiteral("2525"), 2, QStringLiteral("2525")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        Run([&](QWidget* dialog) {
            ShowTab(dialog, 1);
            SetText(dialog, "txtEmailPort", c.port);
            auto* security = Find<QComboBox>(dialog, "cboEmailSecurity");
            // As a person picks it: the box's popup and a click on the entry.
            security->setFocus();
            security->showPopup();
            auto* view = security->view();
            ASSERT_TRUE(WaitFor([&] { return view->isVisible(); }));
            const QRect entry = view->visualRect(view->model()->index(c.security, 0));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, entry.center());
            EXPECT_TRUE(WaitFor([&] { return !view->isVisible(); }));
            EXPECT_EQ(Box(dialog, "txtEmailPort")->text(), c.expected);
            Click(dialog, "cmdCancel");
        });
    }
}

TEST_F(SettingsDialog, TypedKeysAreFilteredAndPastedTextIsNot)
{
    Run([&](QWidget* dialog) {
        Clear(dialog, "txtPollInterval");
        Type(dialog, "txtPollInterval", QStringLiteral("1a2 -3"));
        EXPECT_EQ(Box(dialog, "txtPollInterval")->text(), QStringLiteral("123"));
        ShowTab(dialog, 1);
        Clear(dialog, "txtEmailServer");
        Type(dialog, "txtEmailServer", QStringLiteral("mail .example. org"));
        EXPECT_EQ(Box(dialog, "txtEmailServer")->text(), QStringLiteral("mail.example.org"));
        Paste(dialog, "txtEmailServer", QStringLiteral(" x"));
        EXPECT_EQ(Box(dialog, "txtEmailServer")->text(), QStringLiteral("mail.example.org x"));
        Clear(dialog, "txtEmailPort");
        Type(dialog, "txtEmailPort", QStringLiteral("2a5:25"));
        EXPECT_EQ(Box(dialog, "txtEmailPort")->text(), QStringLiteral("2525"));
        Click(dialog, "cmdCancel");
    });
}

TEST_F(SettingsDialog, FilesAreAddedEditedAndRemovedOnlyInTheDialogUntilOk)
{
    const auto editList = [&](QWidget* dialog) {
        // Add: the new row comes last and is not selected.
        SelectRow(dialog, 0);
        EXPECT_TRUE(RunModal(
            "frmMonitorFile",
            [](QWidget* d) { FillFileDialog(d, QStringLiteral("/srv/in/new.txt")); },
            [&] {
                Click(dialog, "cmdAddFile");
                return true;
            }));
        EXPECT_EQ(Rows(dialog).size(), 3);
        EXPECT_EQ(Rows(dialog).last(), QStringLiteral("/srv/in/new.txt - On Change"));
        EXPECT_EQ(List(dialog)->selectedItems().size(), 1);
        EXPECT_EQ(List(dialog)->selectedItems().first()->text(), Rows(dialog).first());
        EXPECT_TRUE(Button(dialog, "cmdEditFile")->isEnabled());

        // A monitored file dialog left with Cancel adds nothing.
        RunModal(
            "frmMonitorFile",
            [](QWidget* d) { Click(d, "cmdCancel"); },
            [&] {
                Click(dialog, "cmdAddFile");
                return true;
            });
        EXPECT_EQ(Rows(dialog).size(), 3);

        // Edit by double-click: the row's text follows, the selection stays.
        SelectRow(dialog, 1);
        RunModal(
            "frmMonitorFile",
            [](QWidget* d) { FillFileDialog(d, QStringLiteral("/srv/export/#YYYYMMDD#.csv"), "Daily", 90); },
            [&] {
                QListWidget* list = List(dialog);
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
                return true;
            });
        EXPECT_EQ(Rows(dialog).at(1), QStringLiteral("Daily (/srv/export/#YYYYMMDD#.csv) - 90 mins"));
        EXPECT_EQ(List(dialog)->currentRow(), 1);

        // Remove the middle row: the others keep their order, nothing stays selected.
        Click(dialog, "cmdRemoveFile");
        EXPECT_EQ(Rows(dialog),
                  (QStringList {QStringLiteral("Application log (/srv/export/app.log) - 1 mins"),
                                QStringLiteral("/srv/in/new.txt - On Change")}));
        EXPECT_TRUE(List(dialog)->selectedItems().isEmpty());
        EXPECT_FALSE(Button(dialog, "cmdEditFile")->isEnabled());
        EXPECT_FALSE(Button(dialog, "cmdRemoveFile")->isEnabled());
    };

    {
        SCOPED_TRACE("Cancel");
        EXPECT_FALSE(Run([&](QWidget* dialog) {
            editList(dialog);
            Click(dialog, "cmdCancel");
        }));
        EXPECT_EQ(FileNames(m_settings),
                  (QStringList {QStringLiteral("/srv/export/app.log"), QStringLiteral("/srv/export/#YYYYMMDD#.csv")}));
        EXPECT_EQ(ProfileText(), m_before);
    }
    {
        SCOPED_TRACE("close box");
        EXPECT_FALSE(Run([&](QWidget* dialog) {
            editList(dialog);
            dialog->close();
            EXPECT_FALSE(dialog->isVisible());
        }));
        EXPECT_EQ(ProfileText(), m_before);
    }
    {
        SCOPED_TRACE("OK");
        m_settings.MonitorFile(1)->SetStatus(QStringLiteral("Changed!"));
        EXPECT_TRUE(Run([&](QWidget* dialog) {
            editList(dialog);
            Click(dialog, "cmdOK");
        }));
        EXPECT_EQ(FileNames(m_settings),
                  (QStringList {QStringLiteral("/srv/export/app.log"), QStringLiteral("/srv/in/new.txt")}));
        // The dialog's copies carry no status over; the settings find their own.
        EXPECT_NE(m_settings.MonitorFile(1)->Status(), QStringLiteral("Changed!"));
        EXPECT_EQ(m_settings.MonitorFile(1)->FriendlyName(), QStringLiteral("Application log"));
        EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("NumberFiles")), QStringLiteral("2"));
        EXPECT_EQ(Key(QStringLiteral("File2"), QStringLiteral("FileName")), QStringLiteral("/srv/in/new.txt"));
        EXPECT_EQ(Key(QStringLiteral("File3"), QStringLiteral("FileName")), QStringLiteral("<no section>"));
    }
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
    EXPECT_EQ(m_settings.NumberFiles(), 0);
    // No files is the default count, so the key goes; the old section stays, never read again.
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("NumberFiles")), QStringLiteral("<absent>"));
    cSettings reread;
    ASSERT_TRUE(reread.ReadSettings(QStringLiteral("Profile1")));
    EXPECT_EQ(reread.NumberFiles(), 0);
}

TEST_F(SettingsDialog, StartingAtLoginFollowsTheBoxAfterOkOnly)
{
    QFile::remove(Autostart::EntryPath());
    const auto tidy = qScopeGuard([] { QFile::remove(Autostart::EntryPath()); });
    const auto toggle = [&](bool ok) {
        return Run([&](QWidget* dialog) {
            Click(dialog, "chkAutostart");
            Click(dialog, ok ? "cmdOK" : "cmdCancel");
        });
    };

    EXPECT_FALSE(toggle(false));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));

    EXPECT_TRUE(toggle(true));
    ASSERT_TRUE(Autostart::Enabled());
    const QString entry = QString::fromUtf8(TestEnvironment::ReadFile(Autostart::EntryPath()));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nExec=") +
                               Autostart::ExecArgument(QCoreApplication::applicationFilePath()) + QLatin1Char('\n')))
        << entry.toStdString();
    // The box shows the entry; the profile does not hold it.
    Run([&](QWidget* dialog) {
        EXPECT_TRUE(Checked(dialog, "chkAutostart"));
        Click(dialog, "cmdCancel");
    });
    EXPECT_FALSE(ProfileText().contains(QStringLiteral("utostart")));

    EXPECT_TRUE(toggle(true));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
}

TEST_F(SettingsDialog, TheMainWindowOpensItAndShowsTheConfirmedFilesAfterwards)
{
    FixedClock clock {NowMSecs()};
    const QString folder = TestEnvironment::NewFolder(QStringLiteral("settings-window"));
    const QString added = WatchedFile(folder, QStringLiteral("orders.csv"), NowSecs() - 60);
    cSettings::SetDialogHook(nullptr);
    frmMain window;
    ASSERT_TRUE(window.Load({QStringLiteral("/NOPREVCHECK")}));
    ASSERT_EQ(Files(window)->rowCount(), 2);

    // Cancel: the window's files stay as they are.
    RunModal(
        "frmSettings",
        [](QWidget* dialog) { Click(dialog, "cmdCancel"); },
        [&] {
            QTest::mouseClick(Find<QWidget>(&window, "cmdSettings"), Qt::LeftButton);
            return true;
        });
    EXPECT_EQ(Files(window)->rowCount(), 2);
    EXPECT_EQ(ProfileText(), m_before);

    // OK: the profile is written and read again, and the list shows the new file.
    RunModal(
        "frmSettings",
        [&](QWidget* dialog) {
            EXPECT_EQ(dialog->parentWidget(), &window);
            RunModal(
                "frmMonitorFile",
                [&](QWidget* d) { FillFileDialog(d, added, QStringLiteral("Orders"), 15); },
                [&] {
                    Click(dialog, "cmdAddFile");
                    return true;
                });
            SelectRow(dialog, 0);
            Click(dialog, "cmdRemoveFile");
            Click(dialog, "cmdOK");
        },
        [&] {
            QTest::mouseClick(Find<QWidget>(&window, "cmdSettings"), Qt::LeftButton);
            return true;
        });
    ASSERT_EQ(Files(window)->rowCount(), 2);
    // The dated name as of the clock's day.
    EXPECT_EQ(FilesCell(window, 1, "FILENAME"), QStringLiteral("/srv/export/20261204.csv"));
    EXPECT_EQ(FilesCell(window, 2, "FILENAME"), QStringLiteral("Orders"));
    EXPECT_EQ(FilesCell(window, 2, "STATUS"), QStringLiteral("OK"));
    EXPECT_EQ(Key(QStringLiteral("File2"), QStringLiteral("FileName")), added);
    EXPECT_EQ(Key(QStringLiteral("File2"), QStringLiteral("StaleMins")), QStringLiteral("15"));
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
        SetText(dialog, "txtEmailServer", QStringLiteral("127.0.0.1"));
        SetText(dialog, "txtEmailPort", QString::number(port));
        Find<QComboBox>(dialog, "cboEmailSecurity")->setCurrentIndex(0);
        Click(dialog, "chkEmailLogin");
    }
    void SendTest(QWidget* dialog)
    {
        const int before = m_answer.Shown().count;
        m_answer.AnswerWhenShown();
        Click(dialog, "cmdSendTestEmail");
        ASSERT_TRUE(WaitFor([&] { return m_answer.Shown().count > before; }, 10000));
    }
};

TEST_F(SettingsTestEmail, GoesWithTheDialogsValuesAndStoresNothing)
{
    SmtpSink sink;
    ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
    EXPECT_FALSE(Run([&](QWidget* dialog) {
        ToLoopback(dialog, sink.Port());
        SendTest(dialog);
        EXPECT_EQ(m_answer.Shown().text, QStringLiteral("Test e-mail sent to ops@example.org; jane@example.org"));
        EXPECT_EQ(m_answer.Shown().icon, QMessageBox::Information);
        EXPECT_TRUE(dialog->isVisible());
        Click(dialog, "cmdCancel");
    }));
    ASSERT_EQ(sink.Messages().size(), 1);
    const SmtpSink::Message mail = sink.Messages().first();
    EXPECT_EQ(mail.RcptTos, (QStringList {QStringLiteral("ops@example.org"), QStringLiteral("jane@example.org")}));
    EXPECT_EQ(mail.MailFrom, QStringLiteral("sentrel@example.org"));
    EXPECT_TRUE(mail.Raw.contains("Subject: Sentrel test e-mail"));
    EXPECT_TRUE(mail.Raw.contains("port " + QByteArray::number(sink.Port())));
    EXPECT_EQ(ProfileText(), m_before);
    EXPECT_EQ(m_settings.SMTPServerAddress(), QStringLiteral("mail.example.org"));
}

TEST_F(SettingsTestEmail, SaysWhyItFailedAndWhatIsMissing)
{
    SmtpSink::Options options;
    options.RejectRcpt = QStringLiteral("ops@example.org");
    SmtpSink sink(options);
    ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
    Run([&](QWidget* dialog) {
        ToLoopback(dialog, sink.Port());
        SendTest(dialog);
        EXPECT_TRUE(m_answer.Shown().text.startsWith(QStringLiteral("The test e-mail could not be sent.")))
            << m_answer.Shown().text.toStdString();
        EXPECT_TRUE(m_answer.Shown().text.contains(QStringLiteral("550"))) << m_answer.Shown().text.toStdString();
        EXPECT_EQ(m_answer.Shown().icon, QMessageBox::Warning);

        SetText(dialog, "txtEmailNotifyFrom", QString());
        SetText(dialog, "txtEmailNotifyTo", QStringLiteral("  "));
        SendTest(dialog);
        EXPECT_EQ(m_answer.Shown().text,
                  QStringLiteral("To send a test e-mail, enter the 'From' address and the 'To' address."));

        Click(dialog, "chkEmailEnabled");
        SendTest(dialog);
        EXPECT_TRUE(
            m_answer.Shown().text.startsWith(QStringLiteral("Sending notifications by e-mail is switched off")));
        Click(dialog, "cmdCancel");
    });
    EXPECT_EQ(sink.Messages().size(), 0);
    EXPECT_EQ(ProfileText(), m_before);
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
        SendTest(dialog);
        ticker.stop();
        EXPECT_GE(ticks, 3);
        EXPECT_TRUE(stayed);
        EXPECT_TRUE(m_answer.Shown().text.startsWith(QStringLiteral("The test e-mail could not be sent.")));
        EXPECT_TRUE(Button(dialog, "cmdSendTestEmail")->isEnabled());
        Click(dialog, "cmdCancel");
    }));
}

} // namespace
