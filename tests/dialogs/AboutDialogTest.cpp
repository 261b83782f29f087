// The About box with real widgets: the version line with and without the
// build date, the support links, and the system-information tool.
#include "DialogTestSupport.h"
#include "dialogs/frmAbout.h"
#include "support/DateTimeUtility.h"
#include "support/GeneralUtility.h"
#include "support/MachineStore.h"

#include <QDesktopServices>
#include <QFile>
#include <QKeySequence>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QUrl>

using namespace AppTest;

// Receives what the dialog asks the desktop to open, while it lives.
class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    UrlCatcher()
    {
        QDesktopServices::setUrlHandler("https", this, "open");
        QDesktopServices::setUrlHandler("mailto", this, "open");
    }
    ~UrlCatcher() override
    {
        QDesktopServices::unsetUrlHandler("https");
        QDesktopServices::unsetUrlHandler("mailto");
    }
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl& url) { urls << url; }
};

namespace {

class AboutDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_exe = TestEnvironment::NewFolder("about") + "/sentrel";
        ASSERT_TRUE(TestEnvironment::WriteFile(m_exe, "binary") && TestEnvironment::SetModified(m_exe, NowSecs()));
    }
    void TearDown() override { GeneralUtility::SetAppFromArguments({}); }
    // Shows the box of the program as if it ran from the given file, at the given version.
    void Open(const QString& exePath, const QString& version = "1.2.0")
    {
        GeneralUtility::SetAppFromArguments({});
        AppInfo app = GeneralUtility::App();
        app.ExePath = QFileInfo(exePath).absolutePath();
        app.ExeName = QFileInfo(exePath).fileName();
        app.Version = version;
        GeneralUtility::SetApp(app);
        m_about = std::make_unique<frmAbout>();
        m_about->show();
    }
    QString Text(const char* name) const { return Find<QLabel>(m_about.get(), name)->text(); }
    void Click(const char* name, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(Find<QWidget>(m_about.get(), name), button);
    }

    QString m_exe;
    std::unique_ptr<frmAbout> m_about;
};

TEST_F(AboutDialog, VersionLineCarriesTheExecutablesDateWhenItExists)
{
    const QString date =
        " (Build Date: " + DateTimeUtility::GeneralDate(QDateTime::fromSecsSinceEpoch(NowSecs())) + ")";
    const std::tuple<QString, QString, QString> cases[] = {
        {m_exe, "1.2.0", "Version 1.2.0" + date},
        {m_exe, "01.02.03", "Version 1.2.3" + date},
        {m_exe + "-gone", "1.2.0", "Version 1.2.0"},
        // A folder of the program's name is no executable.
        {QFileInfo(m_exe).path(), "4.0.11", "Version 4.0.11"},
    };
    for (const auto& [exe, version, expected] : cases) {
        SCOPED_TRACE(expected.toStdString());
        Open(exe, version);
        EXPECT_EQ(Text("lblVersion"), expected);
    }
}

TEST_F(AboutDialog, TakesTheDesktopsElevenPointFontAndCutsNoText)
{
    const QFont font = QApplication::font();
    const auto restore = qScopeGuard([&] { QApplication::setFont(font); });
    QFont large = font;
    large.setPointSize(11);
    QApplication::setFont(large);
    Open(m_exe);
    for (const QWidget* widget : m_about->findChildren<QWidget*>()) {
        SCOPED_TRACE(widget->objectName().toStdString());
        const auto* label = qobject_cast<const QLabel*>(widget);
        const bool wraps = label && label->wordWrap();
        EXPECT_GE(widget->width(), wraps ? 0 : widget->sizeHint().width());
        EXPECT_GE(widget->height(), wraps ? label->heightForWidth(label->width()) : widget->sizeHint().height());
        EXPECT_GE(widget->font().pointSize(), 11);
    }
}

TEST_F(AboutDialog, SupportLinksOpenTheWebAddressAndAMailWithTheVersionAsSubject)
{
    MessageAnswerer ui; // the window program's busy pointer
    UrlCatcher catcher;
    Open(m_exe);
    Click("lblSupportWeb");
    Click("lblSupportEmail");
    // A right click is no click on a link; the busy pointer goes once the desktop has the link.
    Click("lblSupportWeb", Qt::RightButton);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[0], QUrl(Text("lblSupportWeb")));
    EXPECT_EQ(catcher.urls[1].path(), Text("lblSupportEmail"));
    EXPECT_EQ(catcher.urls[1].query(QUrl::FullyDecoded), "subject=Brackwell Sentrel v1 " + Text("lblVersion"));
}

TEST_F(AboutDialog, TabReachesEachLinkAndButtonAndEnterOrAMnemonicPressesIt)
{
    UrlCatcher catcher;
    MessageAnswerer ui; // no tool on PATH: the system-information button says so
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    qputenv("PATH", TestEnvironment::NewFolder("no-tools").toLocal8Bit());
    Open(m_exe);
    const struct
    {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* focused; // after the key
        int urls, messages;
    } steps[] = {
        {Qt::Key_Tab, {}, "lblSupportWeb", 0, 0},
        {Qt::Key_Return, {}, "lblSupportWeb", 1, 0},
        {Qt::Key_Tab, {}, "lblSupportEmail", 1, 0},
        {Qt::Key_Enter, {}, "lblSupportEmail", 2, 0},
        {Qt::Key_Tab, {}, "cmdSysInfo", 2, 0},
        {Qt::Key_Return, {}, "cmdSysInfo", 2, 1},
        {Qt::Key_W, Qt::AltModifier, "lblSupportWeb", 2, 1},
        {Qt::Key_S, Qt::AltModifier, "lblSupportWeb", 2, 2},
        {Qt::Key_E, Qt::AltModifier, "lblSupportEmail", 2, 2},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(QKeySequence(step.key | step.modifiers).toString().toStdString() + " to " + step.focused);
        // The offscreen platform gives the activation back to no window when a message box closes.
        m_about->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_about.get()));
        if (step.messages > ui.Shown().count) {
            ui.AnswerWhenShown();
        }
        QTest::keyClick(m_about->windowHandle(), step.key, step.modifiers);
        EXPECT_TRUE(WaitFor([&] { return ui.Shown().count == step.messages; }));
        MessageAnswerer::Settle();
        EXPECT_EQ(m_about->focusWidget()->objectName(), step.focused);
        EXPECT_EQ(catcher.urls.size(), step.urls);
    }
    QTest::keyClick(m_about->windowHandle(), Qt::Key_O, Qt::AltModifier);
    EXPECT_TRUE(WaitFor([&] { return !m_about->isVisible(); }));
    EXPECT_EQ(m_about->result(), QDialog::Accepted);
}

TEST_F(AboutDialog, SystemInformationToolIsTheRegisteredOneOrTheDesktopsFirstOnPath)
{
    // Each program, made in the only folder on PATH, writes its arguments into <program>.ran when started.
    const struct
    {
        const char* registered; // the registry's "PATH" value: a program in that folder; a desktop entry installed
        QStringList programs;
        QString started, arguments; // nothing started: the message instead
    } cases[] = {
        {"msinfo", {"msinfo", "hardinfo"}, "msinfo", ""},
        {"nothing-here", {"hardinfo"}, "", ""}, // no fallback from a registered path
        {nullptr, {"xfce4-about", "kinfocenter", "hardinfo2"}, "hardinfo2", ""},
        {nullptr, {"gnome-control-center"}, "gnome-control-center", "system"},
        // GNOME 45 and older: only the old panel's desktop entry is installed.
        {"gnome-info-overview-panel.desktop", {"gnome-control-center"}, "gnome-control-center", "info-overview"},
        {nullptr, {}, "", ""},
    };
    const QByteArray path = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
    for (const auto& c : cases) {
        const QString bin = TestEnvironment::NewFolder(QStringLiteral("bin-%1").arg(&c - cases));
        SCOPED_TRACE(bin.toStdString());
        qputenv("PATH", bin.toLocal8Bit());
        for (const QString& program : c.programs) {
            const QString script = "#!/bin/sh\necho \"$@\" > \"%1.part\" && /bin/mv \"%1.part\" \"%1.ran\"\n";
            ASSERT_TRUE(TestEnvironment::WriteFile(bin + "/" + program, script.arg(bin + "/" + program).toUtf8()));
            QFile::setPermissions(bin + "/" + program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QString key = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
        MachineStore::DeleteRegValue(MachineStore::Root::LocalMachine, key, "PATH");
        const QString entry = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation) + "/" +
                              (c.registered ? c.registered : "");
        const auto removeEntry = qScopeGuard([&] { QFile::remove(entry); });
        if (c.registered && entry.endsWith(".desktop")) {
            ASSERT_TRUE(TestEnvironment::WriteFile(entry, "[Desktop Entry]\n"));
        } else if (c.registered) {
            MachineStore::WriteRegString(MachineStore::Root::LocalMachine, key, "PATH", bin + "/" + c.registered);
        }
        MessageAnswerer ui;
        Open(m_exe);
        const ShownMessage shown = ui.Answer([&] { Click("cmdSysInfo"); });
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        EXPECT_EQ(shown.text, c.started.isEmpty() ? "System Information Is Unavailable At This Time" : "");
        if (!c.started.isEmpty()) {
            ASSERT_TRUE(WaitFor([&] { return QFile::exists(bin + "/" + c.started + ".ran"); }));
            EXPECT_EQ(TestEnvironment::ReadFile(bin + "/" + c.started + ".ran").trimmed(), c.arguments.toUtf8());
        }
        for (const QString& program : c.programs) {
            EXPECT_EQ(QFile::exists(bin + "/" + program + ".ran"), program == c.started) << program.toStdString();
        }
    }
}

} // namespace

#include "AboutDialogTest.moc"
