#pragma once

#include "support/DateTimeStamp.h"
#include "support/ProfileStore.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <optional>

class FolderHandles;

// One entry of the watch list: the name as entered (possibly with #date
// patterns#), its rule, the time seen at the last check and the two flags
// that drive notification. It loads and saves itself as one profile section.
class cMonitorFile
{
public:
    enum MonitorTypes : qint32 { NotifyOnChange = 0, NotifyWhenStale = 1 };

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

    // Examines the file against its rule; false for "No File", "File not found" and errors.
    // A check cycle passes its folder handles, which spare a walk of the folder's path.
    bool CheckFile(FolderHandles* folders = nullptr);
    // Records that the event was notified and saves the entry.
    void MarkAsNotified();
    [[nodiscard]] bool BeenNotified() const { return m_beenNotified; }
    [[nodiscard]] bool NotifyNeeded() const { return m_notifyNeeded; }

    // Loads the entry from a section, then checks the file. False when either argument is empty.
    bool ReadFromFile(const QString& iniFile, const QString& fileSection);

    [[nodiscard]] const QString& ProfilePath() const { return m_profilePath; }
    [[nodiscard]] const QString& SectionName() const { return m_sectionName; }

    // The store of the settings this entry belongs to: reads and writes of its file go through it.
    void SetStore(std::shared_ptr<ProfileStore> store) { m_store = std::move(store); }

private:
    void SetLastModified(const DateTimeStamp& stamp) { m_lastModified = stamp; }
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
    };
    // Held apart, and only once saved: most entries of a large list are never
    // written, and copies of an entry may share it as it never changes.
    mutable std::shared_ptr<const Saved> m_saved;
};
