#include "model/cSettings.h"

#include "model/ProfileFormat.h"
#include "support/DebugLog.h"
#include "support/FileSystemUtility.h"
#include "support/GeneralUtility.h"
#include "support/ProfileStore.h"

namespace {

const QString kGeneral = QStringLiteral("General");
const QString kSMTPServer = QStringLiteral("SMTPServer");
const QString kEmail = QStringLiteral("Email");
const QString kPasswordStore = QStringLiteral("PasswordStore");
const QString kProfile = QStringLiteral("Profile");
const QString kKeyring = QStringLiteral("Keyring");

cSettings::DialogHook& dialogHook()
{
    static cSettings::DialogHook hook;
    return hook;
}

QString fileSection(qint32 position)
{
    return QStringLiteral("File") + QString::number(position);
}

} // namespace

void cSettings::SetDialogHook(DialogHook hook)
{
    dialogHook() = std::move(hook);
}

bool cSettings::ReadSettings(const QString& profileName)
{
    if (profileName.isEmpty()) {
        return false;
    }
    m_profileName = profileName;
    m_profilePath = ProfileFormat::ProfilePath(profileName);
    FileSystemUtility::CreateFolderPath(FileSystemUtility::ParentFolder(m_profilePath));

    // One look at the file for the whole read; the saves of files that need a
    // notification reach the disk together at the end.
    if (!m_store || !m_store->IsFor(m_profilePath)) {
        m_store = std::make_shared<ProfileStore>(m_profilePath);
    }
    ProfileStore& store = *m_store;
    store.Reload();
    ProfileStore::Transaction transaction(store);
    m_readProblem = store.ReadProblem();
    if (!m_readProblem.isEmpty()) {
        DebugLog(QStringLiteral("Profile ") + m_profilePath + QStringLiteral(" cannot be read: ") + m_readProblem, 5);
    }

    qint32 count = store.ReadInt(kGeneral, QStringLiteral("NumberFiles"), 0);
    if (count > MaxFiles) {
        DebugLog(QStringLiteral("NumberFiles=") + QString::number(count) + QStringLiteral(" in ") + m_profilePath +
                     QStringLiteral(" is more than ") + QString::number(MaxFiles) +
                     QStringLiteral("; only the first ") + QString::number(MaxFiles) +
                     QStringLiteral(" files are read"),
                 5);
        count = MaxFiles;
    }
    m_files.clear();
    m_files.resize(static_cast<size_t>(qMax(0, count)));

    m_pollInterval = store.ReadInt(kGeneral, QStringLiteral("PollInterval"), 30);
    m_watchEvents = ProfileFormat::ReadIniBool(store, kGeneral, QStringLiteral("WatchEvents"), false);
    m_notifyMissedChanges = ProfileFormat::ReadIniBool(store, kGeneral, QStringLiteral("NotifyMissedChanges"), false);
    m_desktopNotify = ProfileFormat::ReadIniBool(store, kGeneral, QStringLiteral("DesktopNotify"), false);
    m_metricsFile = store.ReadString(kGeneral, QStringLiteral("MetricsFile"), QString());
    m_smtpEnabled = ProfileFormat::ReadIniBool(store, kSMTPServer, QStringLiteral("Enabled"), true);
    m_smtpServerAddress = store.ReadString(kSMTPServer, QStringLiteral("Address"), QString());
    m_smtpLoginName = store.ReadString(kSMTPServer, QStringLiteral("LoginName"), QString());
    m_smtpPassword =
        GeneralUtility::TransformSecret(store.ReadString(kSMTPServer, QStringLiteral("Password"), QString()), true);
    m_smtpPasswordStore = store.ReadString(kSMTPServer, kPasswordStore, kProfile).compare(kKeyring, Qt::CaseInsensitive)
                              ? PasswordStore::Profile
                              : PasswordStore::Keyring;
    m_smtpPort = store.ReadInt(kSMTPServer, QStringLiteral("Port"), 25);
    m_smtpSecurity = store.ReadString(kSMTPServer, QStringLiteral("Security"), QStringLiteral("None"));
    m_smtpCAFile = store.ReadString(kSMTPServer, QStringLiteral("CAFile"), QString());
    m_emailFrom = store.ReadString(kEmail, QStringLiteral("From"), QString());
    m_emailTo = store.ReadString(kEmail, QStringLiteral("To"), QString());

    for (size_t i = 0; i < m_files.size(); ++i) {
        m_files[i].SetStore(m_store);
        m_files[i].SetMailChangesFoundAtLoad(m_notifyMissedChanges);
        m_files[i].ReadFromFile(m_profilePath, fileSection(static_cast<qint32>(i + 1)));
    }
    // What was just read is what the file holds.
    m_failedWritesMadeGood = store.FailedWrites();
    return true;
}

bool cSettings::WriteSettings(const QString& profileName)
{
    const QString name = profileName.isEmpty() ? m_profileName : profileName;
    if (name.isEmpty()) {
        return false;
    }
    m_profilePath = ProfileFormat::ProfilePath(name);
    if (!FileSystemUtility::CreateFolderPath(FileSystemUtility::ParentFolder(m_profilePath))) {
        return false;
    }

    const QString& path = m_profilePath;
    if (!m_store || !m_store->IsFor(path)) {
        m_store = std::make_shared<ProfileStore>(path);
    }
    ProfileStore& store = *m_store;
    ProfileStore::Transaction transaction(store);
    const bool keyring = m_smtpPasswordStore == PasswordStore::Keyring;
    ProfileFormat::WriteIniValue(store,
                                 kSMTPServer,
                                 QStringLiteral("Enabled"),
                                 m_smtpEnabled ? QStringLiteral("1") : QStringLiteral("0"),
                                 QStringLiteral("1"));
    ProfileFormat::WriteIniValue(store, kSMTPServer, QStringLiteral("Address"), m_smtpServerAddress, QString());
    ProfileFormat::WriteIniValue(store, kSMTPServer, QStringLiteral("LoginName"), m_smtpLoginName, QString());
    ProfileFormat::WriteIniValue(store,
                                 kSMTPServer,
                                 QStringLiteral("Password"),
                                 keyring ? QString() : GeneralUtility::TransformSecret(m_smtpPassword, true),
                                 QString());
    ProfileFormat::WriteIniValue(store, kSMTPServer, kPasswordStore, keyring ? kKeyring : kProfile, kProfile);
    ProfileFormat::WriteIniValue(
        store, kSMTPServer, QStringLiteral("Port"), QString::number(m_smtpPort), QStringLiteral("25"));
    ProfileFormat::WriteIniValue(
        store, kSMTPServer, QStringLiteral("Security"), m_smtpSecurity, QStringLiteral("None"));
    ProfileFormat::WriteIniValue(store, kSMTPServer, QStringLiteral("CAFile"), m_smtpCAFile, QString());
    ProfileFormat::WriteIniValue(store, kEmail, QStringLiteral("From"), m_emailFrom, QString());
    ProfileFormat::WriteIniValue(store, kEmail, QStringLiteral("To"), m_emailTo, QString());
    ProfileFormat::WriteIniValue(
        store, kGeneral, QStringLiteral("NumberFiles"), QString::number(NumberFiles()), QStringLiteral("0"));
    ProfileFormat::WriteIniValue(
        store, kGeneral, QStringLiteral("PollInterval"), QString::number(m_pollInterval), QStringLiteral("30"));
    ProfileFormat::WriteIniValue(store,
                                 kGeneral,
                                 QStringLiteral("WatchEvents"),
                                 m_watchEvents ? QStringLiteral("1") : QStringLiteral("0"),
                                 QStringLiteral("0"));
    ProfileFormat::WriteIniValue(store,
                                 kGeneral,
                                 QStringLiteral("NotifyMissedChanges"),
                                 m_notifyMissedChanges ? QStringLiteral("1") : QStringLiteral("0"),
                                 QStringLiteral("0"));
    ProfileFormat::WriteIniValue(store,
                                 kGeneral,
                                 QStringLiteral("DesktopNotify"),
                                 m_desktopNotify ? QStringLiteral("1") : QStringLiteral("0"),
                                 QStringLiteral("0"));
    ProfileFormat::WriteIniValue(store, kGeneral, QStringLiteral("MetricsFile"), m_metricsFile, QString());
    for (size_t i = 0; i < m_files.size(); ++i) {
        m_files[i].SetStore(m_store);
        m_files[i].WriteToFile(path, fileSection(static_cast<qint32>(i + 1)));
    }
    transaction.Commit();
    return true;
}

bool cSettings::DisplaySettings()
{
    const DialogHook& hook = dialogHook();
    if (!hook || !hook(*this)) {
        return false;
    }
    return WriteSettings();
}

QString cSettings::SavingToReport()
{
    const QString problem = m_store ? m_store->WriteProblem() : QString();
    if (problem == m_reportedSaveFailure) {
        return QString();
    }
    const bool madeGood = problem.isEmpty();
    m_reportedSaveFailure = problem;
    if (madeGood) {
        return QStringLiteral("Profile ") + m_profilePath + QStringLiteral(" is saved again");
    }
    return QStringLiteral("Profile ") + m_profilePath + QStringLiteral(" was not saved (") + problem +
           QStringLiteral("); it keeps what was last saved");
}

void cSettings::SaveAgainAfterFailure()
{
    // Another save may have succeeded since: only a count of failures tells
    // that some file's state was left unsaved.
    if (!m_store || m_store->FailedWrites() == m_failedWritesMadeGood) {
        return;
    }
    // Each file's state as the cycle left it, in one replacement: keys the
    // file on disk already holds are not written again.
    ProfileStore::Transaction transaction(*m_store);
    for (size_t i = 0; i < m_files.size(); ++i) {
        m_files[i].WriteToFile(m_profilePath, fileSection(static_cast<qint32>(i + 1)));
    }
    if (transaction.Commit()) {
        m_failedWritesMadeGood = m_store->FailedWrites();
        m_store->ClearWriteProblem(); // saved, or the file held it all already
    }
}

void cSettings::BeginCheckCycle()
{
    // Also drops what a cycle that never reached its end left open.
    m_folders.Clear();
    m_inCheckCycle = true;
}

void cSettings::EndCheckCycle()
{
    // Closed between cycles: a held folder would keep its file system from being unmounted.
    m_folders.Clear();
    m_inCheckCycle = false;
}

cMonitorFile* cSettings::MonitorFile(qint16 index)
{
    if (index < 1 || index > NumberFiles()) {
        return nullptr;
    }
    return &m_files[static_cast<size_t>(index - 1)];
}

const cMonitorFile* cSettings::MonitorFile(qint16 index) const
{
    if (index < 1 || index > NumberFiles()) {
        return nullptr;
    }
    return &m_files[static_cast<size_t>(index - 1)];
}

bool cSettings::RemoveFile(qint16 index)
{
    if (index < 1 || index > NumberFiles()) {
        return false;
    }
    m_files.erase(m_files.begin() + (index - 1));
    SaveAfterListChange();
    return true;
}

qint16 cSettings::AddFile(const cMonitorFile* file)
{
    if (!file) {
        return 0;
    }
    if (NumberFiles() >= MaxFiles) {
        DebugLog(QStringLiteral("A profile holds at most ") + QString::number(MaxFiles) +
                     QStringLiteral(" files; the file was not added"),
                 5);
        return 0;
    }
    m_files.push_back(*file);
    cMonitorFile& added = m_files.back();
    added.SetStore(m_store);
    added.CheckFile();
    // Marked as the rule's event; a standing alert's mails are the next check's to send.
    added.DropDue();
    added.MarkAsNotified();
    SaveAfterListChange();
    return NumberFiles();
}

void cSettings::SaveAfterListChange()
{
    if (m_batches > 0) {
        m_savePending = true;
    } else {
        WriteSettings();
    }
}

cSettings::WriteBatch::WriteBatch(cSettings& settings)
    : m_settings(settings)
{
    ++m_settings.m_batches;
}

cSettings::WriteBatch::~WriteBatch()
{
    if (--m_settings.m_batches == 0 && m_settings.m_savePending) {
        m_settings.m_savePending = false;
        m_settings.WriteSettings();
    }
}
