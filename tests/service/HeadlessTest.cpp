// The service program as a real child process: its history on standard
// output, its mails to a real server on loopback, the signals that stop it or
// make it read the profile again, edits to the profile on disk, and one copy
// per profile.
#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "support/ConfigUtility.h"
#include "support/FileSystemUtility.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <utime.h>
#include <vector>

namespace {

// One application object for the process, made after the test main has set the XDG places.
class CoreApplication : public ::testing::Environment
{
public:
    void SetUp() override { m_app = std::make_unique<QCoreApplication>(m_argc, m_argv); }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "test_headless";
    char* m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};
[[maybe_unused]] ::testing::Environment* const g_app = ::testing::AddGlobalTestEnvironment(new CoreApplication);

bool WaitFor(const std::function<bool()>& condition, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Lets the event loop run for a while: for the cycles of a second that must not mail.
void Pause(int milliseconds)
{
    WaitFor([] { return false; }, milliseconds);
}

// Every line the services logged, from their daily log files.
QString ServiceLog()
{
    QString text;
    const QDir folder(FileSystemUtility::DefaultLogFolder());
    for (const QString& name : folder.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
        text += QString::fromUtf8(TestEnvironment::ReadFile(folder.filePath(name)));
    }
    return text;
}

// A copy of the service with everything it printed so far.
struct Service
{
    QProcess process;
    QString out;
    QString err;

    void Read()
    {
        out += QString::fromUtf8(process.readAllStandardOutput());
        err += QString::fromUtf8(process.readAllStandardError());
    }
    bool Prints(const QString& text, int milliseconds = 5000)
    {
        return WaitFor(
            [&] {
                Read();
                return out.contains(text);
            },
            milliseconds);
    }
    void Signal(int number) const { ::kill(static_cast<pid_t>(process.processId()), number); }
    // Waits for the end; the elapsed time in ms, or -1 when it did not end in time.
    qint64 Ends(int milliseconds)
    {
        QElapsedTimer clock;
        clock.start();
        if (!process.waitForFinished(milliseconds)) {
            return -1;
        }
        Read();
        return clock.elapsed();
    }
};

class Headless : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QFile::remove(UtilsStore());
        m_folder = TestEnvironment::NewFolder(
            QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        ASSERT_TRUE(m_sink.Started()) << m_sink.Error().toStdString();
    }
    void TearDown() override
    {
        for (auto& service : m_services) {
            // Stopped as a service is, so no send is cut short and no marker left for the next test.
            if (service->process.state() != QProcess::NotRunning) {
                service->Signal(SIGTERM);
                if (!service->process.waitForFinished(3000)) {
                    service->process.kill();
                    service->process.waitForFinished(5000);
                }
            }
        }
    }

    // A watched file last modified `age` seconds ago.
    QString File(const QString& name, qint64 age)
    {
        const QString path = m_folder + QLatin1Char('/') + name;
        EXPECT_TRUE(TestEnvironment::WriteFile(path, "data\n"));
        SetAge(path, age);
        return path;
    }
    static void SetAge(const QString& path, qint64 age)
    {
        EXPECT_TRUE(TestEnvironment::SetModified(path, QDateTime::currentSecsSinceEpoch() - age));
    }
    static QString Stamp(const QString& path)
    {
        struct stat info = {};
        ::stat(QFile::encodeName(path).constData(), &info);
        return QDateTime::fromSecsSinceEpoch(info.st_mtim.tv_sec).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    }

    // A profile mailing to the sink, checking every second; files watched for changes.
    QString ProfileText(const QStringList& files, quint16 port = 0) const
    {
        QString text = QStringLiteral("[General]\nNumberFiles=%1\nPollInterval=1\n[SMTPServer]\nAddress=127.0.0.1\n"
                                      "Port=%2\n[Email]\nFrom=sentrel@example.com\nTo=ops@example.org\n")
                           .arg(files.size())
                           .arg(port ? port : m_sink.Port());
        for (qsizetype i = 0; i < files.size(); ++i) {
            text += QStringLiteral("[File%1]\nFileName=%2\nLastModified=%3\n")
                        .arg(i + 1)
                        .arg(files.at(i), Stamp(files.at(i)));
        }
        return text;
    }
    static QString ProfilePath(const QString& profile = QStringLiteral("Profile1"))
    {
        return ProfileFormat::ProfilePath(profile);
    }
    static void WriteProfile(const QString& text, const QString& profile = QStringLiteral("Profile1"))
    {
        ASSERT_TRUE(TestEnvironment::WriteFile(ProfilePath(profile), text.toUtf8()));
    }

    Service& Launch(const QStringList& arguments,
                    const char* program = SENTREL_HEADLESS,
                    const std::function<void()>& inChild = {})
    {
        m_services.push_back(std::make_unique<Service>());
        Service& service = *m_services.back();
        if (inChild) {
            service.process.setChildProcessModifier(inChild);
        }
        service.process.start(QString::fromUtf8(program), arguments);
        EXPECT_TRUE(service.process.waitForStarted(5000));
        return service;
    }
    Service& LaunchStarted(const QStringList& arguments = {},
                           const char* program = SENTREL_HEADLESS,
                           const std::function<void()>& inChild = {})
    {
        Service& service = Launch(arguments, program, inChild);
        EXPECT_TRUE(service.Prints(QStringLiteral("Sentrel started"))) << service.err.toStdString();
        return service;
    }

    // The per-user store where the sender keeps its marker while it sends.
    static QString UtilsStore()
    {
        return qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Brackwell/Utils.conf");
    }

    qsizetype Mails() const { return m_sink.Messages().size(); }
    bool MailsReach(qsizetype count, int milliseconds = 6000) const { return MailsReach(m_sink, count, milliseconds); }
    static bool MailsReach(const SmtpSink& sink, qsizetype count, int milliseconds = 6000)
    {
        return WaitFor([&] { return sink.Messages().size() >= count; }, milliseconds);
    }

    QString m_folder;
    SmtpSink m_sink;
    std::vector<std::unique_ptr<Service>> m_services;
};

TEST_F(Headless, EachChangeIsMailedOnceAndItsHistoryLineGoesToStandardOutput)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted({QStringLiteral("--headless")});
    static const QRegularExpression timed(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  Sentrel started\\n"));
    EXPECT_TRUE(timed.match(service.out).hasMatch()) << service.out.toStdString();

    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(1));
    EXPECT_TRUE(service.Prints(QStringLiteral("File:nightly - Changed Notification Email Sent OK")))
        << service.out.toStdString();
    EXPECT_EQ(m_sink.Messages().first().RcptTos, QStringList {QStringLiteral("ops@example.org")});

    // Unchanged for a few cycles: nothing more. A new change is a new mail.
    Pause(2500);
    EXPECT_EQ(Mails(), 1);
    SetAge(nightly, 60);
    ASSERT_TRUE(MailsReach(2));
    Pause(1500);
    EXPECT_EQ(Mails(), 2);

    service.Read();
    const QStringList lines = service.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_EQ(lines.size(), 3) << service.out.toStdString();
    EXPECT_EQ(
        ConfigUtility::ReadIniString(QStringLiteral("File1"), QStringLiteral("LastModified"), QString(), ProfilePath()),
        Stamp(nightly));
}

TEST_F(Headless, ControlCharactersOfAFileNameAreWrittenEscaped)
{
    const QString odd = File(QStringLiteral("bell\aesc\x1b[2Jback\\slash.csv"), 3600);
    WriteProfile(ProfileText({odd}));
    Service& service = LaunchStarted({QStringLiteral("--headless")});
    SetAge(odd, 600);
    EXPECT_TRUE(service.Prints(
        QStringLiteral("File:bell\\x07esc\\x1b[2Jback\\\\slash - Changed Notification Email Sent OK"), 6000))
        << service.out.toStdString();
    EXPECT_FALSE(service.out.contains(QChar(0x1b)));
}

TEST_F(Headless, TheWindowProgramHandsOverToTheServiceWithoutWidgets)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted({QStringLiteral("--headless")}, SENTREL_PROGRAM);
    const QString maps =
        QString::fromUtf8(TestEnvironment::ReadFile(QStringLiteral("/proc/%1/maps").arg(service.process.processId())));
    EXPECT_TRUE(maps.contains(QLatin1String("libQt6Core"))) << "not the same process?";
    EXPECT_FALSE(maps.contains(QLatin1String("libQt6Widgets")));
    EXPECT_FALSE(maps.contains(QLatin1String("libQt6Gui")));
    SetAge(nightly, 600);
    EXPECT_TRUE(MailsReach(1));
}

// The mail libraries (GMime, libcurl, TLS) are loaded with the first mail, not before.
TEST_F(Headless, TheMailCodeIsLoadedOnlyForTheFirstMail)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted();
    const auto maps = [&] {
        return QString::fromUtf8(
            TestEnvironment::ReadFile(QStringLiteral("/proc/%1/maps").arg(service.process.processId())));
    };
    Pause(1500); // a few cycles with nothing to mail
    for (const char* library : {"sentrel-mail.so", "libgmime", "libcurl"}) {
        EXPECT_FALSE(maps().contains(QLatin1String(library))) << library;
    }
    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(1));
    for (const char* library : {"sentrel-mail.so", "libgmime", "libcurl"}) {
        EXPECT_TRUE(maps().contains(QLatin1String(library))) << library;
    }
    EXPECT_TRUE(service.Prints(QStringLiteral("File:nightly - Changed Notification Email Sent OK")));
}

TEST_F(Headless, WithoutItsMailModuleTheServiceSaysWhyAndWatchesOn)
{
    // A copy of the program alone in a folder, as a careless copy would leave it.
    const QString bin = m_folder + QStringLiteral("/bin");
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString program = bin + QStringLiteral("/sentrel-headless");
    ASSERT_TRUE(QFile::copy(QString::fromUtf8(SENTREL_HEADLESS), program));
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    const QByteArray path = program.toUtf8();
    Service& service = LaunchStarted({}, path.constData());

    SetAge(nightly, 600);
    ASSERT_TRUE(service.Prints(QStringLiteral("File:nightly - Changed Notification Email Failed - Reason: The mail "
                                              "module sentrel-mail.so is in none of ") +
                               bin + QStringLiteral("/sentrel-mail.so")))
        << service.out.toStdString();
    // Marked as notified all the same, as after any failed send.
    EXPECT_TRUE(WaitFor(
        [] {
            return ConfigUtility::ReadIniString(
                       QStringLiteral("File1"), QStringLiteral("BeenNotifed"), QString(), ProfilePath()) ==
                   QLatin1String("1");
        },
        3000));
    // Still watching: a later change (after a quiet cycle) is tried again, and nothing was ever sent.
    Pause(1500);
    SetAge(nightly, 60);
    EXPECT_TRUE(WaitFor(
        [&] {
            service.Read();
            return service.out.count(QStringLiteral("Notification Email Failed")) == 2;
        },
        5000))
        << service.out.toStdString();
    EXPECT_EQ(service.process.state(), QProcess::Running);
    EXPECT_EQ(Mails(), 0);
}

TEST_F(Headless, TerminateAndInterruptEndItWithinASecondAndLeaveTheProfileWhole)
{
    for (const int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(number);
        const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
        const QString text = ProfileText({nightly});
        WriteProfile(text);
        Service& service = LaunchStarted({QStringLiteral("--headless")});
        service.Signal(number);
        const qint64 took = service.Ends(3000);
        ASSERT_GE(took, 0);
        EXPECT_LT(took, 1000);
        EXPECT_EQ(service.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(service.process.exitCode(), 0);
        EXPECT_EQ(QString::fromUtf8(TestEnvironment::ReadFile(ProfilePath())), text);
    }
}

TEST_F(Headless, TerminateEndsASendWithinASecondWhateverTheServerHoldsBack)
{
    struct Case
    {
        const char* name;
        SmtpSink::Options options;
        const char* profileExtra;
        const char* outcome;
    };
    const auto holding = [](const char* command, bool auth = false) {
        SmtpSink::Options options;
        options.Hold = QStringList {QLatin1String(command)};
        options.Auth = auth;
        return options;
    };
    SmtpSink::Options silent;
    silent.Silent = true;
    SmtpSink::Options slow;
    slow.DataDelayMs = 600000;
    const Case cases[] = {
        {"greeting", silent, "", "Failed"},
        {"TLS handshake", silent, "Security=TLS\n", "Failed"},
        {"EHLO", holding("EHLO"), "", "Failed"},
        {"login", holding("AUTH", true), "LoginName=alice\nPassword=s3cret\n", "Failed"},
        {"MAIL", holding("MAIL"), "", "Failed"},
        {"RCPT", holding("RCPT"), "", "Failed"},
        {"DATA", holding("DATA"), "", "Failed"},
        {"the message", slow, "", "Failed"},
        // The server has taken the message; only its goodbye is missing.
        {"QUIT", holding("QUIT"), "", "Sent OK"},
    };
    const QString marker = QStringLiteral("SendingToSMTPServer=127.0.0.1");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SmtpSink sink(c.options);
        ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
        const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
        const QString quiet = File(QStringLiteral("quiet.csv"), 3600);
        WriteProfile(
            ProfileText({nightly, quiet}, sink.Port())
                .replace(QStringLiteral("[Email]"), QLatin1String(c.profileExtra) + QStringLiteral("[Email]")));
        Service& service = LaunchStarted({QStringLiteral("--headless"), QStringLiteral("/DEBUG")});
        SetAge(nightly, 600);
        ASSERT_TRUE(WaitFor([&] { return sink.Held(); }, 6000)) << service.out.toStdString();
        ASSERT_TRUE(TestEnvironment::ReadFile(UtilsStore()).contains(marker.toUtf8()));

        service.Signal(SIGTERM);
        const qint64 took = service.Ends(5000);
        ASSERT_GE(took, 0) << "still sending";
        EXPECT_LT(took, 1500);
        EXPECT_EQ(service.process.exitCode(), 0);
        EXPECT_TRUE(service.out.contains(QStringLiteral("File:nightly - Changed Notification Email ") +
                                         QLatin1String(c.outcome)))
            << service.out.toStdString();
        EXPECT_FALSE(TestEnvironment::ReadFile(UtilsStore()).contains(marker.toUtf8()));
        // The profile is whole: both files, the event recorded as notified.
        const auto key = [](const char* section, const char* name) {
            return ConfigUtility::ReadIniString(QLatin1String(section), QLatin1String(name), QString(), ProfilePath());
        };
        EXPECT_EQ(key("File1", "BeenNotifed"), QStringLiteral("1"));
        EXPECT_EQ(key("File2", "FileName"), quiet);
    }
}

TEST_F(Headless, AMarkerLeftByACutShortSendDoesNotStopTheMails)
{
    ASSERT_TRUE(TestEnvironment::WriteFile(UtilsStore(), "[General]\nSendingToSMTPServer=127.0.0.1\n"));
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted({QStringLiteral("--headless")});
    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(1)) << service.out.toStdString();
    // Nobody is asked about the server: the notification goes out and the marker with it.
    service.Read();
    EXPECT_TRUE(service.err.isEmpty()) << service.err.toStdString();
    EXPECT_TRUE(WaitFor([] { return !TestEnvironment::ReadFile(UtilsStore()).contains("SendingToSMTPServer"); }, 3000));
}

TEST_F(Headless, AnEditOnDiskIsPickedUpWithoutASignal)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    const QString weekly = File(QStringLiteral("weekly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted({QStringLiteral("--headless")});
    // Saved as editors do: a new file renamed over the old one.
    const QString next = ProfilePath() + QStringLiteral(".new");
    ASSERT_TRUE(TestEnvironment::WriteFile(next, ProfileText({nightly, weekly}).toUtf8()));
    ASSERT_EQ(::rename(QFile::encodeName(next).constData(), QFile::encodeName(ProfilePath()).constData()), 0);
    Pause(1500);

    SetAge(weekly, 600);
    ASSERT_TRUE(MailsReach(1)) << service.out.toStdString();
    EXPECT_TRUE(service.Prints(QStringLiteral("File:weekly - Changed Notification Email Sent OK")));
}

TEST_F(Headless, AnEditThatACycleMergedIntoItsSaveIsReadAfterThatCycle)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    const QString weekly = File(QStringLiteral("weekly.csv"), 3600);
    // The server writes the edit over the profile while the service waits for
    // its answer; the service then saves the file as notified into the edited file.
    const QString edit = m_folder + QStringLiteral("/edit.ini");
    SmtpSink::Options options;
    options.CopyFrom = edit;
    options.CopyTo = ProfilePath();
    const SmtpSink editing(options);
    ASSERT_TRUE(editing.Started()) << editing.Error().toStdString();
    ASSERT_TRUE(TestEnvironment::WriteFile(edit, ProfileText({nightly, weekly}, editing.Port()).toUtf8()));
    WriteProfile(ProfileText({nightly}, editing.Port()));
    Service& service = LaunchStarted({QStringLiteral("--headless")});

    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(editing, 1));
    EXPECT_TRUE(service.Prints(QStringLiteral("File:nightly - Changed Notification Email Sent OK")));
    EXPECT_EQ(ConfigUtility::ReadIniString(
                  QStringLiteral("General"), QStringLiteral("NumberFiles"), QString(), ProfilePath()),
              QStringLiteral("2"));

    // The file the edit added is watched from then on. (A change made before
    // the reading is taken as the file's known state, as after any reload.)
    Pause(1500);
    SetAge(weekly, 600);
    ASSERT_TRUE(MailsReach(editing, 2)) << service.out.toStdString();
    EXPECT_TRUE(service.Prints(QStringLiteral("File:weekly - Changed Notification Email Sent OK")));
    Pause(1500);
    EXPECT_EQ(editing.Messages().size(), 2);
}

TEST_F(Headless, AnEditIsReadEvenWhenACheckRunsBeforeItSettles)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    const QString weekly = File(QStringLiteral("weekly.csv"), 3600);
    // Checks come only from events: a new file in the watched folder starts one
    // sooner than the edit of the profile is looked at.
    const auto eventsOnly = [&](const QStringList& files) {
        return ProfileText(files).replace(QStringLiteral("PollInterval=1\n"),
                                          QStringLiteral("PollInterval=3600\nWatchEvents=1\n"));
    };
    WriteProfile(eventsOnly({nightly}));
    Service& service = LaunchStarted({QStringLiteral("--headless")});
    Pause(300);
    const QString next = ProfilePath() + QStringLiteral(".new");
    ASSERT_TRUE(TestEnvironment::WriteFile(next, eventsOnly({nightly, weekly}).toUtf8()));
    ASSERT_EQ(::rename(QFile::encodeName(next).constData(), QFile::encodeName(ProfilePath()).constData()), 0);
    ASSERT_TRUE(TestEnvironment::WriteFile(m_folder + QStringLiteral("/unrelated.tmp"), "x"));
    Pause(1000);

    SetAge(weekly, 600);
    ASSERT_TRUE(MailsReach(1, 4000)) << service.out.toStdString();
    EXPECT_TRUE(service.Prints(QStringLiteral("File:weekly - Changed Notification Email Sent OK")));
}

TEST_F(Headless, AChangeMadeDuringASlowSendIsMailedByTheNextCycle)
{
    const QString first = File(QStringLiteral("first.csv"), 3600);
    const QString second = File(QStringLiteral("second.csv"), 3600);
    // Long enough for the service to see its own save of the profile while it waits.
    SmtpSink::Options options;
    options.DataDelayMs = 800;
    const SmtpSink slow(options);
    ASSERT_TRUE(slow.Started()) << slow.Error().toStdString();
    WriteProfile(ProfileText({first, second}, slow.Port()));
    Service& service = LaunchStarted({QStringLiteral("--headless")});

    SetAge(second, 600);
    ASSERT_TRUE(MailsReach(slow, 1));
    SetAge(first, 600); // while the server has not yet answered
    ASSERT_TRUE(service.Prints(QStringLiteral("File:second - Changed Notification Email Sent OK")));
    ASSERT_TRUE(MailsReach(slow, 2)) << service.out.toStdString();
    EXPECT_TRUE(service.Prints(QStringLiteral("File:first - Changed Notification Email Sent OK")));
}

TEST_F(Headless, AnEditInPlaceWithTheSameSizeAndTimeIsSeenAndHangUpReadsAgain)
{
    const QString first = File(QStringLiteral("first.csv"), 3600);
    const QString other = File(QStringLiteral("other.csv"), 3600);
    WriteProfile(ProfileText({first}));
    Service& service = LaunchStarted({QStringLiteral("--headless"), QStringLiteral("/DEBUG=NORMAL")});
    // Rewritten in place with the same size and time: the change time still tells.
    const QString path = ProfilePath();
    struct stat before = {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    QString text = ProfileText({first});
    text.replace(QStringLiteral("first.csv"), QStringLiteral("other.csv"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write(text.toUtf8()), before.st_size);
    file.close();
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    Pause(1500);
    SetAge(other, 600);
    ASSERT_TRUE(MailsReach(1)) << service.out.toStdString();
    EXPECT_TRUE(service.Prints(QStringLiteral("File:other - Changed Notification Email Sent OK")));

    // A hang-up reads the same profile again; the service goes on, and a
    // change after it is mailed once.
    service.Signal(SIGHUP);
    ASSERT_TRUE(
        WaitFor([] { return ServiceLog().contains(QLatin1String("SIGHUP: reading the profile again")); }, 5000));
    Pause(300);
    SetAge(other, 300);
    ASSERT_TRUE(MailsReach(2)) << service.out.toStdString();
    Pause(1500);
    EXPECT_EQ(Mails(), 2);
    EXPECT_EQ(service.process.state(), QProcess::Running);
}

TEST_F(Headless, WithWatchEventsAChangeIsMailedLongBeforeThePollAndABurstChecksOnce)
{
    struct Case
    {
        bool watch;
        bool mailedAtOnce;
    };
    for (const Case c : {Case {true, true}, Case {false, false}}) {
        SCOPED_TRACE(c.watch);
        const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
        QString text = ProfileText({nightly});
        text.replace(QStringLiteral("PollInterval=1\n"), QStringLiteral("PollInterval=600\n"));
        if (c.watch) {
            text.replace(QStringLiteral("[General]\n"), QStringLiteral("[General]\nWatchEvents=1\n"));
        }
        WriteProfile(text);
        const qsizetype before = Mails();
        Service& service = LaunchStarted({QStringLiteral("--headless"), QStringLiteral("/DEBUG=NORMAL")});
        const qsizetype cyclesBefore = ServiceLog().count(QLatin1String("CheckFiles True"));

        // Twenty writes at once, the last one giving the file a new time.
        QFile file(nightly);
        ASSERT_TRUE(file.open(QIODevice::Append));
        for (int i = 0; i < 20; ++i) {
            file.write("more\n");
            file.flush();
        }
        file.close();
        SetAge(nightly, 5);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(MailsReach(before + 1, 2000), c.mailedAtOnce) << service.out.toStdString();
        if (c.mailedAtOnce) {
            EXPECT_LT(clock.elapsed(), 1000);
            Pause(300);
            EXPECT_EQ(Mails(), before + 1);
            const qsizetype cycles = ServiceLog().count(QLatin1String("CheckFiles True")) - cyclesBefore;
            EXPECT_GE(cycles, 1);
            EXPECT_LE(cycles, 3) << "a cycle for each event";
        }
        service.Signal(SIGTERM);
        EXPECT_GE(service.Ends(3000), 0);
    }
}

TEST_F(Headless, AProfileThatCannotBeSavedStaysWholeAndIsReportedOnceOnStandardError)
{
    // A stale file: saved as needing a notification at the start and as notified at every check.
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    const QString text = ProfileText({nightly})
                             .replace(QStringLiteral("[SMTPServer]\n"), QStringLiteral("[SMTPServer]\nEnabled=0\n"))
                             .replace(QStringLiteral("LastModified="), QStringLiteral("StaleMins=1\nLastModified="));
    WriteProfile(text);
    // The system refuses the service every write past the profile's present size.
    static rlim_t limit = 0;
    limit = static_cast<rlim_t>(text.toUtf8().size());
    Service& service = LaunchStarted({}, SENTREL_HEADLESS, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit fileSize = {limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
    });
    ASSERT_TRUE(WaitFor(
        [&] {
            service.Read();
            return service.err.contains(QLatin1String("(cannot write the new file: File too large)"));
        },
        5000))
        << service.err.toStdString();
    Pause(1500); // more checks, each failing to save the same way
    service.Read();
    EXPECT_EQ(service.err.count(QLatin1String(" was not saved (")), 1) << service.err.toStdString();
    EXPECT_TRUE(service.err.contains(QStringLiteral("sentrel: Profile ") + ProfilePath()));
    EXPECT_EQ(QString::fromUtf8(TestEnvironment::ReadFile(ProfilePath())), text);
    EXPECT_EQ(service.process.state(), QProcess::Running);
}

TEST_F(Headless, AProfileThatCannotBeReadEndsItWithStatusOneAndSaysWhereAndWhy)
{
    ASSERT_TRUE(QDir().mkpath(ProfilePath(QStringLiteral("Folder"))));
    WriteProfile(QString::fromLatin1("\x01\x02=\x00\x00", 5), QStringLiteral("Binary"));
    for (const auto& [profile, problem] :
         {std::pair {"Folder", "it is a folder"}, std::pair {"Binary", "it is not an INI file"}}) {
        SCOPED_TRACE(profile);
        Service& service = Launch({QStringLiteral("--profile"), QLatin1String(profile)});
        ASSERT_GE(service.Ends(5000), 0);
        EXPECT_EQ(service.process.exitCode(), 1);
        EXPECT_TRUE(service.err.contains(QStringLiteral("sentrel: the profile ") + ProfilePath(QLatin1String(profile)) +
                                         QStringLiteral(" cannot be read: ") + QLatin1String(problem) +
                                         QLatin1Char('\n')))
            << service.err.toStdString();
        EXPECT_FALSE(service.out.contains(QLatin1String("Sentrel started")));
    }
}

TEST_F(Headless, TheLargestFileListIsCheckedToItsLastFile)
{
    // Clamped to 32,767 files, of which only the last has a name.
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly})
                     .replace(QStringLiteral("NumberFiles=1"), QStringLiteral("NumberFiles=2000000000"))
                     .replace(QStringLiteral("[File1]"), QStringLiteral("[File32767]")));
    Service& service = LaunchStarted();
    SetAge(nightly, 600);
    EXPECT_TRUE(service.Prints(QStringLiteral("File:nightly - Changed Notification Email Sent OK")))
        << service.err.toStdString();
    EXPECT_EQ(service.process.state(), QProcess::Running);
}

TEST_F(Headless, OneCopyPerProfileWhateverIsDeletedUntilItEnds)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    WriteProfile(ProfileText({nightly}), QStringLiteral("Night shift"));
    Service& first = LaunchStarted({QStringLiteral("--headless")});
    // Emptying the runtime folder, where a lock file would be, lets no second copy in.
    const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    for (const QString& name : runtime.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile::remove(runtime.filePath(name));
    }

    Service& again = Launch({QStringLiteral("--headless"), QStringLiteral("--profile"), QStringLiteral("Profile1")});
    EXPECT_GE(again.Ends(5000), 0);
    EXPECT_EQ(again.process.exitCode(), 0);
    EXPECT_TRUE(again.err.contains(QLatin1String("already watches profile \"Profile1\""))) << again.err.toStdString();
    EXPECT_FALSE(again.out.contains(QLatin1String("Sentrel started")));

    // Another profile runs beside it, and so does a copy told not to check.
    Service& other = LaunchStarted({QStringLiteral("--headless"), QStringLiteral("--profile=Night shift")});
    Service& told = LaunchStarted({QStringLiteral("--headless"), QStringLiteral("/noprevcheck")});
    EXPECT_EQ(other.process.state(), QProcess::Running);
    EXPECT_EQ(told.process.state(), QProcess::Running);

    // Once the first copy has gone, however it went, the next one runs.
    first.process.kill();
    ASSERT_TRUE(first.process.waitForFinished(5000));
    LaunchStarted({QStringLiteral("--headless")});
}

TEST_F(Headless, ALogFolderThatCannotBeMadeIsReportedOnceAndTheServiceGoesOn)
{
    const QString nightly = File(QStringLiteral("nightly.csv"), 3600);
    WriteProfile(ProfileText({nightly}));
    // The default log folder would lie below a regular file, whose name standard error shows escaped.
    const QString blocker = File(QStringLiteral("block\x1b-er"), 0);
    const QByteArray stateHome = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(blocker));
    Service& service = LaunchStarted({QStringLiteral("--headless"), QStringLiteral("/DEBUG")});
    qputenv("XDG_STATE_HOME", stateHome);
    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(1)) << service.err.toStdString();
    service.Read();
    EXPECT_EQ(service.err,
              QStringLiteral("sentrel: The Debug Files folder could not be created in '") + m_folder +
                  QStringLiteral("/block\\x1b-er/DebugFiles'!\n"));
    EXPECT_EQ(service.process.state(), QProcess::Running);
}

TEST_F(Headless, BadArgumentsAreRefusedWithTheUsage)
{
    struct Case
    {
        QStringList arguments;
        const char* message;
    };
    const std::vector<Case> cases {
        {{QStringLiteral("--headless"), QStringLiteral("--profile")}, "--profile needs a profile name"},
        {{QStringLiteral("--headless"), QStringLiteral("--profile=")}, "--profile needs a profile name"},
        {{QStringLiteral("--headless"), QStringLiteral("--profile"), QStringLiteral("../x")}, "is not a folder name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        Service& service = Launch(c.arguments);
        ASSERT_GE(service.Ends(5000), 0);
        EXPECT_EQ(service.process.exitCode(), 2);
        EXPECT_TRUE(service.err.contains(QLatin1String(c.message))) << service.err.toStdString();
        EXPECT_TRUE(service.err.contains(QLatin1String("Usage: sentrel --headless")));
    }
}

} // namespace
