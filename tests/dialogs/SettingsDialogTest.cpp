// The program settings dialog with real widgets over a real profile: the e-mail switches, the OK checks, what OK
// writes, the file list, Cancel and the close box, the typed-key filters and a test e-mail to a server on loopback.
#include "DialogTestSupport.h"
#include "SmtpSink.h"
#include "dialogs/frmSettings.h"
#include "model/cSettings.h"
#include "notify/NotificationComposer.h"
#include "support/Autostart.h"
#include "support/ConfigUtility.h"
#include "support/GeneralUtility.h"

#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QScopeGuard>
#include <QTabWidget>

using namespace AppTest;
using namespace DialogTest;

namespace {

const QString kNoAddresses = "You must enter valid 'From' and 'To' e-mail addresses.";
const QString kNoInterval =
    "You must enter a number of seconds for the 'Check Interval' (how often Sentrel should check the files)";

// A profile as a person would write it: e-mail on with a login, two files.
const QString kProfile =
    "[General]\nNumberFiles=2\nPollInterval=45\nDesktopNotify=1\n\n"
    "[SMTPServer]\nEnabled=1\nAddress=mail.example.org\nPort=587\nSecurity=STARTTLS\n"
    "LoginName=alice\nPassword=%1\n\n"
    "[Email]\nFrom=\"Sentrel\" <sentrel@example.org>\nTo=ops@example.org; jane@example.org\n\n"
    "[File1]\nFileName=/srv/export/app.log\nFriendlyName=Application log\nStaleMins=1\n\n"
    "[File2]\nFileName=/srv/export/#YYYYMMDD#.csv\nAttachFile=1\nNotifyMissing=1\nNotifyRecovered=1\nRemindMins=30\n"
    "MissingSince=2026-12-01T08:00:00Z\nAlert=Missing\nAlertSince=2026-12-01T08:00:00Z\nAlertSent=2026-12-01T09:00:"
    "00Z\n";
const QStringList kRows = {"Application log (/srv/export/app.log) - 1 mins", "/srv/export/#YYYYMMDD#.csv - On Change"};

QStringList Rows(QWidget* dialog)
{
    QStringList rows;
    for (const QListWidgetItem* item : Find<QListWidget>(dialog, "listFiles")->findItems("", Qt::MatchContains)) {
        rows << item->text();
    }
    return rows;
}
void ShowTab(QWidget* dialog, int index)
{
    Find<QTabWidget>(dialog, "tbsSettings")->setCurrentIndex(index);
    QApplication::processEvents();
}
void SelectRow(QWidget* dialog, int row, bool twice = false)
{
    auto* list = Find<QListWidget>(dialog, "listFiles");
    const QPoint at = list->visualItemRect(list->item(row)).center();
    twice ? QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at)
          : QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
}
// The monitored file dialog that open brings up over the settings: left with Cancel when
// name is empty, else with OK for that file, checked on change or when stale for staleMins.
void InFileDialog(QWidget* dialog, const std::function<void()>& open, const QString& name, int staleMins = 0)
{
    RunModalFrom("frmMonitorFile", open, [&](QWidget* fileDialog) {
        EXPECT_EQ(fileDialog->parentWidget(), dialog);
        Edit(fileDialog, "txtFilename", name);
        if (staleMins > 0) {
            Edit(fileDialog, "optNotifyStale");
            Edit(fileDialog, "txtStaleMinutes", QString::number(staleMins));
        }
        Click(fileDialog, name.isEmpty() ? "cmdCancel" : "cmdOK");
    });
}

class SettingsDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
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
    // A key of the profile file; a key written blank and an absent key differ.
    static QString Key(const QString& section, const QString& key)
    {
        return ConfigUtility::ReadIniString(section, key, "<absent>", ProfilePath());
    }

    cSettings m_settings;
    QString m_before;
    MessageAnswerer m_answer;
};

TEST_F(SettingsDialog, OpensWithTheLargestFileList)
{
    ASSERT_TRUE(WriteProfile("[General]\nNumberFiles=2000000000\n[File32767]\nFileName=/srv/last.csv\n"));
    ASSERT_TRUE(m_settings.ReadSettings("Profile1"));
    EXPECT_FALSE(Run([](QWidget* dialog) {
        EXPECT_EQ(Rows(dialog).size(), 32767);
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
        // Each click in turn, then whether the e-mail boxes and the login boxes are enabled.
        const std::tuple<const char*, int, int> steps[] = {
            {"", 0, 0}, {"chkEmailEnabled", 1, 0}, {"chkEmailLogin", 1, 1}, {"chkEmailEnabled", 0, 0}};
        for (const auto& [click, email, login] : steps) {
            SCOPED_TRACE(click);
            *click ? Click(dialog, click) : void();
            // The boxes OK asks for while they are enabled say "required" when empty.
            for (const char* name : {"txtEmailServer", "txtEmailPort", "cboEmailSecurity", "txtEmailNotifyTo"}) {
                EXPECT_EQ(Find<QWidget>(dialog, name)->isEnabled(), bool(email)) << name;
                auto* box = qobject_cast<QLineEdit*>(Find<QWidget>(dialog, name));
                EXPECT_EQ(box ? box->placeholderText() : "", QString(email && box ? "required" : "")) << name;
            }
            EXPECT_EQ(Box(dialog, "txtEmailUsername")->isEnabled(), bool(login));
            EXPECT_EQ(Box(dialog, "txtEmailUsername")->placeholderText(), QString(login ? "required" : ""));
            EXPECT_EQ(Box(dialog, "txtEmailPassword")->isEnabled(), bool(login));
        }
        EXPECT_EQ(Box(dialog, "txtEmailPassword")->echoMode(), QLineEdit::Password);
        Click(dialog, "cmdCancel");
    });
}

TEST_F(SettingsDialog, TabAndShiftTabVisitTheShownTabsControlsInOrder)
{
    // The shown tab's controls, then the strip, then OK and Cancel; disabled edit and remove buttons have no stop.
    const char* tabs[] = {
        "listFiles cmdAddFile txtPollInterval chkWatchEvents chkAutostart chkNotifyMissedChanges "
        "chkDesktopNotify qt_tabwidget_tabbar cmdOK cmdCancel",
        "qt_tabwidget_tabbar chkEmailEnabled txtEmailServer txtEmailPort cboEmailSecurity chkEmailLogin "
        "txtEmailUsername txtEmailPassword chkEmailKeyring txtEmailNotifyFrom txtEmailNotifyTo cmdSendTestEmail cmdOK "
        "cmdCancel"};
    Run([&](QWidget* dialog) {
        for (int tab = 0; tab < 2; ++tab) {
            SCOPED_TRACE(tab);
            ShowTab(dialog, tab);
            ExpectTabOrder(dialog, tabs[tab]);
        }
        Click(dialog, "cmdCancel");
    });
}

TEST_F(SettingsDialog, EnterPressesTheFocusedButtonElseOkAndEscapeCancels)
{
    // The focused control and the key: the first four press OK, which writes the profile; the others leave it.
    const std::pair<const char*, Qt::Key> cases[] = {{"txtPollInterval", Qt::Key_Return},
                                                     {"listFiles", Qt::Key_Enter},
                                                     {"chkWatchEvents", Qt::Key_Return},
                                                     {"cboEmailSecurity", Qt::Key_Return},
                                                     {"cmdCancel", Qt::Key_Return},
                                                     {"txtEmailServer", Qt::Key_Escape},
                                                     {"cmdOK", Qt::Key_Escape},
                                                     {"cmdAddFile", Qt::Key_Return}};
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [name, key] = cases[i];
        SCOPED_TRACE(name);
        ASSERT_TRUE(WriteProfile(m_before));
        ASSERT_TRUE(m_settings.ReadSettings("Profile1"));
        EXPECT_EQ(Run([&](QWidget* dialog) {
                      ShowTab(dialog, QByteArray(name).contains("Email") ? 1 : 0);
                      QWidget* focus = Find<QWidget>(dialog, name);
                      focus->setFocus();
                      if (QByteArray(name) != "cmdAddFile") {
                          return QTest::keyClick(focus, key);
                      }
                      // The file dialog opens, where Enter on Cancel cancels too: no word about the empty file name.
                      RunModalFrom(
                          "frmMonitorFile",
                          [&] { QTest::keyClick(focus, key); },
                          [&](QWidget* file) {
                              Button(file, "cmdCancel")->setFocus();
                              EXPECT_EQ(m_answer.Answer([&] { QTest::keyClick(Button(file, "cmdCancel"), key); }).count,
                                        0);
                          });
                      Click(dialog, "cmdCancel");
                  }),
                  i < 4);
        EXPECT_EQ(ProfileText() == m_before, i >= 4);
    }
}

TEST_F(SettingsDialog, BothDialogsAreReadableInTheDesktopsFontAndPaletteAndGiveEachControlAnAltLetter)
{
    const QFont before = QApplication::font();
    const QPalette palette = QApplication::palette();
    const auto restore = qScopeGuard([&] {
        QApplication::setFont(before);
        QApplication::setPalette(palette);
    });
    // Light text on dark boxes and windows, as a dark desktop theme sets them.
    const QColor light(230, 230, 230), grey(53, 53, 53);
    QApplication::setPalette(QPalette(light, grey, grey, Qt::black, grey, light, light, QColor(30, 30, 30), grey));
    for (const int points : {8, 11, 16}) {
        SCOPED_TRACE(points);
        QFont font = before;
        font.setPointSize(points);
        QApplication::setFont(font);
        Run([&](QWidget* dialog) {
            EXPECT_EQ(dialog->font().pointSize(), points);
            ExpectDistinctMnemonics(dialog);
            ExpectReadable(dialog);
            Find<QWidget>(dialog, "listFiles")->setFocus();
            EXPECT_EQ(AltFocus("ih"), QStringList({"txtPollInterval", "chkWatchEvents"}));
            AltFocus("n"); // the second tab
            ExpectReadable(dialog);
            EXPECT_EQ(AltFocus("vpyuwds").join(' '),
                      "txtEmailServer txtEmailPort cboEmailSecurity txtEmailUsername txtEmailPassword "
                      "txtEmailNotifyFrom txtEmailNotifyTo");
            RunModalFrom(
                "frmMonitorFile",
                [&] { Click(dialog, "cmdAddFile"); },
                [&](QWidget* file) {
                    Edit(file, "optNotifyStale");
                    EXPECT_EQ(file->font().pointSize(), points);
                    ExpectDistinctMnemonics(file);
                    ExpectReadable(file);
                    // The minutes box follows its option on the option's row.
                    const QRect option = Find<QWidget>(file, "optNotifyStale")->geometry();
                    const QRect minutes = Box(file, "txtStaleMinutes")->geometry();
                    EXPECT_TRUE(minutes.left() > option.right() && option.contains(option.left(), minutes.center().y()))
                        << points << " pt";
                    EXPECT_EQ(AltFocus("mrfa").join(' '),
                              "txtStaleMinutes txtRemindMins txtFilename chkAttachFileToEmail");
                    Click(file, "cmdCancel");
                });
            Click(dialog, "cmdCancel");
        });
    }
}

TEST_F(SettingsDialog, OkRefusesWhatCannotBeUsedAndStaysOpen)
{
    const std::tuple<const char*, QString, QString> cases[] = {
        {"txtEmailServer", "   ", "You must enter the name or IP address of an SMTP e-mail server"},
        {"txtEmailUsername", "  ", "You must enter the Username required by your e-mail server"},
        {"txtEmailNotifyFrom", "sentrel.example.org", kNoAddresses},
        {"txtEmailNotifyTo", "ops", kNoAddresses},
        {"txtEmailPort", "0", "You must enter the e-mail server's port, a whole number from 1 to 65535"},
        {"txtPollInterval", "0", kNoInterval},
    };
    int row = 0;
    for (const auto& c : cases) {
        EXPECT_FALSE(Run([&](QWidget* dialog) {
            const auto& [box, text, message] = c;
            SCOPED_TRACE(box + (" = " + text).toStdString());
            Edit(dialog, box, text);
            const int tab = row++ % 2;
            ShowTab(dialog, tab);
            const ShownMessage shown = m_answer.Answer([&] { Click(dialog, "cmdOK"); });
            EXPECT_EQ(shown.text, message);
            EXPECT_EQ(shown.icon, QMessageBox::Warning);
            // Only the interval's message brings its tab to the front; none moves the focus.
            EXPECT_EQ(Find<QTabWidget>(dialog, "tbsSettings")->currentIndex(), message == kNoInterval ? 0 : tab);
            EXPECT_EQ(dialog->focusWidget(), Button(dialog, "cmdOK"));
            Click(dialog, "cmdCancel");
        }));
    }
}

TEST_F(SettingsDialog, OkWritesTheEditedValuesToTheProfile)
{
    // Nothing edited: every line written by hand stays, but for e-mail on, which is the default.
    EXPECT_TRUE(Run([](QWidget* dialog) { Click(dialog, "cmdOK"); }));
    for (const QString& line : QString(m_before).remove("Enabled=1\n").split('\n')) {
        EXPECT_TRUE(ProfileText().contains(line)) << line.toStdString();
    }
    // Each row: the edits, then the keys "Section/Key" with what the profile holds afterwards.
    const std::pair<std::vector<std::pair<const char*, QString>>, std::vector<std::pair<QString, QString>>> cases[] = {
        // Blanks trimmed from server and login, addresses as typed.
        {{{"txtEmailServer", "  smtp.example.net "}, {"txtEmailUsername", " bob "}, {"txtEmailNotifyTo", " @ "}},
         {{"SMTPServer/Address", "smtp.example.net"}, {"SMTPServer/LoginName", "bob"}, {"Email/To", " @ "}}},
        {{{"txtEmailUsername", ""}, {"chkEmailLogin", ""}},
         {{"SMTPServer/LoginName", "<absent>"}, {"SMTPServer/Password", "<absent>"}}},
        // E-mail off takes an empty server and addresses and keeps the login.
        {{{"txtEmailServer", ""}, {"txtEmailNotifyTo", ""}, {"chkEmailEnabled", ""}},
         {{"SMTPServer/Enabled", "0"}, {"SMTPServer/Address", "<absent>"}, {"SMTPServer/LoginName", "alice"}}},
        {{{"txtPollInterval", "3.5s"},
          {"chkWatchEvents", ""},
          {"chkNotifyMissedChanges", ""},
          {"chkDesktopNotify", ""}},
         {{"General/PollInterval", "4"},
          {"General/WatchEvents", "1"},
          {"General/NotifyMissedChanges", "1"},
          {"General/DesktopNotify", "<absent>"}}},
        // Picking a security moves only the plain port to its usual one; the list is None, STARTTLS, TLS.
        {{{"txtEmailPort", "25"}, {"cboEmailSecurity", "2"}},
         {{"SMTPServer/Port", "465"}, {"SMTPServer/Security", "TLS"}}},
        {{{"txtEmailPort", "25"}, {"cboEmailSecurity", "0"}, {"cboEmailSecurity", "1"}}, {{"SMTPServer/Port", "587"}}},
        {{{"txtEmailPort", "2525"}, {"cboEmailSecurity", "2"}}, {{"SMTPServer/Port", "2525"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second.front().first.toStdString());
        ASSERT_TRUE(WriteProfile(m_before));
        ASSERT_TRUE(m_settings.ReadSettings("Profile1"));
        EXPECT_TRUE(Run([&](QWidget* dialog) {
            ShowTab(dialog, 1);
            for (const auto& [name, value] : c.first) {
                Edit(dialog, name, value);
            }
            Click(dialog, "cmdOK");
        }));
        for (const auto& [key, value] : c.second) {
            EXPECT_EQ(Key(key.section('/', 0, 0), key.section('/', 1)), value) << key.toStdString();
        }
        // The files come back as they were, in their order.
        EXPECT_EQ(Key("File2", "FileName"), "/srv/export/#YYYYMMDD#.csv");
        EXPECT_EQ(Key("File1", "StaleMins"), "1");
    }
}

TEST_F(SettingsDialog, TypedSpacesAndNonDigitsAreDropped)
{
    Run([&](QWidget* dialog) {
        ShowTab(dialog, 1);
        const std::tuple<const char*, QString, QString> typed[] = {{"txtPollInterval", "1a -2", "4512"},
                                                                   {"txtEmailServer", " x", "mail.example.orgx"},
                                                                   {"txtEmailPort", "a:5", "5875"}};
        for (const auto& [box, keys, text] : typed) {
            Type(dialog, box, keys);
            EXPECT_EQ(Box(dialog, box)->text(), text) << box;
        }
        Click(dialog, "cmdCancel");
    });
}

TEST_F(SettingsDialog, FilesAreAddedEditedAndRemovedOnlyInTheDialogUntilOk)
{
    m_settings.MonitorFile(1)->SetStatus("Changed!");
    for (const char* leave : {"cmdCancel", "close box", "cmdOK"}) {
        SCOPED_TRACE(leave);
        const bool ok = QByteArray(leave) == "cmdOK";
        EXPECT_EQ(Run([&](QWidget* dialog) {
                      // A new file comes last; a monitored file dialog left with Cancel adds nothing.
                      InFileDialog(
                          dialog, [&] { Click(dialog, "cmdAddFile"); }, "/srv/in/new.txt");
                      InFileDialog(dialog, [&] { Click(dialog, "cmdAddFile"); }, {});
                      EXPECT_EQ(Rows(dialog), kRows + QStringList {"/srv/in/new.txt - On Change"});
                      SelectRow(dialog, 1);
                      InFileDialog(
                          dialog, [&] { SelectRow(dialog, 1, true); }, "/srv/export/#YYYYMMDD#.csv", 90);
                      EXPECT_EQ(Rows(dialog).at(1), "/srv/export/#YYYYMMDD#.csv - 90 mins");
                      // Removing it leaves the others in order and nothing selected.
                      Click(dialog, "cmdRemoveFile");
                      EXPECT_EQ(Rows(dialog), (QStringList {kRows[0], "/srv/in/new.txt - On Change"}));
                      EXPECT_FALSE(Button(dialog, "cmdRemoveFile")->isEnabled());
                      QByteArray(leave).startsWith("cmd") ? Click(dialog, leave) : void(dialog->close());
                  }),
                  ok);
        EXPECT_EQ(ProfileText() == m_before, !ok);
    }
    ASSERT_EQ(m_settings.NumberFiles(), 2);
    EXPECT_EQ(m_settings.MonitorFile(2)->RawFileName(), "/srv/in/new.txt");
    // The dialog's copies carry no status over; the settings find their own.
    EXPECT_NE(m_settings.MonitorFile(1)->Status(), "Changed!");
    EXPECT_EQ(Key("File2", "FileName"), "/srv/in/new.txt");
    EXPECT_EQ(Key("File3", "FileName"), "<absent>");

    // Removing every file leaves an empty list, which OK keeps.
    EXPECT_TRUE(Run([&](QWidget* dialog) {
        for (const int row : {1, 0}) {
            SelectRow(dialog, row);
            Click(dialog, "cmdRemoveFile");
        }
        Click(dialog, "cmdOK");
    }));
    cSettings reread;
    ASSERT_TRUE(reread.ReadSettings("Profile1"));
    EXPECT_EQ(reread.NumberFiles(), 0);
}

TEST_F(SettingsDialog, NewFilesMailWhenMissingAndRecoveredWhileFilesWithoutTheKeysStayWithout)
{
    // The dialog's rows: how it opens the file dialog, the alerts it shows ticked there.
    const std::tuple<const char*, std::function<void(QWidget*)>, bool> opened[] = {
        {"added", [](QWidget* dialog) { Click(dialog, "cmdAddFile"); }, true},
        {"edited",
         [](QWidget* dialog) {
             SelectRow(dialog, 0);
             SelectRow(dialog, 0, true);
         },
         false},
    };
    EXPECT_TRUE(Run([&](QWidget* dialog) {
        for (const auto& [name, open, ticked] : opened) {
            SCOPED_TRACE(name);
            RunModalFrom(
                "frmMonitorFile",
                [&] { open(dialog); },
                [&](QWidget* fileDialog) {
                    EXPECT_EQ(Button(fileDialog, "chkNotifyMissing")->isChecked(), ticked);
                    EXPECT_EQ(Button(fileDialog, "chkNotifyRecovered")->isChecked(), ticked);
                    Edit(fileDialog, "txtFilename", ticked ? "/srv/in/new.txt" : "/srv/export/app.log");
                    Click(fileDialog, "cmdOK");
                });
        }
        Click(dialog, "cmdOK");
    }));
    const std::pair<QString, QString> keys[] = {
        {"File3/NotifyMissing", "1"},
        {"File3/NotifyRecovered", "1"},
        {"File3/RemindMins", "<absent>"},
        {"File1/NotifyMissing", "<absent>"},
        {"File1/NotifyRecovered", "<absent>"},
        {"File1/RemindMins", "<absent>"},
        {"File2/NotifyRecovered", "1"},
        {"File2/RemindMins", "30"},
        // A standing alert stays as it was: no mail repeated, none forgotten.
        {"File2/Alert", "Missing"},
        {"File2/MissingSince", "2026-12-01T08:00:00Z"},
        {"File2/AlertSent", "2026-12-01T09:00:00Z"},
    };
    for (const auto& [key, value] : keys) {
        EXPECT_EQ(Key(key.section('/', 0, 0), key.section('/', 1)), value) << key.toStdString();
    }
}

TEST_F(SettingsDialog, StartingAtLoginFollowsTheBoxAfterOkOnly)
{
    const auto toggle = [&](const char* leave) {
        return Run([&](QWidget* dialog) {
            Click(dialog, "chkAutostart");
            Click(dialog, leave);
        });
    };
    EXPECT_FALSE(toggle("cmdCancel"));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
    EXPECT_TRUE(toggle("cmdOK"));
    EXPECT_TRUE(TestEnvironment::ReadFile(Autostart::EntryPath())
                    .contains("\nExec=" + Autostart::ExecArgument(QCoreApplication::applicationFilePath()).toUtf8()));
    // The box shows the entry, so a second click removes it.
    EXPECT_TRUE(toggle("cmdOK"));
    EXPECT_FALSE(QFile::exists(Autostart::EntryPath()));
}

TEST_F(SettingsDialog, TheMainWindowOpensItAndShowsTheConfirmedFilesAfterwards)
{
    frmMain window;
    ASSERT_TRUE(window.Load({"/NOPREVCHECK"}));
    RunModalFrom(
        "frmSettings",
        [&] { QTest::mouseClick(Find<QWidget>(&window, "cmdSettings"), Qt::LeftButton); },
        [&](QWidget* dialog) {
            EXPECT_EQ(dialog->parentWidget(), &window);
            InFileDialog(
                dialog, [&] { Click(dialog, "cmdAddFile"); }, "/srv/orders.csv", 15);
            Click(dialog, "cmdOK");
        });
    // The profile is written and read again, and the list shows the new file.
    ASSERT_EQ(Files(window)->rowCount(), 3);
    EXPECT_EQ(FilesCell(window, 3, "FILENAME"), "/srv/orders.csv");
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

TEST_F(SettingsTestEmail, GoesWithTheDialogsValuesStoresNothingAndSaysWhyItFailedOrWhatIsMissing)
{
    SmtpSink sink;
    SmtpSink::Options options;
    options.RejectRcpt = "ops@example.org";
    SmtpSink rejecting(options);
    ASSERT_TRUE(sink.Started() && rejecting.Started()) << sink.Error().toStdString() << rejecting.Error().toStdString();
    EXPECT_FALSE(Run([&](QWidget* dialog) {
        ToLoopback(dialog, rejecting.Port());
        const QString failed = SendTest(dialog);
        EXPECT_TRUE(failed.startsWith("The test e-mail could not be sent.") && failed.contains("550"))
            << failed.toStdString();
        EXPECT_EQ(m_answer.Shown().icon, QMessageBox::Warning);

        Edit(dialog, "txtEmailPort", QString::number(sink.Port()));
        EXPECT_EQ(SendTest(dialog), QStringLiteral("Test e-mail sent to ops@example.org; jane@example.org"));
        EXPECT_EQ(m_answer.Shown().icon, QMessageBox::Information);
        EXPECT_TRUE(dialog->isVisible());

        Edit(dialog, "txtEmailNotifyFrom", QString());
        Edit(dialog, "txtEmailNotifyTo", "  ");
        EXPECT_EQ(SendTest(dialog),
                  QStringLiteral("To send a test e-mail, enter the 'From' address and the 'To' address."));
        Click(dialog, "chkEmailEnabled");
        EXPECT_TRUE(SendTest(dialog).startsWith("Sending notifications by e-mail is switched off"));
        Click(dialog, "cmdCancel");
    }));
    EXPECT_EQ(rejecting.Messages().size(), 0);
    ASSERT_EQ(sink.Messages().size(), 1);
    const SmtpSink::Message mail = sink.Messages().first();
    EXPECT_EQ(mail.RcptTos, (QStringList {"ops@example.org", "jane@example.org"}));
    EXPECT_EQ(mail.MailFrom, QStringLiteral("sentrel@example.org"));
    EXPECT_TRUE(mail.Raw.contains("Subject: Sentrel test e-mail"));
    EXPECT_TRUE(mail.Raw.contains("port " + QByteArray::number(sink.Port())));
    EXPECT_EQ(ProfileText(), m_before);
}

TEST_F(SettingsTestEmail, CancelClosesTheDialogAtOnceWhileTheServerHoldsItsReply)
{
    SmtpSink::Options options;
    options.Hold = QStringList {QStringLiteral("MAIL")};
    SmtpSink sink(options);
    ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
    NotificationComposer::SetSendTimeoutForTesting(0); // the usual 15 s
    const int shown = m_answer.Shown().count;
    QElapsedTimer sinceCancel;
    EXPECT_FALSE(Run([&](QWidget* dialog) {
        ToLoopback(dialog, sink.Port());
        Click(dialog, "cmdSendTestEmail");
        EXPECT_FALSE(Button(dialog, "cmdSendTestEmail")->isEnabled());
        ASSERT_TRUE(WaitFor([&] { return sink.Held(); }, 5000));
        sinceCancel.start();
        Click(dialog, "cmdCancel");
    }));
    EXPECT_LT(sinceCancel.elapsed(), 500);
    MessageAnswerer::Settle();
    EXPECT_EQ(m_answer.Shown().count, shown); // no outcome once the dialog is gone
}

} // namespace
