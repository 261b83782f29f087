#pragma once

#include "monitor/cMonitor.h"
#include "service/PluginNotifier.h"

#include <QObject>

#include <cstdio>

class QSocketNotifier;

// The monitor without a window: the history goes to a stream (standard
// output) and the log, problems to standard error. A terminate or interrupt
// signal ends it, a hang-up signal reads the profile again.
class HeadlessService : public QObject
{
    Q_OBJECT

public:
    explicit HeadlessService(QString profileName, std::FILE* history = stdout, QObject* parent = nullptr);
    ~HeadlessService() override;
    HeadlessService(const HeadlessService&) = delete;
    HeadlessService& operator=(const HeadlessService&) = delete;

    // Reads the profile; the first check comes one poll interval from now. An
    // SMTP password from systemd's credential replaces the profile's in the mails.
    // False when the profile file is there but cannot be read.
    bool Start();
    // Routes SIGTERM, SIGINT and SIGHUP to this service through the event loop.
    bool HandleSignals();

    [[nodiscard]] const cSettings& Settings() const { return m_monitor.Settings(); }

private:
    void AddHistory(const QDateTime& when, const QString& text);
    void OnSignal();
    void ListReplaced();
    void Warn(const QString& line);

    QString m_profileName;
    std::FILE* m_history;
    cMonitor m_monitor;
    PluginNotifier m_notifier;
    bool m_hasCredential = false;
    QSocketNotifier* m_signalNotifier = nullptr;
};
