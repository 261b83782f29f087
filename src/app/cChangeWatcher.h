#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class cSettings;

// Reports changes to the monitored files, and to their folders (a file that
// appears, is replaced or renamed), as they happen. Events that come together
// are reported once. The poll still catches what the events miss: network
// shares, files that are not there yet, names whose date pattern rolls over.
class cChangeWatcher : public QObject
{
    Q_OBJECT

public:
    // How long the first event waits for those that come with it.
    static constexpr int SettleMs = 40;

    explicit cChangeWatcher(QObject* parent = nullptr);

    // Watches the files of the profile as they are named now, and their
    // folders; an empty profile, or nullptr, watches nothing. Cheap to call
    // after every cycle: only what is not watched yet is added.
    void Watch(const cSettings* settings);
    void Clear();

    [[nodiscard]] qsizetype WatchedPaths() const { return m_watched.size(); }

Q_SIGNALS:
    void Changed();

private:
    void Event();

    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QSet<QString> m_watched;
};
