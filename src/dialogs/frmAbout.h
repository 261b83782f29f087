#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// The about box: product name, version with the build date, copyright, the
// support links, and a button that starts the system-information tool.
class frmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    // Starts the system-information tool, or says that there is none.
    void StartSysInfo();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createContent();
    void Load();
    void OpenSupportWeb();
    void OpenSupportEmail();

    QLabel* m_lblProductNameDesc = nullptr;
    QLabel* m_lblVersion = nullptr;
    QLabel* m_lblCopyright = nullptr;
    QLabel* m_lblDisclaimer = nullptr;
    QLabel* m_lblSupportWeb = nullptr;
    QLabel* m_lblSupportEmail = nullptr;
    QPushButton* m_cmdOK = nullptr;
    QPushButton* m_cmdSysInfo = nullptr;
};
