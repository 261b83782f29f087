// The About box with real widgets: its texts, the version line with and
// without the build date, the support links, the system-information tool and
// its fallbacks, and opening it from the main window.
#include "DialogTestSupport.h"
#include "SentrelConfig.h"
#include "dialogs/frmAbout.h"
#include "support/DateTimeUtility.h"
#include "support/GeneralUtility.h"
#include "support/MachineStore.h"

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

const QString kUnavailable = QStringLiteral("System Information Is Unavailable At This Time");
const QString kMsInfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kToolsLocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

// A stand-in program that writes its arguments into <path>.ran when started.
QString FakeProgram(const QString& path)
{
    const QString script =
        QStringLiteral("#!/bin/sh\necho \"$@\" > \"%1.part\" && /bin/mv \"%1.part\" \"%1.ran\"\n").arg(path);
    EXPECT_TRUE(TestEnvironment::WriteFile(path, script.toUtf8()));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

class AboutDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_folder = TestEnvironment::NewFolder(QStringLiteral("about"));
        m_savedPath = qgetenv("PATH");
        // Only the test's own programs are found.
        m_bin = TestEnvironment::NewFolder(QStringLiteral("about-bin"));
        qputenv("PATH", m_bin.toLocal8Bit());
        GeneralUtility::SetAppFromArguments({});
    }
    void TearDown() override
    {
        qputenv("PATH", m_savedPath);
        GeneralUtility::SetAppFromArguments({});
    }

    // The program as if it ran from the given file, at the given version.
    void RunAs(const QString& exePath, const QString& version)
    {
        AppInfo app = GeneralUtility::App();
        const QFileInfo exe(exePath);
        app.ExePath = exe.absolutePath();
        app.ExeName = exe.fileName();
        app.Version = version;
        GeneralUtility::SetApp(app);
    }
    static bool Ran(const QString& program)
    {
        return WaitFor([&] { return QFile::exists(program + QStringLiteral(".ran")); });
    }
    static QString RanWith(const QString& program)
    {
        return QString::fromUtf8(TestEnvironment::ReadFile(program + QStringLiteral(".ran"))).trimmed();
    }
    static void Register(const QString& key, const QString& value, const QString& text)
    {
        ASSERT_TRUE(MachineStore::WriteRegString(MachineStore::Root::LocalMachine, key, value, text));
    }
    QString Text(const char* name) const { return Find<QLabel>(m_about.get(), name)->text(); }
    void Open()
    {
        m_about = std::make_unique<frmAbout>();
        m_about->show();
    }
    void Click(const char* name) { QTest::mouseClick(Find<QWidget>(m_about.get(), name), Qt::LeftButton); }

    QString m_folder;
    QString m_bin;
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
    EXPECT_TRUE(Find<QPushButton>(m_about.get(), "cmdSysInfo")->text().isEmpty());
    EXPECT_FALSE(Find<QPushButton>(m_about.get(), "cmdSysInfo")->icon().isNull());
    EXPECT_EQ(m_about->minimumSize(), m_about->maximumSize());
    // Every caption and link is whole inside the fixed client area, the long web address too.
    for (const QLabel* label : m_about->findChildren<QLabel*>()) {
        SCOPED_TRACE(label->objectName().toStdString());
        const QRect inDialog(label->mapTo(m_about.get(), QPoint(0, 0)), label->size());
        EXPECT_TRUE(m_about->rect().contains(inDialog));
        if (!label->wordWrap() && label->pixmap().isNull()) {
            EXPECT_LE(label->sizeHint().width(), label->width());
        }
    }
}

TEST_F(AboutDialog, VersionLineCarriesTheExecutablesDateWhenItExists)
{
    const qint64 built = NowSecs() - 86400 * 3 + 1234;
    const QString exe = m_folder + QStringLiteral("/sentrel");
    ASSERT_TRUE(TestEnvironment::WriteFile(exe, "binary"));
    ASSERT_TRUE(TestEnvironment::SetModified(exe, built));
    const QString date = DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(built));
    struct Case
    {
        const char* name;
        QString exe;
        QString version;
        QString expected;
    };
    const Case cases[] = {
        {"with date", exe, QStringLiteral("1.2.0"), QStringLiteral("Version 1.2.0 (Build Date: ") + date + u')'},
        {"leading zeros dropped",
         exe,
         QStringLiteral("01.02.03"),
         QStringLiteral("Version 1.2.3 (Build Date: ") + date + u')'},
        {"missing executable",
         m_folder + QStringLiteral("/gone"),
         QStringLiteral("1.2.0"),
         QStringLiteral("Version 1.2.0")},
        {"executable is a folder", m_folder, QStringLiteral("4.0.11"), QStringLiteral("Version 4.0.11")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunAs(c.exe, c.version);
        Open();
        EXPECT_EQ(Text("lblVersion"), c.expected);
    }
}

TEST_F(AboutDialog, RunningProgramShowsItsOwnVersionAndBuildDate)
{
    Open();
    const QDateTime built = QFileInfo(QCoreApplication::applicationFilePath()).lastModified();
    EXPECT_EQ(Text("lblVersion"),
              QStringLiteral("Version " SENTREL_VERSION " (Build Date: ") + DateTimeUtility::GeneralDate(built) + u')');
}

TEST_F(AboutDialog, SupportLinksOpenTheWebAddressAndAMailWithTheVersionAsSubject)
{
    const QString exe = m_folder + QStringLiteral("/sentrel");
    ASSERT_TRUE(TestEnvironment::WriteFile(exe, "binary"));
    ASSERT_TRUE(TestEnvironment::SetModified(exe, NowSecs()));
    RunAs(exe, QStringLiteral("1.2.0"));
    MessageAnswerer ui;
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &catcher, "open");
    const auto unset = qScopeGuard([] {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
    });
    Open();

    Click("lblSupportWeb");
    ASSERT_EQ(catcher.urls.size(), 1);
    EXPECT_EQ(catcher.urls[0], QUrl(Text("lblSupportWeb")));
    EXPECT_EQ(catcher.urls[0].scheme(), QStringLiteral("https"));
    EXPECT_TRUE(catcher.busyWhileOpening);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    Click("lblSupportEmail");
    ASSERT_EQ(catcher.urls.size(), 2);
    const QUrl mail = catcher.urls[1];
    EXPECT_EQ(mail.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(mail.path(), Text("lblSupportEmail"));
    EXPECT_EQ(mail.query(QUrl::FullyDecoded),
              QStringLiteral("subject=Brackwell Sentrel v1 Version 1.2.0 (Build Date: ") +
                  DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs())) + u')');
    EXPECT_TRUE(catcher.busyWhileOpening);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A right click is no click on a link.
    QTest::mouseClick(Find<QWidget>(m_about.get(), "lblSupportWeb"), Qt::RightButton);
    EXPECT_EQ(catcher.urls.size(), 2);
}

TEST_F(AboutDialog, SystemInformationToolIsFoundInTheRegistryThenOnTheDesktop)
{
    enum class Expect { Started, Message };
    struct Case
    {
        const char* name;
        // Sets the machine up in (scratch folder, PATH folder); returns the program that must start.
        std::function<QString(const QString&, const QString&)> arrange;
        Expect expect;
        QString arguments;
    };
    const Case cases[] = {
        {"registered path",
         [](const QString& folder, const QString& bin) {
             const QString tool = FakeProgram(folder + QStringLiteral("/msinfo"));
             Register(kMsInfoKey, QStringLiteral("PATH"), tool);
             // The registered tool wins over one on the desktop.
             FakeProgram(bin + QStringLiteral("/hardinfo"));
             return tool;
         },
         Expect::Started,
         QString()},
        {"registered path that does not start",
         [](const QString& folder, const QString& bin) {
             Register(kMsInfoKey, QStringLiteral("PATH"), folder + QStringLiteral("/nothing-here"));
             FakeProgram(bin + QStringLiteral("/hardinfo"));
             return QString();
         },
         Expect::Message,
         QString()},
        {"tools folder holding the tool",
         [](const QString& folder, const QString&) {
             Register(kToolsLocationKey, QStringLiteral("MSINFO"), folder);
             return FakeProgram(folder + QStringLiteral("/MSINFO32.EXE"));
         },
         Expect::Started,
         QString()},
        {"tools folder without the tool",
         [](const QString& folder, const QString& bin) {
             Register(kToolsLocationKey, QStringLiteral("MSINFO"), folder);
             FakeProgram(bin + QStringLiteral("/hardinfo"));
             return QString();
         },
         Expect::Message,
         QString()},
        {"first desktop tool on PATH",
         [](const QString&, const QString& bin) {
             FakeProgram(bin + QStringLiteral("/xfce4-about"));
             return FakeProgram(bin + QStringLiteral("/kinfocenter"));
         },
         Expect::Started,
         QString()},
        {"GNOME settings on its overview panel",
         [](const QString&, const QString& bin) { return FakeProgram(bin + QStringLiteral("/gnome-control-center")); },
         Expect::Started,
         QStringLiteral("info-overview")},
        {"nothing anywhere", [](const QString&, const QString&) { return QString(); }, Expect::Message, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh machine-wide store and program folder for every row.
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_DIRS") + QStringLiteral("/Microsoft/Shared Tools.conf"));
        QFile::remove(qEnvironmentVariable("XDG_CONFIG_DIRS") +
                      QStringLiteral("/Microsoft/Shared Tools Location.conf"));
        const auto row = &c - cases;
        const QString folder = TestEnvironment::NewFolder(QStringLiteral("tools-%1").arg(row));
        m_bin = TestEnvironment::NewFolder(QStringLiteral("bin-%1").arg(row));
        qputenv("PATH", m_bin.toLocal8Bit());
        const QString expectedProgram = c.arrange(folder, m_bin);

        MessageAnswerer ui;
        Open();
        ui.AnswerNext();
        Click("cmdSysInfo");
        MessageAnswerer::Settle();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        if (c.expect == Expect::Started) {
            EXPECT_EQ(ui.Shown().count, 0) << ui.Shown().text.toStdString();
            ASSERT_TRUE(Ran(expectedProgram));
            EXPECT_EQ(RanWith(expectedProgram), c.arguments);
        } else {
            ASSERT_EQ(ui.Shown().count, 1);
            EXPECT_EQ(ui.Shown().text, kUnavailable);
            EXPECT_EQ(ui.Shown().icon, QMessageBox::NoIcon);
            EXPECT_EQ(ui.Shown().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            EXPECT_EQ(ui.Shown().title, GeneralUtility::App().Title);
            EXPECT_TRUE(m_about->isVisible());
            // A registered tool that fails does not fall back to the desktop's.
            EXPECT_FALSE(QFile::exists(m_bin + QStringLiteral("/hardinfo.ran")));
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
            EXPECT_TRUE(about->isModal());
            EXPECT_EQ(about->windowTitle(), QStringLiteral("About Brackwell Sentrel v1"));
            // Centred on the window that opened it.
            EXPECT_LE((about->frameGeometry().center() - window.frameGeometry().center()).manhattanLength(), 2);
            if (useEscape) {
                QTest::keyClick(about, Qt::Key_Escape);
            } else {
                QTest::keyClick(Find<QPushButton>(about, "cmdOK"), Qt::Key_Return);
            }
        });
        Find<QAction>(&window, "mnuAbout")->trigger();
        EXPECT_TRUE(seen);
        EXPECT_EQ(window.findChild<frmAbout*>(), nullptr);
    }
}

} // namespace

#include "AboutDialogTest.moc"
