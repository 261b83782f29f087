#include "model/cMonitorFile.h"

#include "model/ProfileFormat.h"
#include "support/Clock.h"
#include "support/DatePattern.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/FolderHandles.h"
#include "support/ProfileStore.h"

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
    const auto unchanged = [&] {
        const auto same = [](const QString& a, const QString& b) {
            // Saved texts share their data with the entry's until either changes.
            return a.size() == b.size() && (a.constData() == b.constData() || a == b);
        };
        return m_saved && m_saved->staleMins == m_staleMins && m_saved->attachFileToEmail == m_attachFileToEmail &&
               m_saved->beenNotified == m_beenNotified && m_saved->notifyNeeded == m_notifyNeeded &&
               m_saved->lastModified == m_lastModified && same(m_saved->rawFileName, m_rawFileName) &&
               same(m_saved->friendlyName, m_friendlyName) && same(m_saved->section, fileSection) &&
               m_saved->store.lock() == store && store->Unchanged(m_saved->state);
    };
    if (unchanged()) {
        return; // every key already holds what would be written
    }
    m_saved.reset();
    const QString zero = QStringLiteral("0");
    ProfileStore::Transaction transaction(*store);
    ProfileFormat::WriteIniValue(*store, fileSection, kFileName, m_rawFileName, QString());
    ProfileFormat::WriteIniValue(*store, fileSection, kFriendlyName, m_friendlyName, QString());
    ProfileFormat::WriteIniValue(*store, fileSection, kStaleMins, QString::number(m_staleMins), zero);
    ProfileFormat::WriteIniValue(*store, fileSection, kAttachFile, flag(m_attachFileToEmail), zero);
    ProfileFormat::WriteIniValue(*store, fileSection, kBeenNotified, flag(m_beenNotified), QString());
    ProfileFormat::WriteIniValue(*store, fileSection, kNotifyNeeded, flag(m_notifyNeeded), QString());
    ProfileFormat::WriteIniValue(
        *store, fileSection, kLastModified, DateTimeUtility::FormatDateStamp(m_lastModified), QString());
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
                                                       m_lastModified});
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
        return false;
    }
    DateTimeStamp seen;
    if (!DateTimeUtility::StampFromTimeT(modified, seen)) {
        // The flags and the stored time stay, so the next good check compares with the last good time.
        m_status = QStringLiteral("Last-modified time out of range");
        return false;
    }

    m_status = QStringLiteral("OK");
    if (m_lastModified.Day > 0) {
        if (m_staleMins != 0) {
            // 64-bit so that a hand-edited huge StaleMins means "very long", not an overflow.
            const double limit = static_cast<double>(static_cast<qint64>(m_staleMins) * 60);
            // The age from the file's own clock reading: exact also in the
            // hour a change from summer time repeats.
            const double age =
                static_cast<double>(Clock::Current().NowMSecsSinceEpoch()) / 1000.0 - static_cast<double>(modified);
            if (age < limit) {
                m_notifyNeeded = false;
                m_beenNotified = false;
            } else {
                m_status = QStringLiteral("Out of Date!");
                m_notifyNeeded = true;
            }
        } else if (DateTimeUtility::SameStamp(seen, m_lastModified)) {
            m_notifyNeeded = false;
            m_beenNotified = false;
        } else {
            m_status = QStringLiteral("Changed!");
            m_notifyNeeded = true;
        }
        // Saved before the stamp is replaced: the section keeps the previous time with NotifyNeeded=1.
        if (m_notifyNeeded) {
            WriteToFile(m_profilePath, m_sectionName);
        }
    }
    SetLastModified(seen);
    return true;
}

void cMonitorFile::MarkAsNotified()
{
    m_beenNotified = true;
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
    }
    CheckFile();
    return true;
}
