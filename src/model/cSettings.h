#pragma once

#include "model/cMonitorFile.h"
#include "support/FolderHandles.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

// One profile: the poll interval, the SMTP server, sender and recipients, and
// the ordered (1-based) list of monitored files. Reads and writes the profile file.
class cSettings
{
public:
    // The most files a profile holds; the list is indexed with 16-bit numbers.
    static constexpr qint16 MaxFiles = 32767;

    bool ReadSettings(const QString& profileName);
    bool WriteSettings(const QString& profileName = QString());
    // Opens the program settings dialog on this object; writes the profile when confirmed.
    bool DisplaySettings();

    [[nodiscard]] bool SMTPEnabled() const { return m_smtpEnabled; }
    void SetSMTPEnabled(bool enabled) { m_smtpEnabled = enabled; }
    [[nodiscard]] const QString& SMTPServerAddress() const { return m_smtpServerAddress; }
    void SetSMTPServerAddress(const QString& address) { m_smtpServerAddress = address; }
    [[nodiscard]] const QString& SMTPLoginName() const { return m_smtpLoginName; }
    void SetSMTPLoginName(const QString& name) { m_smtpLoginName = name; }
    [[nodiscard]] const QString& SMTPPassword() const { return m_smtpPassword; }
    void SetSMTPPassword(const QString& password) { m_smtpPassword = password; }
    // Where the password is kept: in the profile, or (by the window) in the desktop's keyring under
    // the profile's name, and then never in the profile.
    enum class PasswordStore { Profile, Keyring };
    [[nodiscard]] PasswordStore SMTPPasswordStore() const { return m_smtpPasswordStore; }
    void SetSMTPPasswordStore(PasswordStore store) { m_smtpPasswordStore = store; }
    // Beyond plain port-25 submission: the port, "None", "STARTTLS" or "TLS", and an extra CA bundle.
    [[nodiscard]] qint32 SMTPPort() const { return m_smtpPort; }
    void SetSMTPPort(qint32 port) { m_smtpPort = port; }
    [[nodiscard]] const QString& SMTPSecurity() const { return m_smtpSecurity; }
    void SetSMTPSecurity(const QString& security) { m_smtpSecurity = security; }
    [[nodiscard]] const QString& SMTPCAFile() const { return m_smtpCAFile; }
    void SetSMTPCAFile(const QString& file) { m_smtpCAFile = file; }
    [[nodiscard]] const QString& EmailFrom() const { return m_emailFrom; }
    void SetEmailFrom(const QString& from) { m_emailFrom = from; }
    [[nodiscard]] const QString& EmailTo() const { return m_emailTo; }
    void SetEmailTo(const QString& to) { m_emailTo = to; }

    // The entry at a 1-based position; nullptr for 0 or past the end.
    [[nodiscard]] cMonitorFile* MonitorFile(qint16 index);
    [[nodiscard]] const cMonitorFile* MonitorFile(qint16 index) const;
    bool RemoveFile(qint16 index);
    [[nodiscard]] qint16 NumberFiles() const { return static_cast<qint16>(m_files.size()); }
    // Appends a file, checks it, marks it notified and saves the profile; its position, or 0.
    qint16 AddFile(const cMonitorFile* file);

    [[nodiscard]] qint32 PollInterval() const { return m_pollInterval; }
    void SetPollInterval(qint32 seconds) { m_pollInterval = seconds; }
    // Beyond polling: a check as soon as a watched file or its folder reports a change.
    [[nodiscard]] bool WatchEvents() const { return m_watchEvents; }
    void SetWatchEvents(bool watch) { m_watchEvents = watch; }
    // A change the profile read finds (made while the program was stopped) is mailed at the first check.
    [[nodiscard]] bool NotifyMissedChanges() const { return m_notifyMissedChanges; }
    void SetNotifyMissedChanges(bool on) { m_notifyMissedChanges = on; }
    // The window also shows each notification's outcome as a desktop notification.
    [[nodiscard]] bool DesktopNotify() const { return m_desktopNotify; }
    void SetDesktopNotify(bool on) { m_desktopNotify = on; }
    // A file replaced after every check cycle with the watches' state in the
    // Prometheus text format; empty for none.
    [[nodiscard]] const QString& MetricsFile() const { return m_metricsFile; }
    void SetMetricsFile(const QString& path) { m_metricsFile = path; }

    // Why the profile file could not be read by the last ReadSettings, which
    // then read it as empty; empty when it was read or does not exist yet.
    [[nodiscard]] const QString& ReadProblem() const { return m_readProblem; }
    // A history line for a failed save of the profile, once for each reason,
    // and one when saves work again: empty when nothing is new.
    [[nodiscard]] QString SavingToReport();
    // After a failed save (a full disk, say) the files' state in the profile
    // lags behind what was mailed; this writes it again, and does nothing
    // while saves succeed.
    void SaveAgainAfterFailure();

    // A check cycle calls BeginCheckCycle before its first file and EndCheckCycle
    // after its last, and passes CycleFolders() to each CheckFile: the folders'
    // handles are opened afresh each cycle, so a folder replaced in between is seen.
    void BeginCheckCycle();
    void EndCheckCycle();
    // The cycle's folder handles; nullptr outside a cycle, where a check stats the whole path.
    [[nodiscard]] FolderHandles* CycleFolders() { return m_inCheckCycle ? &m_folders : nullptr; }

    [[nodiscard]] const QString& ProfileName() const { return m_profileName; }
    [[nodiscard]] const QString& ProfilePath() const { return m_profilePath; }
    // The store of the profile file, shared by copies of these settings and by
    // their entries. Null before the first read or write.
    [[nodiscard]] const std::shared_ptr<ProfileStore>& Store() const { return m_store; }

    // The window program installs the settings dialog here; without one DisplaySettings returns false.
    using DialogHook = std::function<bool(cSettings&)>;
    static void SetDialogHook(DialogHook hook);

    // While a batch lives, RemoveFile and AddFile leave their saving to it: it
    // saves the profile once when it ends, if either ran, instead of once a call.
    // Replacing a whole list of n files is then linear in n, not quadratic.
    class WriteBatch
    {
    public:
        explicit WriteBatch(cSettings& settings);
        ~WriteBatch();
        WriteBatch(const WriteBatch&) = delete;
        WriteBatch& operator=(const WriteBatch&) = delete;

    private:
        cSettings& m_settings;
    };

private:
    void SaveAfterListChange();

    int m_batches = 0;
    bool m_savePending = false;
    QString m_profileName;
    QString m_profilePath;
    std::shared_ptr<ProfileStore> m_store;
    QString m_readProblem;
    QString m_reportedSaveFailure;
    quint64 m_failedWritesMadeGood = 0;
    std::vector<cMonitorFile> m_files;
    qint32 m_pollInterval = 0;
    bool m_watchEvents = false;
    bool m_notifyMissedChanges = false;
    bool m_desktopNotify = false;
    QString m_metricsFile;
    bool m_smtpEnabled = false;
    QString m_smtpServerAddress;
    QString m_smtpLoginName;
    QString m_smtpPassword;
    PasswordStore m_smtpPasswordStore = PasswordStore::Profile;
    qint32 m_smtpPort = 25;
    QString m_smtpSecurity = QStringLiteral("None");
    QString m_smtpCAFile;
    QString m_emailFrom;
    QString m_emailTo;
    FolderHandles m_folders;
    bool m_inCheckCycle = false;
};
