#include "support/DebugLog.h"

#include "support/CivilTime.h"
#include "support/Clock.h"
#include "support/FileSystemUtility.h"
#include "support/GeneralUtility.h"
#include "support/MachineStore.h"
#include "support/SystemUtility.h"
#include "support/UserInterface.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMachineKey = QStringLiteral("SOFTWARE\\Brackwell");

struct LogState
{
    qint32 level = 0;
    QString path; // the folder, ending in a separator; empty for the default
    qint32 depth = 0;
    bool registryRead = false;
    bool reporting = false;     // the folder failure is being shown; what that logs is dropped
    QString unwritableReported; // the folder whose failure was shown; shown once
    qint32 prunedDay = 0;       // the day (since 1899-12-30) old files were last looked for
    qint64 maxBytesPerDay = kDebugLogMaxBytesPerDay;
    qint32 keepDays = kDebugLogKeepDays;
};

LogState& logState()
{
    static LogState s;
    return s;
}

bool endsWithSeparator(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator());
}

// The folder lines go to: DebugPath (from the machine-wide store, read once),
// else the default folder, worked out afresh each time.
QString logFolder()
{
    QString folder = DebugPath();
    LogState& s = logState();
    if (folder.isEmpty() && !s.registryRead) {
        s.registryRead = true;
        QString fromStore = MachineStore::ReadRegString(
            MachineStore::Root::LocalMachine, kMachineKey, QStringLiteral("DebugPath"), QString());
        if (!fromStore.isEmpty()) {
            if (!endsWithSeparator(fromStore)) {
                fromStore += QDir::separator();
            }
            SetDebugPath(fromStore);
            folder = fromStore;
        }
    }
    if (folder.isEmpty()) {
        folder = FileSystemUtility::DefaultLogFolder();
    }
    return folder;
}

QString twoDigits(int value)
{
    return QString::number(value).rightJustified(2, QLatin1Char('0'));
}

QString exeBaseName()
{
    return QFileInfo(GeneralUtility::App().ExeName).completeBaseName();
}

QString logFileIn(const QString& folder, const CivilTime& now)
{
    const QString day =
        QString::number(now.Year).rightJustified(4, QLatin1Char('0')) + twoDigits(now.Month) + twoDigits(now.Day);
    return folder + (endsWithSeparator(folder) ? QString() : QString(QDir::separator())) + exeBaseName() +
           QLatin1Char('.') + day + QStringLiteral(".log");
}

// Deletes this program's daily files dated more than keepDays before today;
// any other file in the folder stays.
void removeOldFiles(const QString& folder, qint32 today, qint32 keepDays)
{
    const QString prefix = exeBaseName() + QLatin1Char('.');
    const QString suffix = QStringLiteral(".log");
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (name.size() != prefix.size() + 8 + suffix.size() || !name.startsWith(prefix) || !name.endsWith(suffix)) {
            continue;
        }
        const QStringView digits = QStringView(name).sliced(prefix.size(), 8);
        if (!std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; })) {
            continue;
        }
        const int year = digits.sliced(0, 4).toInt();
        const int month = digits.sliced(4, 2).toInt();
        const int day = digits.sliced(6, 2).toInt();
        if (month < 1 || month > 12 || day < 1 || day > 31) {
            continue;
        }
        if (today - CivilTime::DaysSinceBase(year, month, day) > keepDays) {
            QFile::remove(dir.filePath(name));
        }
    }
}

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // the line is lost; logging never disturbs the program
        }
        done += n;
    }
}

// Appends the line unless the day's file has reached its cap; the line that
// reaches it is followed by one that says so, and nothing comes after that.
void appendLine(const QString& path, const QByteArray& line, const QString& time, qint64 maxBytes)
{
    // One append per line: other copies of the program may write to the same file.
    // Non-blocking and only into a regular file: a FIFO at the path must not hang the program.
    const int fd = ::open(
        QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0) {
        return;
    }
    struct stat info = {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size < maxBytes) {
        QByteArray bytes = line;
        if (info.st_size + line.size() >= maxBytes) {
            bytes += (time + QStringLiteral(" The diagnostic log reached its limit of ") + QString::number(maxBytes) +
                      QStringLiteral(" bytes for the day; nothing more is written to it today.\r\n"))
                         .toUtf8();
        }
        writeAll(fd, bytes);
    }
    ::close(fd);
}

CivilTime localNow()
{
    CivilTime now;
    if (!CivilTime::FromEpochMSecs(Clock::Current().NowMSecsSinceEpoch(), false, now)) {
        now = CivilTime {};
    }
    return now;
}

qint32 levelFromName(const QString& name)
{
    if (name == QLatin1String("NORMAL") || name == QLatin1String("MEDIUM")) {
        return 5;
    }
    if (name == QLatin1String("NONE") || name == QLatin1String("OFF")) {
        return 0;
    }
    return 10; // "MAX", no value, or anything else
}

} // namespace

void InitDebugLevel()
{
    if (DebugLevel() != 0) {
        return;
    }
    const QString commandLine = GeneralUtility::App().CommandLine;
    if (commandLine.contains(QLatin1String("/DEBUG"), Qt::CaseInsensitive)) {
        const QString value = GetSwitchValue(
            commandLine.trimmed().toUpper(), QStringLiteral("/DEBUG"), QStringLiteral("="), QStringLiteral(" "));
        SetDebugLevel(levelFromName(value.toUpper()));
        return;
    }
    SetDebugLevel(
        MachineStore::ReadRegNumber(MachineStore::Root::LocalMachine, kMachineKey, QStringLiteral("DebugMode"), 0));
}

QString GetSwitchValue(const QString& text, const QString& key, const QString& assign, const QString& separator)
{
    QString line = text;
    QString switchKey = key;
    if (!key.startsWith(QLatin1Char('<')) && assign != QLatin1String(">") && !separator.isEmpty()) {
        if (!line.startsWith(separator, Qt::CaseInsensitive)) {
            line.prepend(separator);
        }
        if (!switchKey.startsWith(separator, Qt::CaseInsensitive)) {
            switchKey.prepend(separator);
        }
    }
    const QString needle = switchKey + assign;
    const qsizetype at = line.indexOf(needle, 0, Qt::CaseInsensitive);
    if (at < 0) {
        return {};
    }
    const qsizetype start = at + needle.size();
    if (start < line.size() && line.at(start) == QLatin1Char('"')) {
        const qsizetype close = line.indexOf(QLatin1Char('"'), start + 1);
        return close < 0 ? line.mid(start + 1) : line.mid(start + 1, close - start - 1);
    }
    const qsizetype end = separator.isEmpty() ? -1 : line.indexOf(separator, start, Qt::CaseInsensitive);
    return end < 0 ? line.mid(start) : line.mid(start, end - start);
}

bool DebugLogWanted(qint32 level)
{
    const qint32 debugLevel = DebugLevel();
    if (debugLevel == 0) {
        return false;
    }
    return debugLevel == -1 || (level == -1 ? 5 : level) <= debugLevel;
}

void DebugLog(const QString& message, qint32 level, qint32 logIndent)
{
    LogState& s = logState();
    if (s.reporting || !DebugLogWanted(level)) {
        return;
    }
    if (logIndent == LogIndentDecrease) {
        s.depth = qMax(0, s.depth - 1);
    } else if (logIndent == LogIndentReset) {
        s.depth = 0;
    }

    const QString folder = logFolder();
    if (!FileSystemUtility::CreateFolderPath(folder)) {
        // Once, and never logged itself: a box or a console that logs what it shows would come back here.
        if (s.unwritableReported != folder) {
            s.unwritableReported = folder;
            s.reporting = true;
            const auto reported = qScopeGuard([&s] { s.reporting = false; });
            UserInterface::Message(QStringLiteral("The Debug Files folder could not be created in '") + folder +
                                       QStringLiteral("'!"),
                                   UserInterface::Icon::Exclamation);
        }
        return;
    }

    const CivilTime now = localNow();
    // Old files go at the first line and at the first after midnight, not at every line.
    const qint32 today = CivilTime::DaysSinceBase(now.Year, now.Month, now.Day);
    if (s.prunedDay != today) {
        s.prunedDay = today;
        if (s.keepDays > 0) {
            removeOldFiles(folder, today, s.keepDays);
        }
    }

    const QString time =
        twoDigits(now.Hour) + QLatin1Char(':') + twoDigits(now.Minute) + QLatin1Char(':') + twoDigits(now.Second);
    QString line = time;
    if (DebugLevel() >= 10 && SystemUtility::HasProcessMemoryCounters()) {
        qint64 workingSet = 0;
        qint64 pageFile = 0;
        GetProcessMemory(workingSet, pageFile);
        line += QLatin1Char(' ') + GeneralUtility::PadText(QString::number(workingSet), 10) + QLatin1Char(' ') +
                GeneralUtility::PadText(QString::number(pageFile), 10);
    }
    line += QString(4 * s.depth, QLatin1Char(' '));
    line += QLatin1Char(' ');
    line += message;
    line += QStringLiteral("\r\n");

    appendLine(logFileIn(folder, now), line.toUtf8(), time, s.maxBytesPerDay);

    if (logIndent == LogIndentIncrease) {
        ++s.depth;
    }
}

QString ReportError(const QString& action, const QString& description, bool silent)
{
    const UserInterface::Pointer previous = UserInterface::GetPointer();
    UserInterface::SetPointerShape(UserInterface::Pointer::Normal);

    const QString what = action.trimmed();
    const QString why = description.trimmed();
    QString text = QStringLiteral("There was a problem ") + what;
    if (!why.isEmpty()) {
        text += QStringLiteral(" and the error's description was reported as : \n\n\"") + why + QLatin1Char('"');
    }
    if (!silent) {
        UserInterface::Message(text, UserInterface::Icon::Exclamation);
    }
    DebugLog(text, 5, LogIndentKeep);

    UserInterface::SetPointerShape(previous);
    return text;
}

QString ReportErrorNumber(const QString& action,
                          qint32 errorNumber,
                          bool silent,
                          qint32 currentErrorNumber,
                          const QString& currentErrorDescription)
{
    if (errorNumber == 0) {
        return ReportError(action, QString(), silent);
    }
    char buffer[256] = {};
    // The GNU strerror_r returns its text, which need not be in the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    QString description = QString::fromLocal8Bit(text ? text : "").trimmed();
    if (description.startsWith(QLatin1String("Unknown error"))) {
        description.clear(); // the system has no text of its own for it
    }
    if (description.isEmpty() && currentErrorNumber == errorNumber) {
        description = currentErrorDescription + QStringLiteral(" (") + QString::number(errorNumber) + QLatin1Char(')');
    }
    return ReportError(action, description, silent);
}

void GetProcessMemory(qint64& workingSet, qint64& pageFileUsage)
{
    if (!SystemUtility::ProcessMemory(workingSet, pageFileUsage)) {
        workingSet = 0;
        pageFileUsage = 0;
    }
}

QString DebugLogFilePath()
{
    return logFileIn(logFolder(), localNow());
}

void SetDebugLogLimits(qint64 maxBytesPerDay, qint32 keepDays)
{
    logState().maxBytesPerDay = maxBytesPerDay;
    logState().keepDays = keepDays;
}

void ResetDebugLogState()
{
    logState() = LogState {};
}

qint32 DebugLevel()
{
    return logState().level;
}

void SetDebugLevel(qint32 level)
{
    logState().level = level;
}

QString DebugPath()
{
    return logState().path;
}

void SetDebugPath(const QString& path)
{
    logState().path = path;
}
