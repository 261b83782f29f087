#pragma once

#include <QByteArray>
#include <QString>

// Every test process runs in a fresh folder of its own: the XDG data, config,
// state and runtime places point into it before any Qt call, because
// QSettings and QStandardPaths fix their paths once per process.
namespace TestEnvironment {

// The process's scratch folder (created by the test main).
QString Root();
// A new, empty folder under Root().
QString NewFolder(const QString& name);
// Writes bytes to a file, creating its folder; false on failure.
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);
// Sets a file's last-modified time (seconds since the epoch).
bool SetModified(const QString& path, qint64 secsSinceEpoch);
// The folder of the hand-written data files in tests/data.
QString DataFolder();

// Called first thing by each test main.
void Isolate();

} // namespace TestEnvironment
