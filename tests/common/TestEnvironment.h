#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>
#include <sys/resource.h>
#include <utility>

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
// Runs the event loop until the condition holds or the time is up; whether it held.
bool WaitFor(const std::function<bool()>& condition, int milliseconds = 3000);
// The folder of the hand-written data files in tests/data.
QString DataFolder();

// Paths that are there but hold no regular file, each with how a refusal names
// it: a FIFO, a symlink to /dev/zero and a folder.
QList<std::pair<QString, QString>> NonRegularFiles();

// For calls that block or read without end when broken: ends the test process
// with a message unless the scope is left within the seconds, and meanwhile
// keeps the process's memory within 512 MB more than it had (not under ASan).
class Deadline
{
public:
    explicit Deadline(unsigned seconds);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    rlimit m_memory {};
};

// Called first thing by each test main.
void Isolate();

} // namespace TestEnvironment

// Readable failure messages for the Qt texts tests compare.
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[' << list.join(QStringLiteral(" | ")).toStdString() << ']';
}
