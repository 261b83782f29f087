#include "support/DebugLog.h"
#include "TestEnvironment.h"
#include "support/Clock.h"
#include "support/GeneralUtility.h"
#include "support/UserInterface.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTimeZone>
#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// 2025-01-15 14:05:09 in Berlin (tests run with TZ=Europe/Berlin).
const qint64 kMoment = QDateTime(QDate(2025, 1, 15), QTime(14, 5, 9), QTimeZone("Europe/Berlin")).toMSecsSinceEpoch();

// Records what would have been shown to a person.
class RecordingUi : public UserInterface
{
public:
    QStringList messages;
    Pointer pointer = Pointer::Normal;
    QList<Pointer> pointerDuringMessage;
    Answer ShowMessage(const QString& text, Icon, Buttons, Answer defaultAnswer) override
    {
        messages << text;
        pointerDuringMessage << pointer;
        return defaultAnswer;
    }
    Pointer CurrentPointer() const override { return pointer; }
    void SetPointer(Pointer p) override { pointer = p; }
};

class DiagnosticLog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ResetDebugLogState();
        m_logDir = TestEnvironment::NewFolder(QStringLiteral("log"));
        machineStore().clear();
        machineStore().sync();
        UserInterface::Install(&m_ui);
        SetCommandLine(QString());
    }
    void TearDown() override
    {
        UserInterface::Install(nullptr);
        ResetDebugLogState();
    }

    static QSettings& machineStore()
    {
        static QSettings store(QSettings::SystemScope, QStringLiteral("Brackwell"));
        return store;
    }
    static void SetCommandLine(const QString& line)
    {
        AppInfo app;
        app.ExeName = QStringLiteral("Sentrel");
        app.CommandLine = line;
        GeneralUtility::SetApp(app);
    }
    void UseLogFolder() { SetDebugPath(m_logDir + QLatin1Char('/')); }
    QString LogFile() const { return m_logDir + QStringLiteral("/Sentrel.20250115.log"); }
    QStringList LogLines() const
    {
        const QString text = QString::fromUtf8(TestEnvironment::ReadFile(LogFile()));
        QStringList lines = text.split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty()) {
            lines.removeLast();
        }
        return lines;
    }

    QString m_logDir;
    RecordingUi m_ui;
    FixedClock m_clock {kMoment};
};

} // namespace

TEST_F(DiagnosticLog, LevelComesFromTheSwitchOrTheMachineWideValue)
{
    struct Case
    {
        const char* name;
        QString commandLine;
        int debugMode; // -100: no DebugMode value
        qint32 level;
    } const cases[] = {
        {"nothing set", QString(), -100, 0},
        {"DebugMode only", QString(), 7, 7},
        {"DebugMode -1", QString(), -1, -1},
        {"switch alone", QStringLiteral("/DEBUG"), -100, 10},
        {"normal lower case", QStringLiteral("/debug=normal"), -100, 5},
        {"medium", QStringLiteral("/DEBUG=MEDIUM"), -100, 5},
        {"max in quotes", QStringLiteral("/DEBUG=\"MAX\""), -100, 10},
        {"equals and nothing", QStringLiteral("/DEBUG="), -100, 10},
        {"unknown name", QStringLiteral("/DEBUG=LOUD"), -100, 10},
        {"none ignores DebugMode", QStringLiteral("/DEBUG=NONE"), 7, 0},
        {"off", QStringLiteral("/NOPREVCHECK /DEBUG=off"), 7, 0},
        {"spaces around equals", QStringLiteral("/DEBUG = NORMAL"), -100, 10},
        {"glued to a word", QStringLiteral("x/DEBUG=NORMAL"), -100, 10},
        {"after another switch", QStringLiteral("/NOPREVCHECK /DEBUG=NORMAL"), -100, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetDebugLogState();
        machineStore().clear();
        if (c.debugMode != -100) {
            machineStore().setValue(QStringLiteral("DebugMode"), c.debugMode);
        }
        machineStore().sync();
        SetCommandLine(c.commandLine);
        InitDebugLevel();
        EXPECT_EQ(DebugLevel(), c.level);
    }
    // Only once: a second call leaves the level as it is.
    SetCommandLine(QStringLiteral("/DEBUG=MAX"));
    InitDebugLevel();
    EXPECT_EQ(DebugLevel(), 5);
}

TEST_F(DiagnosticLog, SwitchValues)
{
    const QString line = QStringLiteral("/A=1 /DEBUG=\"TWO WORDS\" /B=x");
    const std::pair<QString, const char*> cases[] = {
        {"/DEBUG", "TWO WORDS"}, {"/a", "1"}, {"/B", "x"}, {"/C", ""}, {"/X", "open"}};
    for (const auto& [name, value] : cases) {
        SCOPED_TRACE(name.toStdString());
        const QString in = name == QLatin1String("/X") ? QStringLiteral("/X=\"open") : line;
        EXPECT_EQ(GetSwitchValue(in, name, QStringLiteral("="), QStringLiteral(" ")), QString::fromUtf8(value));
    }
}

TEST_F(DiagnosticLog, NothingIsWrittenWhileLoggingIsOff)
{
    DebugLog(QStringLiteral("hello"), 1);
    EXPECT_FALSE(QFile::exists(LogFile()));
    EXPECT_FALSE(QDir(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/DebugFiles")).exists());
}

TEST_F(DiagnosticLog, LevelFilterAndLineLayout)
{
    UseLogFolder();
    SetDebugLevel(4);
    DebugLog(QStringLiteral("default level is five"), -1);
    DebugLog(QStringLiteral("level four"), 4);
    DebugLog(QStringLiteral("level five"), 5);
    SetDebugLevel(-1);
    DebugLog(QStringLiteral("everything passes"), 99);
    EXPECT_EQ(LogLines(),
              (QStringList {QStringLiteral("14:05:09 level four"), QStringLiteral("14:05:09 everything passes")}));
}

TEST_F(DiagnosticLog, IndentationSteps)
{
    UseLogFolder();
    SetDebugLevel(5);
    DebugLog(QStringLiteral("a"), 5, LogIndentDecrease); // stays at 0
    DebugLog(QStringLiteral("b"), 5, LogIndentIncrease);
    DebugLog(QStringLiteral("c"), 5, LogIndentIncrease);
    DebugLog(QStringLiteral("d"), 5, LogIndentKeep);
    DebugLog(QStringLiteral("e"), 5, LogIndentDecrease);
    DebugLog(QStringLiteral("f"), 5, LogIndentIncrease);
    DebugLog(QStringLiteral("g"), 5, LogIndentReset);
    EXPECT_EQ(LogLines().join(QLatin1Char('|')).remove(QStringLiteral("14:05:09 ")),
              QStringLiteral("a|b|    c|        d|    e|    f|g"));
}

TEST_F(DiagnosticLog, MemoryFiguresFromLevelTenOn)
{
    UseLogFolder();
    SetDebugLevel(10);
    DebugLog(QStringLiteral("with memory"), 5);
    SetDebugLevel(9);
    DebugLog(QStringLiteral("without"), 5);
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 2);
    const QRegularExpression withMemory(QStringLiteral("^14:05:09 ( *[1-9][0-9]*) ( *[1-9][0-9]*) with memory$"));
    const auto match = withMemory.match(lines[0]);
    ASSERT_TRUE(match.hasMatch()) << lines[0].toStdString();
    // Padded to ten characters; a larger figure (a sanitizer's reserved
    // address space, say) is written whole.
    for (const int field : {1, 2}) {
        const QString figure = match.captured(field);
        EXPECT_EQ(figure.size(), std::max<qsizetype>(10, figure.trimmed().size())) << figure.toStdString();
    }
    EXPECT_EQ(lines[1], QStringLiteral("14:05:09 without"));
}

TEST_F(DiagnosticLog, DailyFilesAfterMidnight)
{
    UseLogFolder();
    SetDebugLevel(5);
    m_clock.Set(QDateTime(QDate(2025, 1, 15), QTime(23, 59, 59), QTimeZone("Europe/Berlin")).toMSecsSinceEpoch());
    DebugLog(QStringLiteral("late"));
    m_clock.AdvanceSeconds(2);
    DebugLog(QStringLiteral("early"));
    EXPECT_EQ(LogLines(), QStringList {QStringLiteral("23:59:59 late")});
    EXPECT_EQ(TestEnvironment::ReadFile(m_logDir + QStringLiteral("/Sentrel.20250116.log")),
              QByteArray("00:00:01 early\r\n"));
}

TEST_F(DiagnosticLog, ADayEndsAtItsCapWithALineSayingSo)
{
    UseLogFolder();
    SetDebugLevel(5);
    SetDebugLogLimits(40, kDebugLogKeepDays);
    DebugLog(QStringLiteral("first line"));  // 21 bytes
    DebugLog(QStringLiteral("second line")); // reaches 40
    DebugLog(QStringLiteral("third"));
    EXPECT_EQ(LogLines(),
              (QStringList {QStringLiteral("14:05:09 first line"),
                            QStringLiteral("14:05:09 second line"),
                            QStringLiteral("14:05:09 The diagnostic log reached its limit of 40 bytes for the day; "
                                           "nothing more is written to it today.")}));
    m_clock.AdvanceSeconds(24 * 3600);
    DebugLog(QStringLiteral("next day"));
    EXPECT_EQ(TestEnvironment::ReadFile(m_logDir + QStringLiteral("/Sentrel.20250116.log")),
              QByteArray("14:05:09 next day\r\n"));
}

TEST_F(DiagnosticLog, AFifoInPlaceOfTheDaysFileNeitherHangsNorTakesLines)
{
    UseLogFolder();
    SetDebugLevel(5);
    ASSERT_EQ(::mkfifo(QFile::encodeName(LogFile()).constData(), 0600), 0);
    {
        const TestEnvironment::Deadline deadline(5);
        DebugLog(QStringLiteral("lost"));
    }
    m_clock.AdvanceSeconds(24 * 3600);
    DebugLog(QStringLiteral("next day"));
    EXPECT_EQ(TestEnvironment::ReadFile(m_logDir + QStringLiteral("/Sentrel.20250116.log")),
              QByteArray("14:05:09 next day\r\n"));
}

TEST_F(DiagnosticLog, ThisProgramsOldDailyFilesGoAtTheFirstLineOfEachDay)
{
    UseLogFolder();
    SetDebugLevel(5);
    struct Case
    {
        const char* name;
        bool keptToday;
        bool keptTomorrow;
    } const cases[] = {
        {"Sentrel.20241231.log", false, false}, // 15 days old
        {"Sentrel.20250101.log", true, false},  // 14 days old
        {"Sentrel.20250114.log", true, true},
        {"Another.20240101.log", true, true},
        {"Sentrel.20240101.log.gz", true, true},
        {"Sentrel.2024011.log", true, true},
        {"Sentrel.2024+101.log", true, true},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(TestEnvironment::WriteFile(m_logDir + QLatin1Char('/') + QLatin1String(c.name), "old\r\n"));
    }
    DebugLog(QStringLiteral("today"));
    m_clock.AdvanceSeconds(24 * 3600);
    for (const bool tomorrow : {false, true}) {
        if (tomorrow) {
            DebugLog(QStringLiteral("tomorrow"));
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (tomorrow ? " tomorrow" : " today"));
            EXPECT_EQ(QFile::exists(m_logDir + QLatin1Char('/') + QLatin1String(c.name)),
                      tomorrow ? c.keptTomorrow : c.keptToday);
        }
    }
}

TEST_F(DiagnosticLog, FolderFromTheMachineWideStoreGetsASeparator)
{
    machineStore().setValue(QStringLiteral("DebugPath"), m_logDir + QStringLiteral("/nested"));
    machineStore().sync();
    SetDebugLevel(5);
    DebugLog(QStringLiteral("into the store's folder"));
    EXPECT_EQ(DebugPath(), m_logDir + QStringLiteral("/nested/"));
    EXPECT_EQ(TestEnvironment::ReadFile(m_logDir + QStringLiteral("/nested/Sentrel.20250115.log")),
              QByteArray("14:05:09 into the store's folder\r\n"));
}

TEST_F(DiagnosticLog, DefaultFolderIsCreatedOnTheFirstLine)
{
    SetDebugLevel(5);
    DebugLog(QStringLiteral("first"));
    const QString expected =
        qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/DebugFiles/Sentrel.20250115.log");
    EXPECT_EQ(DebugLogFilePath(), expected);
    EXPECT_EQ(TestEnvironment::ReadFile(expected), QByteArray("14:05:09 first\r\n"));
    EXPECT_TRUE(DebugPath().isEmpty()); // the default is not stored
}

TEST_F(DiagnosticLog, FolderThatCannotBeCreatedIsReportedOnce)
{
    const QString blocker = m_logDir + QStringLiteral("/file");
    ASSERT_TRUE(TestEnvironment::WriteFile(blocker, "not a folder"));
    SetDebugPath(blocker + QStringLiteral("/sub/"));
    SetDebugLevel(5);
    DebugLog(QStringLiteral("one"));
    DebugLog(QStringLiteral("two"));
    ASSERT_EQ(m_ui.messages.size(), 1);
    EXPECT_EQ(m_ui.messages[0],
              QStringLiteral("The Debug Files folder could not be created in '") + blocker + QStringLiteral("/sub/'!"));
}

TEST_F(DiagnosticLog, ReportErrorTexts)
{
    UseLogFolder();
    SetDebugLevel(5);
    m_ui.pointer = UserInterface::Pointer::Busy;
    const QString withDescription =
        ReportError(QStringLiteral("  reading the profile "), QStringLiteral(" Disk full  "), false);
    EXPECT_EQ(withDescription,
              QStringLiteral("There was a problem reading the profile and the error's description was "
                             "reported as : \n\n\"Disk full\""));
    EXPECT_EQ(m_ui.messages, QStringList {withDescription});
    EXPECT_EQ(m_ui.pointerDuringMessage.value(0), UserInterface::Pointer::Normal);
    EXPECT_EQ(m_ui.pointer, UserInterface::Pointer::Busy);

    EXPECT_EQ(ReportError(QStringLiteral("saving"), QStringLiteral("   "), true),
              QStringLiteral("There was a problem saving"));
    EXPECT_EQ(ReportErrorNumber(QStringLiteral("saving"), 0, true), QStringLiteral("There was a problem saving"));
    EXPECT_EQ(m_ui.messages.size(), 1); // silent reports show nothing
    // Each message ends with CR LF; the line feeds inside the first stay part of its line.
    const QStringList lines = LogLines();
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("reported as : \n\n\"Disk full\"")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(" There was a problem saving")));
}

TEST_F(DiagnosticLog, ReportErrorNumberUsesTheSystemTextOrTheCurrentError)
{
    EXPECT_EQ(ReportErrorNumber(QStringLiteral("opening"), ENOENT, true),
              QStringLiteral("There was a problem opening and the error's description was reported as : \n\n\"No such "
                             "file or directory\""));
    EXPECT_EQ(ReportErrorNumber(QStringLiteral("sending"), 123456, true, 123456, QStringLiteral("Server gone")),
              QStringLiteral("There was a problem sending and the error's description was reported as : \n\n\"Server "
                             "gone (123456)\""));
}
