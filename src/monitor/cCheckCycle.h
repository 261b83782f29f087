#pragma once

#include "support/DateTimeStamp.h"

#include <QString>
#include <vector>

class cCycleView;
class cMonitorFile;
class cSettings;

// The check cycle: on every tick the countdown to the next check, and once the
// poll interval has passed (or when forced) every monitored file checked in
// order, its row refreshed and each pending notification sent once.
class cCheckCycle
{
public:
    explicit cCheckCycle(cCycleView& view);

    // The profile the cycle works on; nullptr makes every tick do nothing.
    void SetSettings(cSettings* settings)
    {
        m_settings = settings;
        m_shownTimes.clear();
    }
    [[nodiscard]] cSettings* Settings() const { return m_settings; }

    // Starts the poll interval now, as the end of a check does; the next
    // automatic check is PollInterval later by the monotonic clock, so setting
    // the system time neither delays nor hastens it.
    void RestartInterval();
    // The wall-clock time at which the interval last started.
    [[nodiscard]] const DateTimeStamp& LastCheck() const { return m_lastCheck; }
    // Milliseconds since the interval last started (monotonic).
    [[nodiscard]] qint64 MSecsSinceLastCheck() const;
    // How many checks of all files have finished.
    [[nodiscard]] quint64 ChecksDone() const { return m_checksDone; }

    // A close request: a running cycle stops at its next file.
    void SetClosing(bool closing) { m_closing = closing; }
    [[nodiscard]] bool Closing() const { return m_closing; }
    [[nodiscard]] bool Running() const { return m_running; }

    void CheckFiles(bool forceCheck);
    void Tick() { CheckFiles(false); }
    void CheckNow() { CheckFiles(true); }

    // The "LASTMODIFIED" cell of a file: its time as "General Date", or "(Unknown)" when never seen.
    [[nodiscard]] static QString LastModifiedText(const cMonitorFile& file);

private:
    void CheckOne(qint16 index, cMonitorFile& file);
    // LastModifiedText, formatted again only when the row's time has changed.
    [[nodiscard]] const QString& ShownLastModified(qint16 index, const cMonitorFile& file);

    // The text is a function of the time alone, so a row's last text is kept
    // with the time it was made from, whatever file the row holds.
    struct ShownTime
    {
        DateTimeStamp stamp;
        QString text;
    };

    cCycleView& m_view;
    std::vector<ShownTime> m_shownTimes;
    cSettings* m_settings = nullptr;
    DateTimeStamp m_lastCheck;
    qint64 m_lastCheckMonotonic = 0;
    quint64 m_checksDone = 0;
    bool m_closing = false;
    bool m_running = false;
};
