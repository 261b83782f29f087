#pragma once

#include <QDialog>

class cMonitorFile;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The modal dialog in which one watched file is entered or changed: its name,
// an optional friendly name, the attachment choice, its rule and its alerts.
// The file object is written only when the user leaves with OK.
class frmMonitorFile : public QDialog
{
    Q_OBJECT

public:
    // Fills a fresh dialog from the file, shows it modally and, after OK,
    // writes the edited values back. False for Cancel, the close box, or no
    // file (then nothing is shown).
    static bool DisplaySettings(cMonitorFile* file, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    explicit frmMonitorFile(QWidget* parent);

    void createContent();
    void Load(const cMonitorFile& file);
    void Save(cMonitorFile& file) const;

    void FilenameChanged();
    void showPreview();
    void FriendlyNameSwitched();
    void RuleSwitched();
    void Browse();
    void Ok();

    QLineEdit* m_txtFilename = nullptr;
    QPushButton* m_cmdBrowse = nullptr;
    QLabel* m_lblFilenamePreview = nullptr;
    QCheckBox* m_chkUseFriendlyName = nullptr;
    QLineEdit* m_txtFriendlyName = nullptr;
    QCheckBox* m_chkAttachFileToEmail = nullptr;
    QRadioButton* m_optNotifyOnChange = nullptr;
    QRadioButton* m_optNotifyStale = nullptr;
    QLineEdit* m_txtStaleMinutes = nullptr;
    QCheckBox* m_chkNotifyMissing = nullptr;
    QCheckBox* m_chkNotifyRecovered = nullptr;
    QLineEdit* m_txtRemindMins = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdCancel = nullptr;
};
