#include "model/cMonitorFile.h"

#include "model/ProfileFormat.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"
#include "support/DatePattern.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/IniFile.h"

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

void cMonitorFile::WriteToFile(const QString& iniFile, const QString& fileSection) const
{
    if (iniFile.isEmpty() || fileSection.isEmpty()) {
        return;
    }
    const auto unchanged = [&] {
        const auto same = [](const QString& a, const QString& b) {
            // Saved texts share their data with the entry's until either changes.
            return a.size() == b.size() && (a.constData() == b.constData() || a == b);
        };
        return m_saved && m_saved->staleMins == m_staleMins && m_saved->attachFileToEmail == m_attachFileToEmail &&
               m_saved->beenNotified == m_beenNotified && m_saved->notifyNeeded == m_notifyNeeded &&
               m_saved->lastModified == m_lastModified && same(m_saved->rawFileName, m_rawFileName) &&
               same(m_saved->friendlyName, m_friendlyName) && same(m_saved->section, fileSection) &&
               same(m_saved->file, iniFile) && IniFile::Unchanged(m_saved->state, iniFile);
    };
    if (unchanged()) {
        return; // every key already holds what would be written
    }
    m_saved.reset();
    const QString zero = QStringLiteral("0");
    IniFile::Transaction transaction(iniFile);
    ProfileFormat::WriteIniValue(fileSection, kFileName, m_rawFileName, iniFile, QString());
    ProfileFormat::WriteIniValue(fileSection, kFriendlyName, m_friendlyName, iniFile, QString());
    ProfileFormat::WriteIniValue(fileSection, kStaleMins, QString::number(m_staleMins), iniFile, zero);
    ProfileFormat::WriteIniValue(fileSection, kAttachFile, flag(m_attachFileToEmail), iniFile, zero);
    ProfileFormat::WriteIniValue(fileSection, kBeenNotified, flag(m_beenNotified), iniFile, QString());
    ProfileFormat::WriteIniValue(fileSection, kNotifyNeeded, flag(m_notifyNeeded), iniFile, QString());
    ProfileFormat::WriteIniValue(
        fileSection, kLastModified, DateTimeUtility::FormatDateStamp(m_lastModified), iniFile, QString());
    const std::optional<IniFile::SectionState> state = IniFile::StateOf(fileSection, iniFile);
    if (transaction.Commit() && state) {
        // Read before the commit: a successful replacement keeps the document,
        // a failed one drops it, and the next reading gets a new load number.
        m_saved = std::make_shared<const Saved>(Saved {iniFile,
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

bool cMonitorFile::CheckFile()
{
    if (m_rawFileName.trimmed().isEmpty()) {
        m_status = QStringLiteral("No File");
        return false;
    }
    const QString name = Filename();

    std::time_t modified = 0;
    if (!FileSystemUtility::LastModified(name, modified)) {
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
    m_rawFileName = ConfigUtility::ReadIniString(fileSection, kFileName, QString(), iniFile);
    m_friendlyName = ConfigUtility::ReadIniString(fileSection, kFriendlyName, QString(), iniFile);
    m_staleMins = ConfigUtility::ReadIniInt(fileSection, kStaleMins, 0, iniFile);
    m_attachFileToEmail = ProfileFormat::ReadIniBool(fileSection, kAttachFile, false, iniFile);
    m_beenNotified = ProfileFormat::ReadIniBool(fileSection, kBeenNotified, false, iniFile);
    m_notifyNeeded = ProfileFormat::ReadIniBool(fileSection, kNotifyNeeded, false, iniFile);
    m_lastModified =
        DateTimeUtility::ParseStamp(ConfigUtility::ReadIniString(fileSection, kLastModified, QString(), iniFile));
    CheckFile();
    return true;
}
