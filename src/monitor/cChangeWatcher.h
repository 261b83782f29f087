#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class cSettings;

// Reports changes to the monitored files, and to their folders (a file that
// appears, is replaced or renamed), as they happen. Events that come together
// are reported once, and never sooner than a short rest after the last check,
// so that a file written without pause does not start a check after every
// check. The poll still catches what the events miss: network shares, files
// that are not there yet, names whose date pattern rolls over.
class cChangeWatcher : public QObject
{
    Q_OBJECT

public:
    // How long the first event waits for those that come with it.
    static constexpr int SettleMs = 40;
    // The least time from the end of one check to a check for a change.
    static constexpr int RestMs = 100;
    // How soon a change that came during a check asks again.
    static constexpr int RetryMs = 50;

    explicit cChangeWatcher(QObject* parent = nullptr);

    // Watches the files of the profile as they are named now, and their
    // folders; an empty profile, or nullptr, watches nothing. Cheap to call
    // after every cycle: only what is not watched yet is added.
    void Watch(const cSettings* settings);
    void Clear();
    // Watches the profile's files when it asks for it (WatchEvents), and
    // nothing otherwise or without a profile.
    void Follow(const cSettings* settings);

    // A check begins: it covers the changes reported so far.
    void CheckStarting();
    // A check has ended: the rest before the next change's check starts now.
    void CheckDone();
    // The owner could not check now (one is still running): ask again shortly.
    void CheckAgainSoon();

    [[nodiscard]] qsizetype WatchedPaths() const { return m_watched.size(); }

Q_SIGNALS:
    void Changed();

private:
    void Event();
    void Settled();

    QFileSystemWatcher m_watcher;
    QTimer m_settle;
    QTimer m_due;
    QElapsedTimer m_sinceCheck;
    QSet<QString> m_watched;
};
