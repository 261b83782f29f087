#pragma once

#include <QString>
#include <QStringList>

// What both programs do with their command line before anything else: the
// arguments as text, the switches every program answers, the debug level and
// the single-instance rule.
namespace ProgramStart {

// The arguments without the program's name.
[[nodiscard]] QStringList Arguments(int argc, char** argv);
// Prints the version for "--version"; true when it did and the program ends.
[[nodiscard]] bool AnsweredVersion(const QStringList& arguments);
// Records the command line (upper-cased, one space appended), sets the debug
// level and, unless "/NOPREVCHECK" is given, tests for another copy on the
// profile. False when another copy runs: the program is to end.
[[nodiscard]] bool FirstCopy(const QStringList& arguments, const QString& profileName = QString());

} // namespace ProgramStart
