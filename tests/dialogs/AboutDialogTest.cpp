// The About box with real widgets: its texts, the version line with and
// without the build date, the support links, the system-information tool and
// its fallbacks, and opening it from the main window.
#include "DialogTestSupport.h"
#include "SentrelConfig.h"
#include "dialogs/frmAbout.h"
#include "support/MachineStore.h"
#include "support/DateTimeUtility.h"
#include "support/GeneralUtility.h"

#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QUrl>

using namespace AppTest;

// Receives what the dialog asks the desktop to open.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;
    bool busyWhileOpening = false;

public Q_SLOTS:
    void open(const QUrl& url)
    {
        urls << url;
        const QCursor* cursor = QApplication::overrideCursor();
        busyWhileOpening = cursor && cursor->shape() == Qt::WaitCursor;
    }
};

namespace {

class AboutDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = TestEnvironment::NewFolder("about");
        m_savedPath = qgetenv("PATH");
        GeneralUtility::SetAppFromArguments({});
    }
    void TearDown() override
    {
        qputenv("PATH", m_savedPath);
        GeneralUtility::SetAppFromArguments({});
    }

    // The program as if it ran from the given file, at the given version.
    static void RunAs(const QString& exePath, const QString& version)
    {
        AppInfo app = GeneralUtility::App();
        app.ExePath = QFileInfo(exePath).absolutePath();
        app.ExeName = QFileInfo(exePath).fileName();
        app.Version = version;
        GeneralUtility::SetApp(app);
    }
    // An executable file last modified at the given moment.
    QString Executable(qint64 modifiedSecs) const
    {
        const QString exe = m_folder + "/sentrel";
        EXPECT_TRUE(TestEnvironment::WriteFile(exe, "binary"));
        EXPECT_TRUE(TestEnvironment::SetModified(exe, modifiedSecs));
        return exe;
    }
    QString Text(const char* name) const { return Find<QLabel>(m_about.get(), name)->text(); }
    void Open()
    {
        m_about = std::make_unique<frmAbout>();
        m_about->show();
    }
    void Click(const char* name) { QTest::mouseClick(Find<QWidget>(m_about.get(), name), Qt::LeftButton); }

    QString m_folder;
    QByteArray m_savedPath;
    std::unique_ptr<frmAbout> m_about;
};

TEST_F(AboutDialog, ShowsProductCopyrightAndCaption)
{
    Open();
    EXPECT_EQ(m_about->windowTitle(), QStringLiteral("About Brackwell Sentrel v1"));
    EXPECT_EQ(Text("lblProductNameDesc"), QStringLiteral("Brackwell Sentrel v1"));
    EXPECT_EQ(Text("lblCopyright"), QStringLiteral("Copyright 2026 Brackwell"));
    EXPECT_EQ(Text("lblSupportDesc"), QStringLiteral("Support Website:"));
    EXPECT_EQ(Text("lblSupportEmailDesc"), QStringLiteral("Support e-mail:"));
    EXPECT_FALSE(Text("lblDisclaimer").isEmpty());
    EXPECT_FALSE(Find<QPushButton>(m_about.get(), "cmdSysInfo")->icon().isNull());
}

TEST_F(AboutDialog, VersionLineCarriesTheExecutablesDateWhenItExists)
{
    const qint64 built = NowSecs() - 86400 * 3 + 1234;
    const QString exe = Executable(built);
    const QString date = " (Build Date: " + DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(built)) + ")";
    const struct
    {
        const char* name;
        QString exe, version, expected;
    } cases[] = {
        {"with date", exe, "1.2.0", "Version 1.2.0" + date},
        {"leading zeros dropped", exe, "01.02.03", "Version 1.2.3" + date},
        {"missing executable", m_folder + "/gone", "1.2.0", "Version 1.2.0"},
        {"executable is a folder", m_folder, "4.0.11", "Version 4.0.11"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RunAs(c.exe, c.version);
        Open();
        EXPECT_EQ(Text("lblVersion"), c.expected);
    }
    // The running program: its own version and file date.
    GeneralUtility::SetAppFromArguments({});
    Open();
    const QDateTime ownDate = QFileInfo(QCoreApplication::applicationFilePath()).lastModified();
    EXPECT_EQ(Text("lblVersion"),
              "Version " SENTREL_VERSION " (Build Date: " + DateTimeUtility::GeneralDate(ownDate) + ")");
}

TEST_F(AboutDialog, SupportLinksOpenTheWebAddressAndAMailWithTheVersionAsSubject)
{
    RunAs(Executable(NowSecs()), "1.2.0");
    MessageAnswerer ui; // the window program's busy pointer
    UrlCatcher catcher;
    for (const char* scheme : {"https", "mailto"}) {
        QDesktopServices::setUrlHandler(scheme, &catcher, "open");
    }
    const auto unset = qScopeGuard([] {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("mailto");
    });
    Open();
    for (const char* link : {"lblSupportWeb", "lblSupportEmail"}) {
        SCOPED_TRACE(link);
        catcher.busyWhileOpening = false;
        Click(link);
        EXPECT_TRUE(catcher.busyWhileOpening);
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    }
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[0], QUrl(Text("lblSupportWeb")));
    EXPECT_EQ(catcher.urls[0].scheme(), QStringLiteral("https"));
    const QUrl mail = catcher.urls[1];
    EXPECT_EQ(mail.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(mail.path(), Text("lblSupportEmail"));
    EXPECT_EQ(mail.query(QUrl::FullyDecoded),
              "subject=Brackwell Sentrel v1 Version 1.2.0 (Build Date: " +
                  DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs())) + ")");

    // A right click is no click on a link.
    QTest::mouseClick(Find<QWidget>(m_about.get(), "lblSupportWeb"), Qt::RightButton);
    EXPECT_EQ(catcher.urls.size(), 2);
}

TEST_F(AboutDialog, SystemInformationToolIsFoundInTheRegistryThenOnTheDesktop)
{
    // Programs named msinfo or MSINFO32.EXE are made in the scratch folder, others in the
    // only folder on PATH; each writes its arguments into <path>.ran when started.
    const struct
    {
        const char* name;
        const char* registeredPath; // the "PATH" value: a file in the scratch folder
        bool registeredFolder;      // the "MSINFO" value: the scratch folder
        QStringList programs;
        QString started; // empty: the message
        QString arguments;
    } cases[] = {
        // The registered tool wins over one on the desktop.
        {"registered path", "msinfo", false, {"msinfo", "hardinfo"}, "msinfo", ""},
        // A registered tool that fails does not fall back to the desktop's.
        {"registered path that does not start", "nothing-here", false, {"hardinfo"}, "", ""},
        {"tools folder holding the tool", nullptr, true, {"MSINFO32.EXE"}, "MSINFO32.EXE", ""},
        {"tools folder without the tool", nullptr, true, {"hardinfo"}, "", ""},
        {"first desktop tool on PATH", nullptr, false, {"xfce4-about", "kinfocenter"}, "kinfocenter", ""},
        {"GNOME settings on its overview panel",
         nullptr,
         false,
         {"gnome-control-center"},
         "gnome-control-center",
         "info-overview"},
        {"nothing anywhere", nullptr, false, {}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh machine-wide store, scratch folder and PATH for every row.
        const QString store = qEnvironmentVariable("XDG_CONFIG_DIRS") + "/Microsoft/";
        QFile::remove(store + "Shared Tools.conf");
        QFile::remove(store + "Shared Tools Location.conf");
        const auto row = &c - cases;
        const QString folder = TestEnvironment::NewFolder(QStringLiteral("tools-%1").arg(row));
        const QString bin = TestEnvironment::NewFolder(QStringLiteral("bin-%1").arg(row));
        qputenv("PATH", bin.toLocal8Bit());
        const auto path = [&](const QString& program) {
            return (program.startsWith("msinfo", Qt::CaseInsensitive) ? folder : bin) + "/" + program;
        };
        for (const QString& program : c.programs) {
            const QString script = "#!/bin/sh\necho \"$@\" > \"%1.part\" && /bin/mv \"%1.part\" \"%1.ran\"\n";
            ASSERT_TRUE(TestEnvironment::WriteFile(path(program), script.arg(path(program)).toUtf8()));
            QFile::setPermissions(path(program), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const auto root = MachineStore::Root::LocalMachine;
        if (c.registeredPath) {
            ASSERT_TRUE(MachineStore::WriteRegString(
                root, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", folder + "/" + c.registeredPath));
        }
        if (c.registeredFolder) {
            ASSERT_TRUE(
                MachineStore::WriteRegString(root, "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", folder));
        }

        MessageAnswerer ui;
        Open();
        ui.AnswerNext();
        Click("cmdSysInfo");
        MessageAnswerer::Settle();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        if (!c.started.isEmpty()) {
            EXPECT_EQ(ui.Shown().count, 0) << ui.Shown().text.toStdString();
            const QString ran = path(c.started) + ".ran";
            ASSERT_TRUE(WaitFor([&] { return QFile::exists(ran); }));
            EXPECT_EQ(QString::fromUtf8(TestEnvironment::ReadFile(ran)).trimmed(), c.arguments);
        } else {
            ASSERT_EQ(ui.Shown().count, 1);
            EXPECT_EQ(ui.Shown().text, QStringLiteral("System Information Is Unavailable At This Time"));
            EXPECT_EQ(ui.Shown().icon, QMessageBox::NoIcon);
            EXPECT_EQ(ui.Shown().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            EXPECT_EQ(ui.Shown().title, GeneralUtility::App().Title);
            EXPECT_TRUE(m_about->isVisible());
        }
        for (const QString& program : c.programs) {
            EXPECT_EQ(QFile::exists(path(program) + ".ran"), program == c.started) << program.toStdString();
        }
    }
}

TEST_F(AboutDialog, MainWindowShowsItModallyAndOkOrEscapeClosesIt)
{
    frmMain window;
    window.show();
    for (const bool useEscape : {false, true}) {
        SCOPED_TRACE(useEscape ? "Escape" : "OK");
        bool seen = false;
        QTimer::singleShot(0, [&] {
            auto* about = qobject_cast<frmAbout*>(QApplication::activeModalWidget());
            ASSERT_NE(about, nullptr);
            seen = true;
            EXPECT_EQ(about->parentWidget(), &window);
            QTest::keyClick(useEscape ? static_cast<QWidget*>(about) : Find<QPushButton>(about, "cmdOK"),
                            useEscape ? Qt::Key_Escape : Qt::Key_Return);
        });
        Find<QAction>(&window, "mnuAbout")->trigger();
        EXPECT_TRUE(seen);
        EXPECT_EQ(window.findChild<frmAbout*>(), nullptr);
    }
}

} // namespace

#include "AboutDialogTest.moc"
