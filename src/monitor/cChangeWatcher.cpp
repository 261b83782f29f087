#include "monitor/cChangeWatcher.h"

#include "model/cSettings.h"
#include "support/DebugLog.h"

#include <QFileInfo>

cChangeWatcher::cChangeWatcher(QObject* parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &cChangeWatcher::Settled);
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &cChangeWatcher::Changed);
    m_sinceCheck.start();
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &cChangeWatcher::Event);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &cChangeWatcher::Event);
}

void cChangeWatcher::Event()
{
    // Not restarted by later events: a file written without pause is still
    // checked within the settle time of its first write.
    if (!m_settle.isActive()) {
        m_settle.start();
    }
}

void cChangeWatcher::Settled()
{
    if (!m_due.isActive()) {
        m_due.start(static_cast<int>(qMax<qint64>(0, RestMs - m_sinceCheck.elapsed())));
    }
}

void cChangeWatcher::CheckStarting()
{
    m_settle.stop();
    m_due.stop();
}

void cChangeWatcher::CheckDone()
{
    m_sinceCheck.start();
}

void cChangeWatcher::CheckAgainSoon()
{
    m_due.start(RetryMs);
}

void cChangeWatcher::Clear()
{
    m_settle.stop();
    m_due.stop();
    if (!m_watched.isEmpty()) {
        m_watcher.removePaths(QStringList(m_watched.cbegin(), m_watched.cend()));
    }
    m_watched.clear();
}

void cChangeWatcher::Follow(const cSettings* settings)
{
    if (settings && settings->WatchEvents()) {
        Watch(settings);
    } else {
        Clear();
    }
}

void cChangeWatcher::Watch(const cSettings* settings)
{
    QSet<QString> wanted;
    // A 32-bit counter: a 16-bit one wraps past the last of 32,767 files.
    const qint32 count = settings ? settings->NumberFiles() : 0;
    wanted.reserve(count * 2);
    for (qint32 i = 1; i <= count; ++i) {
        const QString name = settings->MonitorFile(static_cast<qint16>(i))->Filename();
        if (name.isEmpty()) {
            continue;
        }
        const QFileInfo info(name);
        wanted.insert(info.absoluteFilePath());
        wanted.insert(info.absolutePath());
    }

    QStringList gone;
    for (const QString& path : std::as_const(m_watched)) {
        if (!wanted.contains(path)) {
            gone << path;
        }
    }
    if (!gone.isEmpty()) {
        m_watcher.removePaths(gone);
    }

    // A replaced or deleted file drops out of the watch; it is added again
    // here, and a file that does not exist yet is looked for each time.
    const QStringList files = m_watcher.files();
    const QStringList folders = m_watcher.directories();
    const QSet<QString> watching =
        QSet<QString>(files.cbegin(), files.cend()) + QSet<QString>(folders.cbegin(), folders.cend());
    QStringList add;
    for (const QString& path : std::as_const(wanted)) {
        if (!watching.contains(path) && QFileInfo::exists(path)) {
            add << path;
        }
    }
    if (!add.isEmpty()) {
        const QStringList refused = m_watcher.addPaths(add);
        if (!refused.isEmpty()) {
            DebugLog(QString::number(refused.size()) + QStringLiteral(" paths could not be watched (first: ") +
                         refused.first() + QStringLiteral("); the poll still checks them"),
                     5,
                     LogIndentKeep);
        }
    }
    m_watched = std::move(wanted);
}
