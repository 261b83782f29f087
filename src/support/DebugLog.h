#pragma once

#include <QString>
#include <QtGlobal>

// The diagnostic log and error reports. Logging is off unless "/DEBUG" or the
// machine-wide value DebugMode sets a level; lines go to one file per day.

// LogIndent values.
enum : qint32 {
    LogIndentKeep = 0,
    LogIndentIncrease = 1, // write at the current depth, then one deeper
    LogIndentDecrease = 2, // one shallower, then write
    LogIndentReset = 3,    // back to the left margin, then write
};

// The bounds of the daily files: a day's file stops at its cap (a last line
// says so), and files dated more than the days kept before today are deleted.
constexpr qint64 kDebugLogMaxBytesPerDay = 64 * 1024 * 1024;
constexpr qint32 kDebugLogKeepDays = 14;

// Sets the debug level from the program's command line or DebugMode, once.
void InitDebugLevel();
// Writes one line when its level passes (-1 stands for the normal level 5).
void DebugLog(const QString& message, qint32 level = -1, qint32 logIndent = LogIndentKeep);
// True when a line of this level would be written; lets hot loops skip building it.
[[nodiscard]] bool DebugLogWanted(qint32 level = -1);
// "There was a problem " + action [+ the description]; shown unless silent, always logged.
QString ReportError(const QString& action, const QString& description, bool silent);
// As ReportError, with the system's message for an error number (0: no description).
// currentErrorNumber/currentErrorDescription stand for the error of the failed
// operation, used when the system has no text for the number.
QString ReportErrorNumber(const QString& action,
                          qint32 errorNumber,
                          bool silent,
                          qint32 currentErrorNumber = 0,
                          const QString& currentErrorDescription = QString());
// The value of a switch in a command-line text: GetSwitchValue(line, "/DEBUG", "=", " ").
QString GetSwitchValue(const QString& text, const QString& key, const QString& assign, const QString& separator);
// Working set and committed private memory of this process, in bytes (0 when unknown).
void GetProcessMemory(qint64& workingSet, qint64& pageFileUsage);

// The level lines must reach to be written (0: off), from InitDebugLevel or a test.
[[nodiscard]] qint32 DebugLevel();
void SetDebugLevel(qint32 level);
// The folder lines go to, ending in a separator; empty until set or read from DebugPath.
[[nodiscard]] QString DebugPath();
void SetDebugPath(const QString& path);

// The file a line logged now goes to (for tests and the README).
QString DebugLogFilePath();
// Sets the bounds (keepDays 0 keeps every file); ResetDebugLogState restores the defaults.
void SetDebugLogLimits(qint64 maxBytesPerDay, qint32 keepDays);
// Forgets the process-wide log state (level, folder, depth); for tests.
void ResetDebugLogState();
