#include "dialogs/frmAbout.h"

#include "SentrelConfig.h"
#include "dialogs/DialogGeometry.h"
#include "dialogs/DialogParts.h"
#include "support/DateTimeUtility.h"
#include "support/FileSystemUtility.h"
#include "support/GeneralUtility.h"
#include "support/MachineStore.h"
#include "support/UserInterface.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <QVersionNumber>

using DialogGeometry::Px;

namespace {

const QString kSysInfoUnavailable = QStringLiteral("System Information Is Unavailable At This Time");
const QString kMsInfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kToolsLocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");

#ifndef Q_OS_WIN
// GNOME Settings names its overview panel "system" from GNOME 46 on; before, it was "info-overview".
QStringList gnomeSettingsPanel()
{
    const auto installed = [](const char* panel) {
        return !QStandardPaths::locate(QStandardPaths::ApplicationsLocation,
                                       QStringLiteral("gnome-%1-panel.desktop").arg(QLatin1String(panel)))
                    .isEmpty();
    };
    return {QLatin1String(installed("info-overview") && !installed("system") ? "info-overview" : "system")};
}

// Where no tool is registered, the desktop's own system-information program
// stands in, the first of these found on PATH, current names before older ones:
// HardInfo (any desktop), KDE's Info Center, Xfce's About, then GNOME Settings
// on its overview panel.
struct DesktopTool
{
    const char* program;
    QStringList (*arguments)();
};
const DesktopTool kDesktopTools[] = {
    {"hardinfo2", nullptr},
    {"hardinfo", nullptr},
    {"kinfocenter", nullptr},
    {"xfce4-about", nullptr},
    {"gnome-control-center", &gnomeSettingsPanel},
};
#endif

QLabel* newLabel(QWidget* parent, const char* name, const QString& text)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QLabel* newLink(QWidget* parent, const char* name, const QString& text)
{
    QLabel* link = newLabel(parent, name, text);
    QFont font = link->font();
    font.setUnderline(true);
    link->setFont(font);
    // The role, not a copied colour, so the link follows a palette that changes later (a dark theme).
    link->setForegroundRole(QPalette::Link);
    link->setCursor(Qt::PointingHandCursor);
    link->setToolTip(text);
    // Reached by Tab and opened with Enter; the dotted frame shows where the focus is.
    link->setFocusPolicy(Qt::StrongFocus);
    link->setStyleSheet(QStringLiteral("QLabel { border: 1px solid transparent; } "
                                       "QLabel:focus { border: 1px dotted palette(link); }"));
    return link;
}

// "Version 1.2.0", with " (Build Date: …)" when the executable's time can be read.
QString versionLine(const AppInfo& app)
{
    const QVersionNumber version = QVersionNumber::fromString(app.Version);
    QString line = QStringLiteral("Version %1.%2.%3")
                       .arg(version.majorVersion())
                       .arg(version.minorVersion())
                       .arg(version.microVersion());
    const QString exe = app.ExePath + QLatin1Char('/') + app.ExeName;
    const QFileInfo file(exe);
    // A folder of the program's name is no executable.
    if (!app.ExeName.isEmpty() && FileSystemUtility::FileExists(exe) && file.isFile()) {
        const QDateTime built = file.lastModified();
        if (built.isValid()) {
            line += QStringLiteral(" (Build Date: ") + DateTimeUtility::GeneralDate(built) + QLatin1Char(')');
        }
    }
    return line;
}

bool startTool(const QString& program, const QStringList& arguments = {})
{
    return !program.isEmpty() && QProcess::startDetached(program, arguments);
}

bool startSysInfoTool()
{
    using Root = MachineStore::Root;
    QString path;
    if (MachineStore::TryReadReg(Root::LocalMachine, kMsInfoKey, QStringLiteral("PATH"), path)) {
        return startTool(path);
    }
    QString folder;
    if (MachineStore::TryReadReg(Root::LocalMachine, kToolsLocationKey, QStringLiteral("MSINFO"), folder)) {
        const QString tool = folder + QStringLiteral("/MSINFO32.EXE");
        return FileSystemUtility::FileExists(tool) && startTool(tool);
    }
#ifndef Q_OS_WIN
    for (const DesktopTool& tool : kDesktopTools) {
        const QString program = QStandardPaths::findExecutable(QLatin1String(tool.program));
        if (!program.isEmpty()) {
            return startTool(program, tool.arguments ? tool.arguments() : QStringList {});
        }
    }
#endif
    return false;
}

} // namespace

frmAbout::frmAbout(QWidget* parent)
    : QDialog(parent, DialogParts::kFixedDialog)
{
    setObjectName(QStringLiteral("frmAbout"));
    setModal(true);
    createContent();
    Load();
}

void frmAbout::createContent()
{
    // Laid out, not placed: the box takes the desktop's font and grows with it.
    auto* picIcon = new QLabel(this);
    picIcon->setObjectName(QStringLiteral("picIcon"));
    picIcon->setPixmap(QIcon(QStringLiteral(":/sentrel/sentrel.svg")).pixmap(Px(720), Px(720)));
    picIcon->setAlignment(Qt::AlignTop);

    m_lblProductNameDesc = newLabel(this, "lblProductNameDesc", QString());
    QFont titleFont = m_lblProductNameDesc->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    m_lblProductNameDesc->setFont(titleFont);
    m_lblVersion = newLabel(this, "lblVersion", QString());
    m_lblCopyright = newLabel(this, "lblCopyright", QString());

    m_lblDisclaimer = newLabel(this,
                               "lblDisclaimer",
                               QStringLiteral("Warning: this program is protected by copyright law and international "
                                              "treaties. Unauthorised reproduction or distribution of this program, or "
                                              "any part of it, may result in severe civil and criminal penalties."));
    m_lblDisclaimer->setWordWrap(true);
    // A fixed width, so the wrapped text's height is known before the box is sized.
    m_lblDisclaimer->setFixedWidth(qMax(Px(5280), m_lblDisclaimer->fontMetrics().averageCharWidth() * 60));

    QLabel* webDesc = newLabel(this, "lblSupportDesc", QStringLiteral("Support &Website:"));
    m_lblSupportWeb = newLink(this, "lblSupportWeb", QStringLiteral(SENTREL_SUPPORT_URL));
    webDesc->setBuddy(m_lblSupportWeb);
    QLabel* emailDesc = newLabel(this, "lblSupportEmailDesc", QStringLiteral("Support &e-mail:"));
    m_lblSupportEmail = newLink(this, "lblSupportEmail", QStringLiteral(SENTREL_SUPPORT_EMAIL));
    emailDesc->setBuddy(m_lblSupportEmail);
    m_lblSupportWeb->installEventFilter(this);
    m_lblSupportEmail->installEventFilter(this);

    m_cmdSysInfo = new QPushButton(this);
    m_cmdSysInfo->setObjectName(QStringLiteral("cmdSysInfo"));
    m_cmdSysInfo->setIcon(
        QIcon::fromTheme(QStringLiteral("utilities-system-monitor"), style()->standardIcon(QStyle::SP_ComputerIcon)));
    m_cmdSysInfo->setToolTip(QStringLiteral("System Info..."));
    // No caption to carry a mnemonic: Alt+S, for its tip "System Info...".
    m_cmdSysInfo->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
    connect(m_cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    m_cmdOK = new QPushButton(QStringLiteral("&OK"), this);
    m_cmdOK->setObjectName(QStringLiteral("cmdOK"));
    m_cmdOK->setDefault(true);
    connect(m_cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    m_cmdOK->setMinimumWidth(Px(1200));

    auto* title = new QVBoxLayout;
    for (QLabel* label : {m_lblProductNameDesc, m_lblVersion, m_lblCopyright}) {
        title->addWidget(label);
    }
    title->addStretch();
    auto* head = new QHBoxLayout;
    head->addWidget(picIcon);
    head->addSpacing(Px(120));
    head->addLayout(title, 1);

    auto* support = new QGridLayout;
    support->addWidget(webDesc, 0, 0);
    support->addWidget(m_lblSupportWeb, 0, 1);
    support->addWidget(emailDesc, 1, 0);
    support->addWidget(m_lblSupportEmail, 1, 1);
    support->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdSysInfo);
    buttons->addWidget(m_cmdOK);

    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addLayout(head);
    layout->addSpacing(Px(120));
    layout->addWidget(m_lblDisclaimer);
    layout->addSpacing(Px(120));
    layout->addLayout(support);
    layout->addLayout(buttons);
    m_cmdOK->setFocus();
}

void frmAbout::Load()
{
    const AppInfo& app = GeneralUtility::App();
    setWindowTitle(QStringLiteral("About ") + app.ProductName);
    m_lblProductNameDesc->setText(app.ProductName);
    m_lblVersion->setText(versionLine(app));
    m_lblCopyright->setText(QStringLiteral("Copyright ") + QStringLiteral(SENTREL_COPYRIGHT));
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && (watched == m_lblSupportWeb || watched == m_lblSupportEmail)) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            watched == m_lblSupportWeb ? OpenSupportWeb() : OpenSupportEmail();
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == m_lblSupportWeb) {
            OpenSupportWeb();
            return true;
        }
        if (watched == m_lblSupportEmail) {
            OpenSupportEmail();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::OpenSupportWeb()
{
    const BusyPointer busy;
    // No browser is no news worth a message.
    QDesktopServices::openUrl(QUrl(m_lblSupportWeb->text()));
}

void frmAbout::OpenSupportEmail()
{
    const BusyPointer busy;
    // The subject goes as it is, spaces and parentheses included; QUrl encodes it for transport.
    const QString link = QStringLiteral("mailto:") + m_lblSupportEmail->text() + QStringLiteral("?subject=") +
                         m_lblProductNameDesc->text() + QLatin1Char(' ') + m_lblVersion->text();
    QDesktopServices::openUrl(QUrl(link));
}

void frmAbout::StartSysInfo()
{
    bool started = false;
    {
        const BusyPointer busy;
        started = startSysInfoTool();
    }
    if (!started) {
        UserInterface::Message(kSysInfoUnavailable, UserInterface::Icon::None);
    }
}
