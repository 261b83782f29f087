#pragma once

#include "model/cMonitorFile.h"

#include <QDialog>

#include <optional>
#include <vector>

class cSettings;
class MailSender;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTabWidget;

// The modal dialog in which one profile is edited: the check interval, the
// e-mail server, sender and recipients, and the list of watched files. It
// works on copies and changes the settings object only after OK.
class frmSettings : public QDialog
{
    Q_OBJECT

public:
    // Fills a fresh dialog from the settings, shows it modally and, after OK,
    // writes the edited values and files back. False for Cancel, the close
    // box, or no settings (then nothing is shown).
    static bool DisplaySettings(cSettings* settings, QWidget* parent = nullptr);

    // The list row of a watched file: "Name (raw name) - 30 mins", "raw name - On Change".
    [[nodiscard]] static QString EntryText(const cMonitorFile& file);

    // Ends the dialog at once, cancelling a test e-mail on its way.
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    frmSettings(cSettings& settings, QWidget* parent);

    void createContent();
    QWidget* createFilesTab();
    QWidget* createNotificationTab();
    void Load();
    void Save();
    void SaveAutostart();
    void centreOnScreen();

    void EmailSwitched();
    void LoginSwitched();
    void SelectionChanged();
    void SecurityPicked(int index);
    void AddFile();
    void EditFile();
    void RemoveFile();
    void SendTestEmail();
    void TestEmailDone(bool sent, const QString& reason);
    void Ok();

    [[nodiscard]] int selectedRow() const;
    [[nodiscard]] std::optional<quint16> port() const;
    void refusePort();

    cSettings& m_settings;
    std::vector<cMonitorFile> m_workingFiles;
    MailSender* m_sender = nullptr;
    QString m_testTo; // the recipients of the test e-mail on its way

    QTabWidget* m_tbsSettings = nullptr;
    QListWidget* m_listFiles = nullptr;
    QPushButton* m_cmdAddFile = nullptr;
    QPushButton* m_cmdEditFile = nullptr;
    QPushButton* m_cmdRemoveFile = nullptr;
    QLineEdit* m_txtPollInterval = nullptr;
    QCheckBox* m_chkWatchEvents = nullptr;
    QCheckBox* m_chkAutostart = nullptr;
    QCheckBox* m_chkNotifyMissedChanges = nullptr;
    QCheckBox* m_chkDesktopNotify = nullptr;

    QCheckBox* m_chkEmailEnabled = nullptr;
    QGroupBox* m_fraEmail = nullptr;
    QLabel* m_lblemailserverDesc = nullptr;
    QLineEdit* m_txtEmailServer = nullptr;
    QLabel* m_lblEmailPortDesc = nullptr;
    QLineEdit* m_txtEmailPort = nullptr;
    QLabel* m_lblEmailSecurityDesc = nullptr;
    QComboBox* m_cboEmailSecurity = nullptr;
    QCheckBox* m_chkEmailLogin = nullptr;
    QLabel* m_lblEmailUserNameDesc = nullptr;
    QLineEdit* m_txtEmailUsername = nullptr;
    QLabel* m_lblEmailPasswordDesc = nullptr;
    QLineEdit* m_txtEmailPassword = nullptr;
    QCheckBox* m_chkEmailKeyring = nullptr;
    QLabel* m_lblEmailNotifyFromDesc = nullptr;
    QLineEdit* m_txtEmailNotifyFrom = nullptr;
    QLabel* m_lblEmailNotifyFromExampleDesc = nullptr;
    QLabel* m_lblEmailNotifyTo = nullptr;
    QLineEdit* m_txtEmailNotifyTo = nullptr;
    QLabel* m_lblEmailNotifyToExampleDesc = nullptr;
    QPushButton* m_cmdSendTestEmail = nullptr;

    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
};
