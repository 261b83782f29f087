#include "support/DebugLog.h"
#include "ScriptedUi.h"
#include "TestEnvironment.h"
#include "support/Clock.h"
#include "support/GeneralUtility.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// 2025-01-15 14:05:09 in Berlin (tests run with TZ=Europe/Berlin).
const qint64 kMoment = QDateTime(QDate(2025, 1, 15), QTime(14, 5, 9), QTimeZone("Europe/Berlin")).toMSecsSinceEpoch();

class DiagnosticLog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetDebugLogState();
        m_machine.clear();
        m_machine.sync();
        UserInterface::Install(&m_ui);
        SetCommandLine(QString());
        SetDebugPath(m_logDir + u"/"_s);
    }
    void TearDown() override
    {
        UserInterface::Install(nullptr);
        ResetDebugLogState();
    }
    // The executable's name names the log files.
    static void SetCommandLine(const QString& line) { GeneralUtility::SetApp({{}, {}, u"Sentrel"_s, {}, {}, line}); }
    [[nodiscard]] QString Day(const char* date) const { return m_logDir + u"/Sentrel.%1.log"_s.arg(date); }
    [[nodiscard]] QByteArray Read(const char* date) const { return TestEnvironment::ReadFile(Day(date)); }

    QString m_logDir = TestEnvironment::NewFolder(u"log"_s);
    QSettings m_machine {QSettings::SystemScope, u"Brackwell"_s};
    ScriptedUi m_ui;
    FixedClock m_clock {kMoment};
};

} // namespace

TEST_F(DiagnosticLog, LevelComesFromTheSwitchOrTheMachineWideValue)
{
    // The command line, DebugMode (-100: none) and the level.
    const std::tuple<const char*, int, qint32> cases[] = {
        {"", -100, 0},
        {"", 7, 7},
        {"/DEBUG", -100, 10},
        {"/debug=normal", -100, 5},
        {"/DEBUG=\"MAX\"", -100, 10},
        {"/DEBUG=LOUD", -100, 10},
        {"/DEBUG=NONE", 7, 0},
        {"/NOPREVCHECK /DEBUG=off", 7, 0},
        {"/DEBUG = NORMAL", -100, 10},
    };
    for (const auto& [commandLine, debugMode, level] : cases) {
        SCOPED_TRACE(testing::Message() << commandLine << " DebugMode " << debugMode);
        ResetDebugLogState();
        m_machine.clear();
        if (debugMode != -100) {
            m_machine.setValue(u"DebugMode"_s, debugMode);
        }
        m_machine.sync();
        SetCommandLine(QString::fromLatin1(commandLine));
        InitDebugLevel();
        EXPECT_EQ(DebugLevel(), level);
    }
    // Only once: a second call leaves the level as it is.
    SetCommandLine(u"/DEBUG=NONE"_s);
    InitDebugLevel();
    EXPECT_EQ(DebugLevel(), 10);
}

TEST_F(DiagnosticLog, NothingIsWrittenWhileLoggingIsOff)
{
    DebugLog(u"hello"_s, 1);
    EXPECT_FALSE(QFile::exists(Day("20250115")));
    EXPECT_FALSE(QDir(qEnvironmentVariable("XDG_STATE_HOME") + u"/DebugFiles"_s).exists());
}

TEST_F(DiagnosticLog, LinesPassByLevelAndLevelTenAddsMemoryFigures)
{
    SetDebugLevel(4);
    DebugLog(u"default level is five"_s, -1);
    DebugLog(u"level four"_s, 4);
    SetDebugLevel(-1);
    DebugLog(u"everything passes"_s, 99);
    SetDebugLevel(10);
    DebugLog(u"with memory"_s, 5);
    const QString text = QString::fromUtf8(Read("20250115"));
    const QRegularExpression expected(u"^14:05:09 level four\r\n14:05:09 everything passes\r\n"
                                      "14:05:09 +[1-9][0-9]* +[1-9][0-9]* with memory\r\n$"_s);
    EXPECT_TRUE(expected.match(text).hasMatch()) << text.toStdString();
}

TEST_F(DiagnosticLog, EachDayHasItsFileEndingAtItsCapWithALineSayingSo)
{
    SetDebugLevel(5);
    SetDebugLogLimits(40, kDebugLogKeepDays);
    m_clock.Set(QDateTime(QDate(2025, 1, 15), QTime(23, 59, 57), QTimeZone("Europe/Berlin")).toMSecsSinceEpoch());
    DebugLog(u"first line"_s);  // 21 bytes
    DebugLog(u"second line"_s); // reaches 40
    DebugLog(u"third"_s);
    m_clock.AdvanceSeconds(4);
    DebugLog(u"next day"_s);
    EXPECT_EQ(Read("20250115"),
              "23:59:57 first line\r\n23:59:57 second line\r\n23:59:57 The diagnostic log reached its limit of 40 "
              "bytes for the day; nothing more is written to it today.\r\n");
    EXPECT_EQ(Read("20250116"), "00:00:01 next day\r\n");
}

TEST_F(DiagnosticLog, AFifoInPlaceOfTheDaysFileNeitherHangsNorTakesLines)
{
    SetDebugLevel(5);
    ASSERT_EQ(::mkfifo(QFile::encodeName(Day("20250115")).constData(), 0600), 0);
    {
        const TestEnvironment::Deadline deadline(5);
        DebugLog(u"lost"_s);
    }
    m_clock.AdvanceSeconds(24 * 3600);
    DebugLog(u"next day"_s);
    EXPECT_EQ(Read("20250116"), "14:05:09 next day\r\n");
}

TEST_F(DiagnosticLog, ThisProgramsOldDailyFilesGoAtTheFirstLineOfEachDay)
{
    SetDebugLevel(5);
    // A file's name, whether it is kept today and whether tomorrow.
    const std::tuple<const char*, bool, bool> cases[] = {
        {"Sentrel.20241231.log", false, false}, // 15 days old
        {"Sentrel.20250101.log", true, false},  // 14 days old
        {"Another.20240101.log", true, true},
        {"Sentrel.20240101.log.gz", true, true},
        {"Sentrel.2024+101.log", true, true},
    };
    for (const auto& [name, today, tomorrow] : cases) {
        ASSERT_TRUE(TestEnvironment::WriteFile(m_logDir + QLatin1Char('/') + QLatin1String(name), "old\r\n"));
    }
    for (const bool second : {false, true}) {
        DebugLog(u"a line"_s);
        for (const auto& [name, today, tomorrow] : cases) {
            SCOPED_TRACE(std::string(name) + (second ? " tomorrow" : " today"));
            EXPECT_EQ(QFile::exists(m_logDir + QLatin1Char('/') + QLatin1String(name)), second ? tomorrow : today);
        }
        m_clock.AdvanceSeconds(24 * 3600);
    }
}

TEST_F(DiagnosticLog, FoldersFromTheMachineWideStoreOrTheDefaultAreMadeOnTheFirstLine)
{
    ResetDebugLogState();
    SetDebugLevel(5);
    DebugLog(u"first"_s);
    EXPECT_EQ(TestEnvironment::ReadFile(qEnvironmentVariable("XDG_STATE_HOME") + u"/DebugFiles/Sentrel.20250115.log"_s),
              "14:05:09 first\r\n");
    ResetDebugLogState();
    // A folder without a trailing separator still names the folder.
    m_machine.setValue(u"DebugPath"_s, m_logDir + u"/nested"_s);
    m_machine.sync();
    SetDebugLevel(5);
    DebugLog(u"into the store's folder"_s);
    EXPECT_EQ(TestEnvironment::ReadFile(m_logDir + u"/nested/Sentrel.20250115.log"_s),
              "14:05:09 into the store's folder\r\n");
}

TEST_F(DiagnosticLog, FolderThatCannotBeCreatedIsReportedOnce)
{
    const QString blocker = m_logDir + u"/file"_s;
    ASSERT_TRUE(TestEnvironment::WriteFile(blocker, "not a folder"));
    SetDebugPath(blocker + u"/sub/"_s);
    SetDebugLevel(5);
    DebugLog(u"one"_s);
    DebugLog(u"two"_s);
    EXPECT_EQ(m_ui.asked, QStringList {u"The Debug Files folder could not be created in '"_s + blocker + u"/sub/'!"_s});
}

TEST_F(DiagnosticLog, ErrorReportsShownWithTheNormalPointerAndLogged)
{
    SetDebugLevel(5);
    m_ui.pointer = UserInterface::Pointer::Busy;
    const QString described = u" and the error's description was reported as : \n\n\""_s;
    const QString shown = ReportError(u"  reading the profile "_s, u" Disk full  "_s, false);
    EXPECT_EQ(shown, u"There was a problem reading the profile"_s + described + u"Disk full\""_s);
    EXPECT_EQ(m_ui.asked, QStringList {shown}); // under the normal pointer
    EXPECT_EQ(m_ui.pointer, UserInterface::Pointer::Busy);
    EXPECT_EQ(ReportError(u"saving"_s, u"   "_s, true), u"There was a problem saving"_s);
    EXPECT_EQ(ReportErrorNumber(u"opening"_s, ENOENT, true),
              u"There was a problem opening"_s + described + u"No such file or directory\""_s);
    EXPECT_EQ(ReportErrorNumber(u"sending"_s, 123456, true, 123456, u"Server gone"_s),
              u"There was a problem sending"_s + described + u"Server gone (123456)\""_s);
    EXPECT_EQ(m_ui.asked.size(), 1); // silent reports show nothing
    EXPECT_EQ(Read("20250115").count("\r\n"), 4);
}
