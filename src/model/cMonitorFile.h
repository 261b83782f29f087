#pragma once

#include "support/DateTimeStamp.h"
#include "support/ProfileStore.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

class FolderHandles;

// One entry of the watch list: the name as entered (possibly with #date
// patterns#), its rule, the time seen at the last check and the two flags
// that drive notification. It loads and saves itself as one profile section.
class cMonitorFile
{
public:
    enum MonitorTypes : qint32 { NotifyOnChange = 0, NotifyWhenStale = 1 };

    // What a check can call for. Changed and OutOfDate are the rule's own
    // events; the others come only with the options below switched on.
    enum class Event { Changed, OutOfDate, Missing, Recovered };
    // One notification a check found due: an event, or a reminder of an alert still standing.
    struct Due
    {
        Event event = Event::Changed;
        bool reminder = false;
        // Seconds since the epoch when the file entered the state told (for a
        // recovery: when the problem began); 0 when unknown.
        qint64 since = 0;
    };

    [[nodiscard]] const QString& RawFileName() const { return m_rawFileName; }
    void SetRawFileName(const QString& name) { m_rawFileName = name; }
    [[nodiscard]] const QString& FriendlyName() const { return m_friendlyName; }
    void SetFriendlyName(const QString& name) { m_friendlyName = name; }
    [[nodiscard]] const QString& Status() const { return m_status; }
    void SetStatus(const QString& status) { m_status = status; }
    [[nodiscard]] qint32 StaleMins() const { return m_staleMins; }
    void SetStaleMins(qint32 minutes) { m_staleMins = minutes; }
    [[nodiscard]] bool AttachFileToEmail() const { return m_attachFileToEmail; }
    void SetAttachFileToEmail(bool attach) { m_attachFileToEmail = attach; }
    // Mail a file that is not found: under the stale rule once it has been
    // missing for StaleMins minutes, under the change rule once it had been seen.
    [[nodiscard]] bool NotifyMissing() const { return m_notifyMissing; }
    void SetNotifyMissing(bool on) { m_notifyMissing = on; }
    // Mail once when a file mailed as out of date or missing is back to normal.
    [[nodiscard]] bool NotifyRecovered() const { return m_notifyRecovered; }
    void SetNotifyRecovered(bool on) { m_notifyRecovered = on; }
    // Mail again every this many minutes while an out-of-date or missing alert stands; 0: never.
    [[nodiscard]] qint32 RemindMins() const { return m_remindMins; }
    void SetRemindMins(qint32 minutes) { m_remindMins = minutes; }

    // Saves this entry into a section of a profile file (nothing when either is empty).
    void WriteToFile(const QString& iniFile, const QString& fileSection) const;

    // RawFileName with every date pattern expanded for the current moment.
    [[nodiscard]] QString Filename() const;
    // FriendlyName when not empty, otherwise Filename.
    [[nodiscard]] QString DisplayName() const;
    // 0 for the change rule (StaleMins <= 0), 1 for the stale rule.
    [[nodiscard]] qint32 MonitorType() const { return m_staleMins <= 0 ? NotifyOnChange : NotifyWhenStale; }
    [[nodiscard]] QDateTime LastModifiedVB() const;
    [[nodiscard]] const DateTimeStamp& LastModifiedSD() const { return m_lastModified; }
    // The stored time in seconds since the epoch, as the last check read it
    // from the file (no time-zone conversion); only for a file seen (Day > 0).
    [[nodiscard]] qint64 LastModifiedSecs() const
    {
        return m_modifiedSecs ? *m_modifiedSecs : LastModifiedVB().toSecsSinceEpoch();
    }

    // Examines the file against its rule; false for "No File", "File not found" and errors.
    // A check cycle passes its folder handles, which spare a walk of the folder's path.
    bool CheckFile(FolderHandles* folders = nullptr);
    // Records that the event was notified and saves the entry.
    void MarkAsNotified();
    [[nodiscard]] bool BeenNotified() const { return m_beenNotified; }
    [[nodiscard]] bool NotifyNeeded() const { return m_notifyNeeded; }

    // The notification the last check found due and not yet marked: the
    // rule's event when NotifyNeeded is set and BeenNotified is not, else a
    // missing file, a recovery or a reminder. MarkAsNotified records the first;
    // a file back to normal with a new time has two (the recovery first).
    [[nodiscard]] std::optional<Due> DueNotification() const;
    // The file is missing past its limit (status "Missing!").
    [[nodiscard]] bool IsMissing() const { return m_missing; }
    // True once when a check found the file's time well ahead of the clock,
    // which keeps it from ever going stale; the caller tells the user.
    [[nodiscard]] bool TakeFutureWarning();
    // Takes over another entry's standing alert (since when missing, which
    // alert, since when, when last mailed), so that an edited copy of an entry
    // neither repeats nor forgets an alert.
    void TakeAlertState(const cMonitorFile& other);
    // Forgets what the last check found due; the standing alert stays, and the
    // next check finds again what it calls for.
    void DropDue() { m_due.clear(); }
    // A change the profile read found is mailed at the first check instead of
    // being forgotten; set before ReadFromFile.
    void SetMailChangesFoundAtLoad(bool on) { m_mailChangesFoundAtLoad = on; }

    // Loads the entry from a section, then checks the file. False when either argument is empty.
    bool ReadFromFile(const QString& iniFile, const QString& fileSection);

    [[nodiscard]] const QString& ProfilePath() const { return m_profilePath; }
    [[nodiscard]] const QString& SectionName() const { return m_sectionName; }

    // The store of the settings this entry belongs to: reads and writes of its file go through it.
    void SetStore(std::shared_ptr<ProfileStore> store) { m_store = std::move(store); }

private:
    void SetLastModified(const DateTimeStamp& stamp) { m_lastModified = stamp; }
    void checkMissing(const QString& name, qint64 now);
    void checkAlerts(qint64 now, std::time_t modified);
    [[nodiscard]] bool reminderDue(qint64 now);
    // The entry's store when it serves that file, else a store of its own for it.
    [[nodiscard]] std::shared_ptr<ProfileStore> StoreFor(const QString& iniFile) const;

    QString m_rawFileName;
    QString m_friendlyName;
    QString m_status;
    qint32 m_staleMins = 0;
    bool m_attachFileToEmail = false;
    QString m_profilePath;
    QString m_sectionName;
    bool m_notifyNeeded = false;
    bool m_beenNotified = false;
    DateTimeStamp m_lastModified;
    std::optional<qint64> m_modifiedSecs;
    bool m_notifyMissing = false;
    bool m_notifyRecovered = false;
    qint32 m_remindMins = 0;

    // The alert state, kept in the section while it matters (times in
    // seconds since the epoch, 0 for none): since when the file has been
    // missing, which alert stands, since when its problem lasts, and when it
    // was last mailed; the expanded name last seen, for dated names.
    qint64 m_missingSince = 0;
    std::optional<Event> m_alert;
    qint64 m_alertSince = 0;
    qint64 m_alertSent = 0;
    QString m_seenName;

    // What the last check found due, in order.
    std::vector<Due> m_due;
    bool m_missing = false;
    bool m_futureWarned = false;
    bool m_futureWarningDue = false;
    bool m_mailChangesFoundAtLoad = false;
    bool m_changeFoundAtLoad = false;
    std::shared_ptr<ProfileStore> m_store;

    // What the last WriteToFile left in its section, so that saving an entry
    // that has not changed, into a section nobody has touched since, is skipped.
    struct Saved
    {
        std::weak_ptr<const ProfileStore> store;
        QString section;
        ProfileStore::SectionState state;
        QString rawFileName;
        QString friendlyName;
        qint32 staleMins = 0;
        bool attachFileToEmail = false;
        bool beenNotified = false;
        bool notifyNeeded = false;
        DateTimeStamp lastModified;
        QString alertKeys;
    };
    // Held apart, and only once saved: most entries of a large list are never
    // written, and copies of an entry may share it as it never changes.
    mutable std::shared_ptr<const Saved> m_saved;
};
