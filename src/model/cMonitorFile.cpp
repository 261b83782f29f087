#include "model/cMonitorFile.h"

#include "model/ProfileFormat.h"
#include "support/Clock.h"
#include "support/DatePattern.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/FolderHandles.h"
#include "support/ProfileStore.h"

#include <QDateTime>

#include <algorithm>

namespace {

const QString kFileName = QStringLiteral("FileName");
const QString kFriendlyName = QStringLiteral("FriendlyName");
const QString kStaleMins = QStringLiteral("StaleMins");
const QString kAttachFile = QStringLiteral("AttachFile");
// "BeenNotifed": the key existing profiles use.
const QString kBeenNotified = QStringLiteral("BeenNotifed");
const QString kNotifyNeeded = QStringLiteral("NotifyNeeded");
const QString kLastModified = QStringLiteral("LastModified");
const QString kNotifyMissing = QStringLiteral("NotifyMissing");
const QString kNotifyRecovered = QStringLiteral("NotifyRecovered");
const QString kRemindMins = QStringLiteral("RemindMins");
const QString kMissingSince = QStringLiteral("MissingSince");
const QString kAlert = QStringLiteral("Alert");
const QString kAlertSince = QStringLiteral("AlertSince");
const QString kAlertSent = QStringLiteral("AlertSent");
const QString kSeenName = QStringLiteral("SeenName");

// A file time further ahead of the clock than this is reported: it cannot go stale until then.
constexpr qint64 kFutureSlackSecs = 5 * 60;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

qint64 nowSecs()
{
    return floorDiv(Clock::Current().NowMSecsSinceEpoch(), 1000);
}

// Moments of the alert state as ISO 8601 in UTC: readable, and the same whatever the time zone.
QString momentText(qint64 secs)
{
    return secs == 0 ? QString() : QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toString(Qt::ISODate);
}

qint64 parseMoment(const QString& text)
{
    const QDateTime moment = QDateTime::fromString(text.trimmed(), Qt::ISODate);
    return moment.isValid() ? moment.toSecsSinceEpoch() : 0;
}

QString alertText(const std::optional<cMonitorFile::Event>& alert)
{
    if (!alert) {
        return QString();
    }
    return *alert == cMonitorFile::Event::Missing ? QStringLiteral("Missing") : QStringLiteral("OutOfDate");
}

std::optional<cMonitorFile::Event> parseAlert(const QString& text)
{
    if (text.trimmed().compare(QStringLiteral("Missing"), Qt::CaseInsensitive) == 0) {
        return cMonitorFile::Event::Missing;
    }
    if (text.trimmed().compare(QStringLiteral("OutOfDate"), Qt::CaseInsensitive) == 0) {
        return cMonitorFile::Event::OutOfDate;
    }
    return std::nullopt;
}

QString flag(bool on)
{
    return on ? QStringLiteral("1") : QStringLiteral("0");
}

} // namespace

std::shared_ptr<ProfileStore> cMonitorFile::StoreFor(const QString& iniFile) const
{
    if (m_store && m_store->IsFor(iniFile)) {
        return m_store;
    }
    return std::make_shared<ProfileStore>(iniFile);
}

void cMonitorFile::WriteToFile(const QString& iniFile, const QString& fileSection) const
{
    if (iniFile.isEmpty() || fileSection.isEmpty()) {
        return;
    }
    const std::shared_ptr<ProfileStore> store = StoreFor(iniFile);
    // The expanded name seen last matters only where a dated name is judged missing by the change rule.
    const bool keepSeenName = m_notifyMissing && m_staleMins == 0 && m_rawFileName.contains(QLatin1Char('#'));
    const QString zero = QStringLiteral("0");
    // Each with the value that means what a profile without the key means.
    const struct
    {
        const QString& key;
        QString value;
        QString defaultValue;
    } alertKeys[] = {
        {kNotifyMissing, flag(m_notifyMissing), zero},
        {kNotifyRecovered, flag(m_notifyRecovered), zero},
        {kRemindMins, QString::number(m_remindMins), zero},
        {kMissingSince, momentText(m_missingSince), QString()},
        {kAlert, alertText(m_alert), QString()},
        {kAlertSince, m_alert ? momentText(m_alertSince) : QString(), QString()},
        {kAlertSent, m_alert ? momentText(m_alertSent) : QString(), QString()},
        {kSeenName, keepSeenName ? m_seenName : QString(), QString()},
    };
    QString alertValues;
    for (const auto& entry : alertKeys) {
        alertValues += entry.value + QChar(0);
    }
    const auto unchanged = [&] {
        const auto same = [](const QString& a, const QString& b) {
            // Saved texts share their data with the entry's until either changes.
            return a.size() == b.size() && (a.constData() == b.constData() || a == b);
        };
        return m_saved && m_saved->staleMins == m_staleMins && m_saved->attachFileToEmail == m_attachFileToEmail &&
               m_saved->beenNotified == m_beenNotified && m_saved->notifyNeeded == m_notifyNeeded &&
               m_saved->lastModified == m_lastModified && m_saved->alertKeys == alertValues &&
               same(m_saved->rawFileName, m_rawFileName) && same(m_saved->friendlyName, m_friendlyName) &&
               same(m_saved->section, fileSection) && m_saved->store.lock() == store &&
               store->Unchanged(m_saved->state);
    };
    if (unchanged()) {
        return; // every key already holds what would be written
    }
    m_saved.reset();
    ProfileStore::Transaction transaction(*store);
    ProfileFormat::WriteIniValue(*store, fileSection, kFileName, m_rawFileName, QString());
    ProfileFormat::WriteIniValue(*store, fileSection, kFriendlyName, m_friendlyName, QString());
    ProfileFormat::WriteIniValue(*store, fileSection, kStaleMins, QString::number(m_staleMins), zero);
    ProfileFormat::WriteIniValue(*store, fileSection, kAttachFile, flag(m_attachFileToEmail), zero);
    ProfileFormat::WriteIniValue(*store, fileSection, kBeenNotified, flag(m_beenNotified), QString());
    ProfileFormat::WriteIniValue(*store, fileSection, kNotifyNeeded, flag(m_notifyNeeded), QString());
    ProfileFormat::WriteIniValue(
        *store, fileSection, kLastModified, DateTimeUtility::FormatDateStamp(m_lastModified), QString());
    for (const auto& entry : alertKeys) {
        ProfileFormat::WriteIniValue(*store, fileSection, entry.key, entry.value, entry.defaultValue);
    }
    const std::optional<ProfileStore::SectionState> state = store->StateOf(fileSection);
    if (transaction.Commit() && state && store == m_store) {
        // Read before the commit: a successful replacement keeps the document,
        // a failed one drops it, and the next reading gets a new load number.
        m_saved = std::make_shared<const Saved>(Saved {store,
                                                       fileSection,
                                                       *state,
                                                       m_rawFileName,
                                                       m_friendlyName,
                                                       m_staleMins,
                                                       m_attachFileToEmail,
                                                       m_beenNotified,
                                                       m_notifyNeeded,
                                                       m_lastModified,
                                                       alertValues});
    }
}

QString cMonitorFile::Filename() const
{
    return DatePattern::ExpandName(m_rawFileName);
}

QString cMonitorFile::DisplayName() const
{
    return m_friendlyName.isEmpty() ? Filename() : m_friendlyName;
}

QDateTime cMonitorFile::LastModifiedVB() const
{
    return DateTimeUtility::StampToDate(m_lastModified);
}

bool cMonitorFile::CheckFile(FolderHandles* folders)
{
    m_due.clear();
    m_missing = false;
    // What trimmed().isEmpty() tells, without building the trimmed copy on every check.
    if (std::all_of(m_rawFileName.cbegin(), m_rawFileName.cend(), [](QChar c) { return c.isSpace(); })) {
        m_status = QStringLiteral("No File");
        return false;
    }
    const QString name = Filename();

    std::time_t modified = 0;
    const bool found =
        folders ? folders->LastModified(name, modified) : FileSystemUtility::LastModified(name, modified);
    if (!found) {
        m_status = QStringLiteral("File not found");
        if (m_notifyMissing) {
            checkMissing(name, nowSecs());
        }
        return false;
    }
    DateTimeStamp seen;
    if (!DateTimeUtility::StampFromTimeT(modified, seen)) {
        // The flags and the stored time stay, so the next good check compares with the last good time.
        m_status = QStringLiteral("Last-modified time out of range");
        return false;
    }

    const qint64 now = nowSecs();
    // 64-bit so that a hand-edited huge StaleMins means "very long", not an overflow.
    const qint64 limit = static_cast<qint64>(m_staleMins) * 60;
    bool save = false;
    m_status = QStringLiteral("OK");
    if (m_lastModified.Day > 0) {
        if (m_staleMins != 0) {
            // The age from the file's own clock reading: exact also in the
            // hour a change from summer time repeats.
            const double age =
                static_cast<double>(Clock::Current().NowMSecsSinceEpoch()) / 1000.0 - static_cast<double>(modified);
            if (age < static_cast<double>(limit)) {
                m_notifyNeeded = false;
                m_beenNotified = false;
            } else {
                m_status = QStringLiteral("Out of Date!");
                m_notifyNeeded = true;
            }
        } else if (!DateTimeUtility::SameStamp(seen, m_lastModified)) {
            m_status = QStringLiteral("Changed!");
            m_notifyNeeded = true;
        } else if (m_changeFoundAtLoad) {
            // The change the profile read found, kept for this check to mail. Not
            // saved: the section keeps the time from before it until it is mailed.
            m_status = QStringLiteral("Changed!");
        } else {
            m_notifyNeeded = false;
            m_beenNotified = false;
        }
        save = m_notifyNeeded && !(m_changeFoundAtLoad && DateTimeUtility::SameStamp(seen, m_lastModified));
    }
    if (m_staleMins > 0 && modified - now > kFutureSlackSecs) {
        m_status = QStringLiteral("Modified in the future!");
        // Told once, by whichever check the caller looks at next.
        m_futureWarningDue = m_futureWarningDue || !m_futureWarned;
        m_futureWarned = true;
    } else {
        m_futureWarned = false;
    }

    if (m_missingSince != 0) {
        m_missingSince = 0;
        save = true;
    }
    if (m_notifyMissing && m_staleMins == 0 && m_rawFileName.contains(QLatin1Char('#')) && m_seenName != name) {
        save = true;
    }
    m_seenName = name;

    const bool outOfDate = m_staleMins != 0 && m_notifyNeeded;
    if (outOfDate && (!m_beenNotified || m_alert == Event::Missing)) {
        m_due.push_back({Event::OutOfDate, false, static_cast<qint64>(modified) + limit});
    } else if (outOfDate && m_alert == Event::OutOfDate && reminderDue(now)) {
        m_due.push_back({Event::OutOfDate, true, m_alertSince});
    } else if (!outOfDate && m_alert) {
        if (m_notifyRecovered) {
            m_due.push_back({Event::Recovered, false, m_alertSince});
        } else {
            m_alert.reset();
            save = true;
        }
    }
    if (m_staleMins == 0 && m_notifyNeeded && !m_beenNotified) {
        m_due.push_back({Event::Changed, false, static_cast<qint64>(modified)});
    }
    // Saved before the stamp is replaced: the section keeps the previous time with NotifyNeeded=1.
    if (save) {
        WriteToFile(m_profilePath, m_sectionName);
    }
    SetLastModified(seen);
    m_modifiedSecs = static_cast<qint64>(modified);
    return true;
}

void cMonitorFile::checkMissing(const QString& name, qint64 now)
{
    bool save = false;
    // Never seen missing, or "since" after now (the clock set back, a hand edit): from now on.
    if (m_missingSince == 0 || m_missingSince > now) {
        m_missingSince = now;
        save = true;
    }
    bool missing = false;
    if (m_staleMins != 0) {
        missing = now - m_missingSince >= static_cast<qint64>(m_staleMins) * 60;
    } else {
        // Seen before: for a dated name, this day's name itself.
        missing = m_lastModified.Day > 0 && (!m_rawFileName.contains(QLatin1Char('#')) || m_seenName == name);
    }
    if (missing) {
        m_missing = true;
        m_status = QStringLiteral("Missing!");
        if (m_alert != Event::Missing) {
            m_due.push_back({Event::Missing, false, m_missingSince});
        } else if (reminderDue(now)) {
            m_due.push_back({Event::Missing, true, m_alertSince});
        }
    }
    if (save) {
        WriteToFile(m_profilePath, m_sectionName);
    }
}

bool cMonitorFile::reminderDue(qint64 now)
{
    // A last mail after now (the clock set back, a hand edit) counts from now, so reminders go on.
    m_alertSent = qMin(m_alertSent, now);
    return m_remindMins > 0 && m_alertSent != 0 && now - m_alertSent >= static_cast<qint64>(m_remindMins) * 60;
}

std::optional<cMonitorFile::Due> cMonitorFile::DueNotification() const
{
    if (m_due.empty()) {
        return std::nullopt;
    }
    return m_due.front();
}

void cMonitorFile::TakeAlertState(const cMonitorFile& other)
{
    m_missingSince = other.m_missingSince;
    m_alert = other.m_alert;
    m_alertSince = other.m_alertSince;
    m_alertSent = other.m_alertSent;
    m_seenName = other.m_seenName;
}

bool cMonitorFile::TakeFutureWarning()
{
    const bool due = m_futureWarningDue;
    m_futureWarningDue = false;
    return due;
}

void cMonitorFile::MarkAsNotified()
{
    if (m_due.empty()) {
        m_beenNotified = true;
        WriteToFile(m_profilePath, m_sectionName);
        return;
    }
    const Due due = m_due.front();
    m_due.erase(m_due.begin());
    const qint64 now = nowSecs();
    switch (due.event) {
    case Event::Changed:
        m_beenNotified = true;
        m_changeFoundAtLoad = false;
        break;
    case Event::OutOfDate:
        m_beenNotified = true;
        // The alert is kept only for what comes after it: a recovery or reminders.
        if (m_notifyRecovered || m_remindMins > 0) {
            if (!due.reminder) {
                m_alert = Event::OutOfDate;
                m_alertSince = due.since;
            }
            m_alertSent = now;
        } else {
            m_alert.reset();
        }
        break;
    case Event::Missing:
        if (!due.reminder) {
            m_alert = Event::Missing;
            m_alertSince = due.since;
        }
        m_alertSent = now;
        break;
    case Event::Recovered:
        m_alert.reset();
        break;
    }
    if (!m_alert) {
        m_alertSince = 0;
        m_alertSent = 0;
    }
    WriteToFile(m_profilePath, m_sectionName);
}

bool cMonitorFile::ReadFromFile(const QString& iniFile, const QString& fileSection)
{
    if (iniFile.isEmpty() || fileSection.isEmpty()) {
        return false;
    }
    m_profilePath = iniFile;
    m_sectionName = fileSection;
    if (!m_store || !m_store->IsFor(iniFile)) {
        m_store = std::make_shared<ProfileStore>(iniFile);
    }
    ProfileStore& store = *m_store;
    {
        // One look at the file for all the keys.
        const ProfileStore::Transaction transaction(store);
        m_rawFileName = store.ReadString(fileSection, kFileName, QString());
        m_friendlyName = store.ReadString(fileSection, kFriendlyName, QString());
        m_staleMins = store.ReadInt(fileSection, kStaleMins, 0);
        m_attachFileToEmail = ProfileFormat::ReadIniBool(store, fileSection, kAttachFile, false);
        m_beenNotified = ProfileFormat::ReadIniBool(store, fileSection, kBeenNotified, false);
        m_notifyNeeded = ProfileFormat::ReadIniBool(store, fileSection, kNotifyNeeded, false);
        m_lastModified = DateTimeUtility::ParseStamp(store.ReadString(fileSection, kLastModified, QString()));
        m_modifiedSecs.reset();
        m_notifyMissing = ProfileFormat::ReadIniBool(store, fileSection, kNotifyMissing, false);
        m_notifyRecovered = ProfileFormat::ReadIniBool(store, fileSection, kNotifyRecovered, false);
        m_remindMins = store.ReadInt(fileSection, kRemindMins, 0);
        m_missingSince = parseMoment(store.ReadString(fileSection, kMissingSince, QString()));
        m_alert = parseAlert(store.ReadString(fileSection, kAlert, QString()));
        m_alertSince = m_alert ? parseMoment(store.ReadString(fileSection, kAlertSince, QString())) : 0;
        m_alertSent = m_alert ? parseMoment(store.ReadString(fileSection, kAlertSent, QString())) : 0;
        m_seenName = store.ReadString(fileSection, kSeenName, QString());
    }
    m_changeFoundAtLoad = false;
    CheckFile();
    if (m_mailChangesFoundAtLoad && m_staleMins == 0 && m_status == QStringLiteral("Changed!")) {
        // Made while the program was stopped: the stored been-notified flag
        // belongs to an earlier change, and this one is mailed at the first check.
        m_beenNotified = false;
        m_changeFoundAtLoad = true;
    }
    return true;
}
