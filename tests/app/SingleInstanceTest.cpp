// The real program started as processes: one copy per user unless
// "/NOPREVCHECK" says otherwise, a dead copy's lock taken over, and
// --help/--version answered without a display.
#include "SentrelConfig.h"
#include "TestEnvironment.h"
#include "support/FileSystemUtility.h"

#include <QDir>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

class SingleInstance : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (auto& process : m_processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    QProcess& Launch(const QStringList& arguments)
    {
        m_processes.push_back(std::make_unique<QProcess>());
        QProcess& process = *m_processes.back();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(SENTREL_PROGRAM), arguments);
        EXPECT_TRUE(process.waitForStarted(5000));
        return process;
    }

    // Every line the copies logged, from the program's daily log files.
    static QString ProgramLog()
    {
        QString text;
        const QDir folder(FileSystemUtility::DefaultLogFolder());
        for (const QString& name : folder.entryList({QStringLiteral("sentrel.*.log")}, QDir::Files, QDir::Name)) {
            text += QString::fromUtf8(TestEnvironment::ReadFile(folder.filePath(name)));
        }
        return text;
    }
    static bool LogCountReaches(const QString& line, int count)
    {
        return TestEnvironment::WaitFor([&] { return ProgramLog().count(line) >= count; }, 15000);
    }

    const QString m_started = QStringLiteral("History: Sentrel started");
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

TEST_F(SingleInstance, SecondCopyEndsAtOnceUnlessToldOrTheFirstHasCrashed)
{
    QProcess& first = Launch({QStringLiteral("/DEBUG=NORMAL")});
    ASSERT_TRUE(LogCountReaches(m_started, 1)) << ProgramLog().toStdString();

    QProcess& second = Launch({QStringLiteral("/DEBUG=NORMAL")});
    ASSERT_TRUE(second.waitForFinished(15000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    const QString log = ProgramLog();
    EXPECT_EQ(log.count(QStringLiteral("Check if already running")), 2);
    EXPECT_EQ(log.count(QStringLiteral("Exit as App already running")), 1);
    EXPECT_GT(log.indexOf(QStringLiteral("Exit as App already running")),
              log.lastIndexOf(QStringLiteral("Check if already running")));
    EXPECT_EQ(log.count(m_started), 1);
    EXPECT_EQ(first.state(), QProcess::Running);

    // The switch in lower case: both copies run.
    QProcess& third = Launch({QStringLiteral("/noprevcheck"), QStringLiteral("/DEBUG=NORMAL")});
    ASSERT_TRUE(LogCountReaches(m_started, 2)) << ProgramLog().toStdString();
    EXPECT_EQ(first.state(), QProcess::Running);
    EXPECT_EQ(third.state(), QProcess::Running);
    EXPECT_EQ(ProgramLog().count(QStringLiteral("Exit as App already running")), 1);

    // SIGKILL leaves nothing of the first copy's own to clean up: its lock is taken over.
    first.kill();
    ASSERT_TRUE(first.waitForFinished(5000));
    QProcess& next = Launch({QStringLiteral("/DEBUG=NORMAL")});
    ASSERT_TRUE(LogCountReaches(m_started, 3)) << ProgramLog().toStdString();
    EXPECT_EQ(next.state(), QProcess::Running);
    EXPECT_EQ(ProgramLog().count(QStringLiteral("Exit as App already running")), 1);
}

TEST_F(SingleInstance, HelpAndVersionPrintAndExitWithoutADisplay)
{
    struct Case
    {
        const char* argument;
        const char* expected;
    };
    const Case cases[] = {{"--help", "Usage: sentrel"}, {"--version", "sentrel " SENTREL_VERSION}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // A platform that needs a display, and none: only an answer before the GUI starts works.
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SENTREL_PROGRAM), {QLatin1String(c.argument)});
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_TRUE(process.readAllStandardOutput().startsWith(c.expected));
    }
}

} // namespace
