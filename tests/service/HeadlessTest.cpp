// The service program as a real child process: its history on standard
// output, its mails to a real server on loopback, the signals that stop it or
// make it read the profile again, and one copy per profile.
#include "SmtpSink.h"
#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "support/ConfigUtility.h"
#include "support/GeneralUtility.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

using TestEnvironment::WaitFor;

// Lets the event loop run for a while: for the cycles of a second that must not mail.
void Pause(int milliseconds)
{
    WaitFor([] { return false; }, milliseconds);
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
    // The libraries the process has mapped.
    QString Maps() const
    {
        return QString::fromUtf8(TestEnvironment::ReadFile(u"/proc/%1/maps"_s.arg(process.processId())));
    }
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

    // A profile mailing to the sink, checking every second; files watched for changes.
    QString ProfileText(const QStringList& files, quint16 port = 0) const
    {
        QString text = u"[General]\nNumberFiles=%1\nPollInterval=1\n[SMTPServer]\nAddress=127.0.0.1\n"
                       "Port=%2\n[Email]\nFrom=sentrel@example.com\nTo=ops@example.org\n"_s.arg(files.size())
                           .arg(port ? port : m_sink.Port());
        for (qsizetype i = 0; i < files.size(); ++i) {
            text += u"[File%1]\nFileName=%2\nLastModified=%3\n"_s.arg(i + 1).arg(
                files.at(i), QFileInfo(files.at(i)).lastModified().toString(u"yyyy-MM-ddTHH:mm:ss"_s));
        }
        return text;
    }
    static QString ProfilePath(const QString& profile = u"Profile1"_s) { return ProfileFormat::ProfilePath(profile); }
    static QString Key(const char* section, const char* name)
    {
        return ConfigUtility::ReadIniString(QLatin1String(section), QLatin1String(name), QString(), ProfilePath());
    }
    static void WriteProfile(const QString& text, const QString& profile = u"Profile1"_s)
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
        EXPECT_TRUE(service.Prints(u"Sentrel started"_s)) << service.err.toStdString();
        return service;
    }

    // The per-user store where the sender keeps its marker while it sends.
    static QString UtilsStore() { return qEnvironmentVariable("XDG_CONFIG_HOME") + u"/Brackwell/Utils.conf"_s; }

    qsizetype Mails() const { return m_sink.Messages().size(); }
    bool MailsReach(qsizetype count) const
    {
        return WaitFor([&] { return m_sink.Messages().size() >= count; }, 6000);
    }

    QString m_folder;
    SmtpSink m_sink;
    std::vector<std::unique_ptr<Service>> m_services;
};

// The window program hands over to the service, which loads no widgets.
TEST_F(Headless, EachChangeIsMailedOnceAndItsHistoryLineGoesToStandardOutput)
{
    const QString nightly = File(u"nightly.csv"_s, 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted({u"--headless"_s}, SENTREL_PROGRAM);
    const QString maps = service.Maps();
    EXPECT_TRUE(maps.contains(u"libQt6Core"_s)) << "not the same process?";
    EXPECT_FALSE(maps.contains(u"libQt6Widgets"_s));
    EXPECT_FALSE(maps.contains(u"libQt6Gui"_s));
    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(1));
    EXPECT_TRUE(service.Prints(u"File:nightly - Changed Notification Email Sent OK"_s));
    // Unchanged for a few cycles: nothing more. A new change is a new mail.
    Pause(2500);
    EXPECT_EQ(Mails(), 1);
    SetAge(nightly, 60);
    ASSERT_TRUE(MailsReach(2));
    Pause(1500);
    EXPECT_EQ(Mails(), 2);
    service.Read();
    static const QRegularExpression lines(
        u"^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  (Sentrel started|File:nightly - Changed "
        "Notification Email Sent OK)\n){3}$"_s);
    EXPECT_TRUE(lines.match(service.out).hasMatch()) << service.out.toStdString();
}

TEST_F(Headless, ControlCharactersOfAFileNameAreWrittenEscaped)
{
    const QString odd = File(u"bell\aesc\x1b[2Jback\\slash.csv"_s, 3600);
    WriteProfile(ProfileText({odd}));
    Service& service = LaunchStarted({u"--headless"_s});
    SetAge(odd, 600);
    EXPECT_TRUE(service.Prints(u"File:bell\\x07esc\\x1b[2Jback\\\\slash - Changed Notification Email Sent OK"_s, 6000))
        << service.out.toStdString();
    EXPECT_FALSE(service.out.contains(QChar(0x1b)));
}

// The mail libraries (GMime, libcurl, TLS) are loaded with the first mail, not before.
TEST_F(Headless, TheMailCodeIsLoadedOnlyForTheFirstMail)
{
    const QString nightly = File(u"nightly.csv"_s, 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted();
    Pause(1500); // a few cycles with nothing to mail
    for (const char* library : {"sentrel-mail.so", "libgmime", "libcurl"}) {
        EXPECT_FALSE(service.Maps().contains(QLatin1String(library))) << library;
    }
    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(1));
    for (const char* library : {"sentrel-mail.so", "libgmime", "libcurl"}) {
        EXPECT_TRUE(service.Maps().contains(QLatin1String(library))) << library;
    }
    EXPECT_TRUE(service.Prints(u"File:nightly - Changed Notification Email Sent OK"_s));
}

TEST_F(Headless, WithoutItsMailModuleTheServiceSaysWhyAndWatchesOn)
{
    // A copy of the program alone in a folder, as a careless copy would leave it.
    const QString bin = m_folder + u"/bin"_s;
    const QString program = bin + u"/sentrel-headless"_s;
    ASSERT_TRUE(QDir().mkpath(bin) && QFile::copy(QString::fromUtf8(SENTREL_HEADLESS), program));
    const QString nightly = File(u"nightly.csv"_s, 3600);
    WriteProfile(ProfileText({nightly}));
    const QByteArray path = program.toUtf8();
    Service& service = LaunchStarted({}, path.constData());
    SetAge(nightly, 600);
    ASSERT_TRUE(service.Prints(u"File:nightly - Changed Notification Email Failed - Reason: The mail "
                               "module sentrel-mail.so is in none of "_s +
                               bin + u"/sentrel-mail.so"_s))
        << service.out.toStdString();
    // Still watching: a later change is tried again, and nothing was ever sent.
    Pause(1500);
    SetAge(nightly, 60);
    EXPECT_TRUE(WaitFor(
        [&] {
            service.Read();
            return service.out.count(u"Notification Email Failed"_s) == 2;
        },
        5000))
        << service.out.toStdString();
    EXPECT_EQ(Mails(), 0);
}

// systemd's credential (LoadCredential=smtp-password:...) outranks the profile's
// password; one that cannot be read (a FIFO must not hang it) is said and passed over.
TEST_F(Headless, TheSmtpPasswordCredentialOutranksTheProfilesPassword)
{
    SmtpSink::Options auth;
    auth.Auth = true;
    SmtpSink sink(auth);
    ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
    struct Case
    {
        const char* name;
        const char* credential; // nullptr: none; empty: a FIFO
        const char* profilePassword;
        const char* outcome;
        bool keyring; // the profile says the window keeps the password in the keyring
    };
    const Case cases[] = {
        {"credential", "s3cret\n", "wrong", "Sent OK", true},
        {"none", nullptr, "wrong", "Failed", true},
        {"fifo", "", "s3cret", "Sent OK", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = m_folder + u"/credentials-"_s + QLatin1String(c.name);
        const QByteArray credential = QFile::encodeName(folder + u"/smtp-password"_s);
        ASSERT_TRUE(QDir().mkpath(folder));
        const bool fifo = c.credential && !*c.credential;
        if (c.credential) {
            ASSERT_TRUE(fifo ? ::mkfifo(credential.constData(), 0600) == 0
                             : TestEnvironment::WriteFile(QFile::decodeName(credential), c.credential));
        }
        const QString nightly = File(u"nightly.csv"_s, 3600);
        const QString password = GeneralUtility::TransformSecret(QLatin1String(c.profilePassword), true);
        WriteProfile(ProfileText({nightly}, sink.Port())
                         .replace(u"Port="_s,
                                  u"LoginName=alice\nPassword=%1\n%2Port="_s.arg(
                                      password, c.keyring ? u"PasswordStore=Keyring\n"_s : QString())));
        qputenv("CREDENTIALS_DIRECTORY", QFile::encodeName(folder));
        Service& service = LaunchStarted();
        qunsetenv("CREDENTIALS_DIRECTORY");
        SetAge(nightly, 600);
        EXPECT_TRUE(service.Prints(u"File:nightly - Changed Notification Email "_s + QLatin1String(c.outcome)))
            << service.out.toStdString();
        EXPECT_EQ(service.err.contains(u"smtp-password cannot be read ("_s), fifo) << service.err.toStdString();
        EXPECT_EQ(service.err.contains(u"in the desktop's keyring, which this service cannot read"_s),
                  c.keyring && !c.credential)
            << service.err.toStdString();
        service.Signal(SIGTERM);
        ASSERT_GE(service.Ends(3000), 0);
    }
}

// Idle, while the server holds the message, or once it has taken it and holds only its goodbye.
TEST_F(Headless, TerminateAndInterruptEndItWithinASecondAndLeaveTheProfileWholeWithTheSendsOutcome)
{
    const std::tuple<int, const char*, const char*> cases[] = {{SIGTERM, nullptr, nullptr},
                                                               {SIGINT, nullptr, nullptr},
                                                               {SIGTERM, "DATA", "Failed"},
                                                               {SIGTERM, "QUIT", "Sent OK"}};
    for (const auto& [number, held, outcome] : cases) {
        SCOPED_TRACE(testing::Message() << number << " " << (held ? held : "idle"));
        SmtpSink::Options options;
        options.Hold = held ? QStringList {QLatin1String(held)} : QStringList {};
        SmtpSink sink(options);
        ASSERT_TRUE(sink.Started()) << sink.Error().toStdString();
        const QString nightly = File(u"nightly.csv"_s, 3600);
        const QString quiet = File(u"quiet.csv"_s, 3600);
        const QString text = ProfileText({nightly, quiet}, sink.Port());
        WriteProfile(text);
        Service& service = LaunchStarted({u"--headless"_s});
        if (held) {
            SetAge(nightly, 600);
            ASSERT_TRUE(WaitFor([&] { return sink.Held(); }, 6000)) << service.out.toStdString();
        }
        service.Signal(number);
        const qint64 took = service.Ends(5000);
        ASSERT_GE(took, 0) << "still sending";
        EXPECT_LT(took, 1000);
        EXPECT_EQ(service.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(service.process.exitCode(), 0);
        if (!held) {
            EXPECT_EQ(QString::fromUtf8(TestEnvironment::ReadFile(ProfilePath())), text);
            continue;
        }
        EXPECT_TRUE(service.out.contains(u"File:nightly - Changed Notification Email "_s + QLatin1String(outcome)))
            << service.out.toStdString();
        EXPECT_FALSE(TestEnvironment::ReadFile(UtilsStore()).contains("SendingToSMTPServer"));
        // The profile is whole: both files, the event recorded as notified.
        EXPECT_EQ(Key("File1", "BeenNotifed"), u"1"_s);
        EXPECT_EQ(Key("File2", "FileName"), quiet);
    }
}

TEST_F(Headless, AMarkerLeftByACutShortSendDoesNotStopTheMails)
{
    ASSERT_TRUE(TestEnvironment::WriteFile(UtilsStore(), "[General]\nSendingToSMTPServer=127.0.0.1\n"));
    const QString nightly = File(u"nightly.csv"_s, 3600);
    WriteProfile(ProfileText({nightly}));
    Service& service = LaunchStarted({u"--headless"_s});
    SetAge(nightly, 600);
    ASSERT_TRUE(MailsReach(1)) << service.out.toStdString();
    // Nobody is asked about the server: the notification goes out and the marker with it.
    service.Read();
    EXPECT_TRUE(service.err.isEmpty()) << service.err.toStdString();
    EXPECT_TRUE(WaitFor([] { return !TestEnvironment::ReadFile(UtilsStore()).contains("SendingToSMTPServer"); }, 3000));
}

TEST_F(Headless, AChangeMadeWhileStoppedIsMailedAtTheFirstCheckOnlyWhenAsked)
{
    for (const bool asked : {true, false}) {
        SCOPED_TRACE(asked);
        const qsizetype before = Mails();
        const QString nightly = File(u"nightly-%1.csv"_s.arg(asked), 3600);
        WriteProfile(ProfileText({nightly}).replace(u"PollInterval=1\n"_s,
                                                    u"PollInterval=1\nNotifyMissedChanges=%1\n"_s.arg(asked)));
        Service& first = LaunchStarted();
        first.Signal(SIGTERM);
        ASSERT_GE(first.Ends(3000), 0);
        SetAge(nightly, 600);
        Service& second = LaunchStarted();
        if (asked) {
            ASSERT_TRUE(MailsReach(before + 1)) << second.out.toStdString();
            EXPECT_TRUE(second.Prints(u"File:nightly-1 - Changed Notification Email Sent OK"_s));
        }
        Pause(2000);
        EXPECT_EQ(Mails(), before + (asked ? 1 : 0));
        second.Signal(SIGTERM);
        ASSERT_GE(second.Ends(3000), 0);
    }
}

TEST_F(Headless, HangUpReadsTheProfileAgain)
{
    const QString nightly = File(u"nightly.csv"_s, 3600);
    WriteProfile(ProfileText({nightly}).replace(u"PollInterval=1"_s, u"PollInterval=3600"_s));
    Service& service = LaunchStarted();
    SetAge(nightly, 600);
    Pause(300);
    EXPECT_TRUE(Key("File1", "NotifyNeeded").isEmpty());
    // Reading compares every file once with its stored time, and saves what it found.
    service.Signal(SIGHUP);
    EXPECT_TRUE(WaitFor([&] { return Key("File1", "NotifyNeeded") == u"1"_s; }, 3000));
    EXPECT_EQ(service.process.state(), QProcess::Running);
}

TEST_F(Headless, AProfileThatCannotBeSavedStaysWholeAndIsReportedOnceOnStandardError)
{
    // A stale file: saved as needing a notification at the start and as notified at every check.
    const QString nightly = File(u"nightly.csv"_s, 3600);
    const QString text = ProfileText({nightly})
                             .replace(u"[SMTPServer]\n"_s, u"[SMTPServer]\nEnabled=0\n"_s)
                             .replace(u"LastModified="_s, u"StaleMins=1\nLastModified="_s);
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
            return service.err.contains(u"(cannot write the new file: File too large)"_s);
        },
        5000))
        << service.err.toStdString();
    Pause(1500); // more checks, each failing to save the same way
    service.Read();
    EXPECT_EQ(service.err.count(u" was not saved ("_s), 1) << service.err.toStdString();
    EXPECT_TRUE(service.err.contains(u"sentrel: Profile "_s + ProfilePath()));
    EXPECT_EQ(QString::fromUtf8(TestEnvironment::ReadFile(ProfilePath())), text);
    EXPECT_EQ(service.process.state(), QProcess::Running);
}

TEST_F(Headless, AProfileThatCannotBeReadEndsItWithStatusOneAndSaysWhereAndWhy)
{
    ASSERT_TRUE(QDir().mkpath(ProfilePath(u"Folder"_s)));
    WriteProfile(QString::fromLatin1("\x01\x02=\x00\x00", 5), u"Binary"_s);
    for (const auto& [profile, problem] :
         {std::pair {"Folder", "it is a folder"}, std::pair {"Binary", "it is not an INI file"}}) {
        SCOPED_TRACE(profile);
        Service& service = Launch({u"--profile"_s, QLatin1String(profile)});
        ASSERT_GE(service.Ends(5000), 0);
        EXPECT_EQ(service.process.exitCode(), 1);
        EXPECT_TRUE(service.err.contains(u"sentrel: the profile "_s + ProfilePath(QLatin1String(profile)) +
                                         u" cannot be read: "_s + QLatin1String(problem) + QLatin1Char('\n')))
            << service.err.toStdString();
        EXPECT_FALSE(service.out.contains(u"Sentrel started"_s));
    }
}

TEST_F(Headless, OneCopyPerProfileWhateverIsDeletedUntilItEnds)
{
    const QString nightly = File(u"nightly.csv"_s, 3600);
    WriteProfile(ProfileText({nightly}));
    WriteProfile(ProfileText({nightly}), u"Night shift"_s);
    Service& first = LaunchStarted({u"--headless"_s});
    // Emptying the runtime folder, where a lock file would be, lets no second copy in.
    const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    for (const QString& name : runtime.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile::remove(runtime.filePath(name));
    }

    Service& again = Launch({u"--headless"_s, u"--profile"_s, u"Profile1"_s});
    EXPECT_GE(again.Ends(5000), 0);
    EXPECT_EQ(again.process.exitCode(), 0);
    EXPECT_TRUE(again.err.contains(u"already watches profile \"Profile1\""_s)) << again.err.toStdString();
    EXPECT_FALSE(again.out.contains(u"Sentrel started"_s));

    // Another profile runs beside it, and so does a copy told not to check.
    Service& other = LaunchStarted({u"--headless"_s, u"--profile=Night shift"_s});
    Service& told = LaunchStarted({u"--headless"_s, u"/noprevcheck"_s});
    EXPECT_EQ(other.process.state(), QProcess::Running);
    EXPECT_EQ(told.process.state(), QProcess::Running);

    // Once the first copy has gone, however it went, the next one runs.
    first.process.kill();
    ASSERT_TRUE(first.process.waitForFinished(5000));
    LaunchStarted({u"--headless"_s});
}

TEST_F(Headless, BadArgumentsAreRefusedWithTheUsage)
{
    struct Case
    {
        QStringList arguments;
        const char* message;
    };
    const std::vector<Case> cases {
        {{u"--headless"_s, u"--profile"_s}, "--profile needs a profile name"},
        {{u"--headless"_s, u"--profile="_s}, "--profile needs a profile name"},
        {{u"--headless"_s, u"--profile"_s, u"../x"_s}, "is not a folder name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        Service& service = Launch(c.arguments);
        ASSERT_GE(service.Ends(5000), 0);
        EXPECT_EQ(service.process.exitCode(), 2);
        EXPECT_TRUE(service.err.contains(QLatin1String(c.message))) << service.err.toStdString();
        EXPECT_TRUE(service.err.contains(u"Usage: sentrel --headless"_s));
    }
}

} // namespace
