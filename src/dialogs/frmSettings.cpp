#include "dialogs/frmSettings.h"

#include "dialogs/ControlUtility.h"
#include "dialogs/DialogGeometry.h"
#include "dialogs/DialogParts.h"
#include "dialogs/frmMonitorFile.h"
#include "model/cSettings.h"
#include "notify/MailSender.h"
#include "notify/cEmail.h"
#include "support/Autostart.h"
#include "support/GeneralUtility.h"
#include "support/ProfileStore.h"
#include "support/SystemUtility.h"
#include "support/UserInterface.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTabWidget>

#include <memory>
#include <optional>

using DialogParts::Named;

namespace {

// The design's twips, grown with the desktop's font.
int Px(double twips)
{
    return DialogGeometry::Px(twips * DialogGeometry::FontScale(QApplication::font()));
}
QRect Rect(double left, double top, double width, double height)
{
    return DialogGeometry::Rect(left, top, width, height, DialogGeometry::FontScale(QApplication::font()));
}

constexpr double kClientWidth = 7155;
constexpr double kClientHeight = 6330;
constexpr int kNumberMode = 1;
constexpr int kSpace = 32;
constexpr int kPortLength = 5;
constexpr int kDefaultPort = 25;
constexpr int kStartTlsPort = 587;
constexpr int kTlsPort = 465;
constexpr double kGap = 90;

// The security choices as the profile spells them, in the order of cEmail::Security.
const QString kSecurityNone = QStringLiteral("None");
const QString kSecurityStartTls = QStringLiteral("STARTTLS");
const QString kSecurityTls = QStringLiteral("TLS");

const QString kNoServer = QStringLiteral("You must enter the name or IP address of an SMTP e-mail server");
const QString kNoUsername = QStringLiteral("You must enter the Username required by your e-mail server");
const QString kNoAddresses = QStringLiteral("You must enter valid 'From' and 'To' e-mail addresses.");
const QString kNoInterval = QStringLiteral(
    "You must enter a number of seconds for the 'Check Interval' (how often Sentrel should check the files)");
const QString kBadPort = QStringLiteral("You must enter the e-mail server's port, a whole number from 1 to 65535");

const QString kTestSubject = QStringLiteral("Sentrel test e-mail");
const QString kTestSwitchedOff = QStringLiteral(
    "Sending notifications by e-mail is switched off. Tick 'Send Notifications by e-mail:' to send a test e-mail.");
const QString kTestNoSecurity =
    QStringLiteral("Choose the e-mail server's security (None, STARTTLS or TLS) before sending a test e-mail.");

// A caption never clipped: at least as wide as its text needs.
QLabel* newLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* label = Named(new QLabel(text, parent), name, geometry);
    label->resize(qMax(geometry.width(), label->sizeHint().width()), geometry.height());
    return label;
}

QLabel* newExample(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    QLabel* label = DialogParts::NewNote(parent, name, text, geometry);
    label->resize(qMax(geometry.width(), label->sizeHint().width()), label->height());
    return label;
}

QPushButton* newButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* button = Named(new QPushButton(text, parent), name, geometry);
    // Enter presses the focused button; elsewhere it presses OK, the default.
    button->setAutoDefault(true);
    return button;
}

// The picture buttons' icons, drawn so that they look alike on every desktop.
enum class Glyph { Plus, Cross, Pencil };

QIcon drawnIcon(Glyph glyph)
{
    constexpr int size = 64;
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF disc(4, 4, size - 8, size - 8);
    QPen stroke(Qt::white, 9, Qt::SolidLine, Qt::RoundCap);
    switch (glyph) {
    case Glyph::Plus:
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(34, 160, 60));
        painter.drawEllipse(disc);
        painter.setPen(stroke);
        painter.drawLine(QPointF(size / 2.0, 17), QPointF(size / 2.0, size - 17));
        painter.drawLine(QPointF(17, size / 2.0), QPointF(size - 17, size / 2.0));
        break;
    case Glyph::Cross:
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 30, 30));
        painter.drawEllipse(disc);
        painter.setPen(stroke);
        painter.drawLine(QPointF(21, 21), QPointF(size - 21, size - 21));
        painter.drawLine(QPointF(size - 21, 21), QPointF(21, size - 21));
        break;
    case Glyph::Pencil: {
        // A pencil lying from the top right to the bottom left, its point at the bottom left.
        painter.translate(size / 2.0, size / 2.0);
        painter.rotate(-45);
        painter.setPen(QPen(QColor(60, 60, 60), 2));
        painter.setBrush(QColor(240, 180, 40));
        painter.drawRect(QRectF(-14, -8, 36, 16));
        painter.setBrush(QColor(230, 120, 130));
        painter.drawRect(QRectF(22, -8, 6, 16));
        QPainterPath point;
        point.moveTo(-14, -8);
        point.lineTo(-28, 0);
        point.lineTo(-14, 8);
        point.closeSubpath();
        painter.setBrush(QColor(245, 225, 190));
        painter.drawPath(point);
        break;
    }
    }
    painter.end();
    return QIcon(pixmap);
}

QPushButton* newPictureButton(QWidget* parent, const char* name, Glyph glyph, const QString& tip, const QRect& geometry)
{
    QPushButton* button = newButton(parent, name, QString(), geometry);
    button->setIcon(drawnIcon(glyph));
    button->setIconSize(geometry.size() - QSize(8, 8));
    button->setToolTip(tip);
    return button;
}

// A label, then its box, on one row: the box starts after the label's text.
QLineEdit* newBoxAfter(QWidget* parent, const char* name, QLabel* label, double width)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    const int height = Px(315);
    box->setGeometry(
        label->geometry().right() + 1 + Px(kGap), label->y() + (label->height() - height) / 2, Px(width), height);
    return box;
}

void placeAfter(QWidget* widget, const QWidget* before)
{
    widget->move(before->geometry().right() + 1 + Px(kGap), before->y() + (before->height() - widget->height()) / 2);
}

// The check box sits on the frame's top edge over the frame's own caption,
// wherever the style draws that caption.
void coverCaption(QCheckBox* check, const QGroupBox* frame)
{
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = frame->title();
    option.lineWidth = 1;
    option.midLineWidth = 0;
    option.textAlignment = frame->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    const QRect caption = frame->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, frame);
    const QSize hint = check->sizeHint();
    const int height = qMax(hint.height(), caption.height());
    check->setGeometry(frame->x() + caption.x() - 2,
                       frame->y() + caption.center().y() - height / 2 + 1,
                       qMax(hint.width(), caption.width() + 4),
                       height);
    check->setAutoFillBackground(true);
    check->raise();
}

// An empty box that OK will ask for says so, whichever tab the user is on when pressing OK.
void markRequired(QLineEdit* box, bool required)
{
    box->setPlaceholderText(required ? QStringLiteral("required") : QString());
}

int securityIndex(const QString& text)
{
    cEmail::Security security = cEmail::Security::None;
    if (!cEmail::ParseSecurity(text, security)) {
        return -1;
    }
    return static_cast<int>(security);
}

// "a", "a and b", "a, b and c".
QString joinedNames(const QStringList& names)
{
    if (names.size() < 2) {
        return names.join(QString());
    }
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.last();
}

} // namespace

frmSettings::frmSettings(cSettings& settings, QWidget* parent)
    : QDialog(parent, DialogParts::kFixedDialog)
    , m_settings(settings)
    , m_sender(new MailSender(this))
{
    connect(m_sender, &MailSender::Done, this, &frmSettings::TestEmailDone);
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Sentrel Settings"));
    DialogParts::UseDesktopFont(this, kClientWidth, kClientHeight);
    createContent();
}

void frmSettings::createContent()
{
    m_tbsSettings = Named(new QTabWidget(this), "tbsSettings", Rect(120, 120, 6915, 5565));
    m_tbsSettings->addTab(createFilesTab(), QStringLiteral("&Files to Monitor:"));
    m_tbsSettings->addTab(createNotificationTab(), QStringLiteral("&Notification Options:"));
    m_tbsSettings->setCurrentIndex(0);
    // Tab reaches the strip only at its place in the order below: the tab widget, standing
    // in for its strip as its focus proxy, would take the focus again after Cancel.
    m_tbsSettings->setFocusProxy(nullptr);
    m_tbsSettings->setFocusPolicy(Qt::NoFocus);

    m_cmdOK = newButton(this, "cmdOK", QStringLiteral("&OK"), Rect(4560, 5790, 1140, 405));
    m_cmdOK->setDefault(true);
    m_cmdCancel = newButton(this, "cmdCancel", QStringLiteral("&Cancel"), Rect(5895, 5790, 1140, 405));

    const QList<QWidget*> order = {m_listFiles,
                                   m_cmdAddFile,
                                   m_cmdEditFile,
                                   m_cmdRemoveFile,
                                   m_txtPollInterval,
                                   m_chkWatchEvents,
                                   m_chkAutostart,
                                   m_chkNotifyMissedChanges,
                                   m_chkDesktopNotify,
                                   m_tbsSettings->tabBar(),
                                   m_chkEmailEnabled,
                                   m_txtEmailServer,
                                   m_txtEmailPort,
                                   m_cboEmailSecurity,
                                   m_chkEmailLogin,
                                   m_txtEmailUsername,
                                   m_txtEmailPassword,
                                   m_txtEmailNotifyFrom,
                                   m_txtEmailNotifyTo,
                                   m_cmdSendTestEmail,
                                   m_cmdOK,
                                   m_cmdCancel};
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order.at(i - 1), order.at(i));
    }
    setTabOrder(m_txtEmailPassword, m_chkEmailKeyring);

    // Alt+letter: a caption's marked letter focuses the box it names; the picture buttons take their tooltip's initial.
    for (const auto& [caption, box] :
         std::initializer_list<std::pair<const char*, QWidget*>> {{"lblPollSecondsDesc", m_txtPollInterval},
                                                                  {"lblemailserverDesc", m_txtEmailServer},
                                                                  {"lblEmailPortDesc", m_txtEmailPort},
                                                                  {"lblEmailSecurityDesc", m_cboEmailSecurity},
                                                                  {"lblEmailUserNameDesc", m_txtEmailUsername},
                                                                  {"lblEmailPasswordDesc", m_txtEmailPassword},
                                                                  {"lblEmailNotifyFromDesc", m_txtEmailNotifyFrom},
                                                                  {"lblEmailNotifyTo", m_txtEmailNotifyTo}}) {
        findChild<QLabel*>(QLatin1String(caption))->setBuddy(box);
    }
    m_cmdAddFile->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
    m_cmdEditFile->setShortcut(QKeySequence(Qt::ALT | Qt::Key_E));
    m_cmdRemoveFile->setShortcut(QKeySequence(Qt::ALT | Qt::Key_R));

    for (QLineEdit* box :
         {m_txtPollInterval, m_txtEmailServer, m_txtEmailPort, m_txtEmailUsername, m_txtEmailPassword}) {
        box->installEventFilter(this);
    }
    connect(m_chkEmailEnabled, &QCheckBox::clicked, this, &frmSettings::EmailSwitched);
    connect(m_chkEmailLogin, &QCheckBox::clicked, this, &frmSettings::LoginSwitched);
    connect(m_listFiles, &QListWidget::itemSelectionChanged, this, &frmSettings::SelectionChanged);
    connect(m_listFiles, &QListWidget::itemDoubleClicked, this, &frmSettings::EditFile);
    connect(m_cboEmailSecurity, &QComboBox::activated, this, &frmSettings::SecurityPicked);
    connect(m_cmdAddFile, &QPushButton::clicked, this, &frmSettings::AddFile);
    connect(m_cmdEditFile, &QPushButton::clicked, this, &frmSettings::EditFile);
    connect(m_cmdRemoveFile, &QPushButton::clicked, this, &frmSettings::RemoveFile);
    connect(m_cmdSendTestEmail, &QPushButton::clicked, this, &frmSettings::SendTestEmail);
    connect(m_cmdOK, &QPushButton::clicked, this, &frmSettings::Ok);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmSettings::reject);
}

QWidget* frmSettings::createFilesTab()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tabFiles"));

    auto* files =
        Named(new QGroupBox(QStringLiteral("Files to Monitor:"), page), "fraFiles", Rect(120, 120, 6615, 2940));
    m_listFiles = Named(new QListWidget(files), "listFiles", Rect(120, 285, 5850, 2505));
    m_listFiles->setSelectionMode(QAbstractItemView::SingleSelection);
    m_listFiles->setSortingEnabled(false);
    m_cmdAddFile = newPictureButton(files, "cmdAddFile", Glyph::Plus, QStringLiteral("Add"), Rect(6090, 285, 390, 390));
    m_cmdEditFile =
        newPictureButton(files, "cmdEditFile", Glyph::Pencil, QStringLiteral("Edit"), Rect(6090, 735, 390, 390));
    m_cmdEditFile->setEnabled(false);
    m_cmdRemoveFile =
        newPictureButton(files, "cmdRemoveFile", Glyph::Cross, QStringLiteral("Remove"), Rect(6090, 1185, 390, 390));
    m_cmdRemoveFile->setEnabled(false);

    auto* options = Named(
        new QGroupBox(QStringLiteral("File Checking Options:"), page), "fraFileOptions", Rect(120, 3180, 6615, 1965));
    QLabel* interval =
        newLabel(options, "lblPollSecondsDesc", QStringLiteral("Check &Interval:"), Rect(240, 330, 1200, 240));
    m_txtPollInterval = newBoxAfter(options, "txtPollInterval", interval, 900);
    QLabel* seconds = newLabel(options, "lblPollIntervalSecsDesc", QStringLiteral("seconds"), Rect(0, 0, 900, 240));
    placeAfter(seconds, m_txtPollInterval);
    // All off by default: only the interval's checks look at the files, the program starts only when started,
    // a change made while it was stopped is not mailed, and nothing shows on the desktop.
    m_chkWatchEvents = Named(new QCheckBox(QStringLiteral("C&heck at once when a file changes"), options),
                             "chkWatchEvents",
                             Rect(240, 735, 6135, 255));
    m_chkAutostart = Named(new QCheckBox(QStringLiteral("Start Sentrel when I &log in"), options),
                           "chkAutostart",
                           Rect(240, 1035, 6135, 255));
    m_chkNotifyMissedChanges =
        Named(new QCheckBox(QStringLiteral("&Mail changes made while Sentrel was not running"), options),
              "chkNotifyMissedChanges",
              Rect(240, 1335, 6135, 255));
    m_chkDesktopNotify = Named(new QCheckBox(QStringLiteral("Show des&ktop notifications"), options),
                               "chkDesktopNotify",
                               Rect(240, 1635, 6135, 255));
    return page;
}

QWidget* frmSettings::createNotificationTab()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("tabNotification"));

    m_fraEmail =
        Named(new QGroupBox(QStringLiteral("Email Server Details:"), page), "fraEmail", Rect(120, 120, 6615, 4800));
    m_chkEmailEnabled = Named(
        new QCheckBox(QStringLiteral("Send Notifications &by e-mail:"), page), "chkEmailEnabled", Rect(0, 0, 0, 0));
    coverCaption(m_chkEmailEnabled, m_fraEmail);

    QGroupBox* frame = m_fraEmail;
    m_lblemailserverDesc =
        newLabel(frame, "lblemailserverDesc", QStringLiteral("E-Mail Ser&ver address:"), Rect(120, 330, 6375, 240));
    m_txtEmailServer = Named(new QLineEdit(frame), "txtEmailServer", Rect(120, 570, 6375, 315));

    m_lblEmailPortDesc = newLabel(frame, "lblEmailPortDesc", QStringLiteral("&Port:"), Rect(120, 1000, 450, 240));
    m_txtEmailPort = newBoxAfter(frame, "txtEmailPort", m_lblEmailPortDesc, 750);
    m_txtEmailPort->setMaxLength(kPortLength);
    m_lblEmailSecurityDesc =
        newLabel(frame, "lblEmailSecurityDesc", QStringLiteral("Securit&y:"), Rect(0, 1000, 750, 240));
    m_lblEmailSecurityDesc->move(m_txtEmailPort->geometry().right() + 1 + Px(2 * kGap), m_lblEmailPortDesc->y());
    m_cboEmailSecurity = Named(new QComboBox(frame), "cboEmailSecurity", Rect(0, 0, 1500, 315));
    m_cboEmailSecurity->addItems({kSecurityNone, kSecurityStartTls, kSecurityTls});
    placeAfter(m_cboEmailSecurity, m_lblEmailSecurityDesc);

    m_chkEmailLogin = Named(new QCheckBox(QStringLiteral("E-Mail server  re&quires Username and Password:"), frame),
                            "chkEmailLogin",
                            Rect(120, 1350, 6375, 255));
    m_chkEmailLogin->resize(qMax(m_chkEmailLogin->width(), m_chkEmailLogin->sizeHint().width()),
                            m_chkEmailLogin->height());
    m_lblEmailUserNameDesc =
        newLabel(frame, "lblEmailUserNameDesc", QStringLiteral("&Username:"), Rect(360, 1740, 900, 240));
    m_lblEmailPasswordDesc =
        newLabel(frame, "lblEmailPasswordDesc", QStringLiteral("Pass&word:"), Rect(360, 2115, 900, 240));
    // Both boxes start at the same place, after the wider caption.
    const int captionWidth = qMax(m_lblEmailUserNameDesc->width(), m_lblEmailPasswordDesc->width());
    m_lblEmailUserNameDesc->resize(captionWidth, m_lblEmailUserNameDesc->height());
    m_lblEmailPasswordDesc->resize(captionWidth, m_lblEmailPasswordDesc->height());
    m_txtEmailUsername = newBoxAfter(frame, "txtEmailUsername", m_lblEmailUserNameDesc, 3000);
    m_txtEmailPassword = newBoxAfter(frame, "txtEmailPassword", m_lblEmailPasswordDesc, 3000);
    m_txtEmailPassword->setEchoMode(QLineEdit::Password);

    m_lblEmailNotifyFromDesc = newLabel(
        frame, "lblEmailNotifyFromDesc", QStringLiteral("Sen&d 'From' e-mail address:"), Rect(120, 2460, 6375, 240));
    m_txtEmailNotifyFrom = Named(new QLineEdit(frame), "txtEmailNotifyFrom", Rect(120, 2700, 6375, 315));
    m_lblEmailNotifyFromExampleDesc = newExample(frame,
                                                 "lblEmailNotifyFromExampleDesc",
                                                 QStringLiteral("E.g. : \"Sentrel Monitor\" <sentrel@example.com>"),
                                                 Rect(120, 3030, 6375, 210));
    m_lblEmailNotifyTo = newLabel(frame,
                                  "lblEmailNotifyTo",
                                  QStringLiteral("&Send notifications to e-mail address/addresses (; separated):"),
                                  Rect(120, 3345, 6375, 240));
    m_txtEmailNotifyTo = Named(new QLineEdit(frame), "txtEmailNotifyTo", Rect(120, 3585, 6375, 315));
    m_lblEmailNotifyToExampleDesc =
        newExample(frame,
                   "lblEmailNotifyToExampleDesc",
                   QStringLiteral("E.g. : \"Operations Desk\" <ops@example.com>; jane.doe@example.com"),
                   Rect(120, 3915, 6375, 210));

    m_cmdSendTestEmail = newButton(frame, "cmdSendTestEmail", QStringLiteral("Send &Test E-mail"), Rect(0, 0, 0, 375));
    const int testWidth = qMax(Px(1800), m_cmdSendTestEmail->sizeHint().width());
    m_cmdSendTestEmail->setGeometry(frame->width() - Px(120) - testWidth, Px(4275), testWidth, Px(375));
    // Left of the test button: the password's own row has no room for it.
    m_chkEmailKeyring = Named(new QCheckBox(QStringLiteral("Keep the password in the desktop's keyrin&g"), frame),
                              "chkEmailKeyring",
                              Rect(120, 4335, 0, 255));
    m_chkEmailKeyring->resize(m_chkEmailKeyring->sizeHint().width(), m_chkEmailKeyring->height());

    // The design state: everything in the frame disabled until the e-mail box is ticked.
    for (QWidget* label : std::initializer_list<QWidget*> {m_lblemailserverDesc,
                                                           m_lblEmailPortDesc,
                                                           m_lblEmailSecurityDesc,
                                                           m_cboEmailSecurity,
                                                           m_chkEmailLogin,
                                                           m_lblEmailUserNameDesc,
                                                           m_lblEmailPasswordDesc,
                                                           m_chkEmailKeyring,
                                                           m_lblEmailNotifyFromDesc,
                                                           m_lblEmailNotifyFromExampleDesc,
                                                           m_lblEmailNotifyTo,
                                                           m_lblEmailNotifyToExampleDesc}) {
        label->setEnabled(false);
    }
    for (QLineEdit* box : {m_txtEmailServer,
                           m_txtEmailPort,
                           m_txtEmailUsername,
                           m_txtEmailPassword,
                           m_txtEmailNotifyFrom,
                           m_txtEmailNotifyTo}) {
        ControlUtility::EnableControl(box, false);
    }
    return page;
}

QString frmSettings::EntryText(const cMonitorFile& file)
{
    const QString name = file.FriendlyName().isEmpty()
                             ? file.RawFileName()
                             : file.DisplayName() + QStringLiteral(" (") + file.RawFileName() + QLatin1Char(')');
    const QString rule = file.MonitorType() == cMonitorFile::NotifyOnChange
                             ? QStringLiteral("On Change")
                             : QString::number(file.StaleMins()) + QStringLiteral(" mins");
    return name + QStringLiteral(" - ") + rule;
}

bool frmSettings::DisplaySettings(cSettings* settings, QWidget* parent)
{
    if (!settings) {
        return false;
    }
    frmSettings dialog(*settings, parent);
    dialog.Load();
    dialog.centreOnScreen();
    // Only OK accepts; Cancel, the close box and anything else that ends the dialog leave the settings as they were.
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    // Whatever Save() writes reaches the disk as one replacement.
    {
        const std::shared_ptr<ProfileStore> store = settings->Store();
        std::optional<ProfileStore::Transaction> transaction;
        if (store) {
            transaction.emplace(*store);
        }
        dialog.Save();
    }
    dialog.SaveAutostart();
    return true;
}

void frmSettings::centreOnScreen()
{
    const QWidget* owner = parentWidget();
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    QRect placed(QPoint(), frameGeometry().size());
    placed.moveCenter(screen->availableGeometry().center());
    move(placed.topLeft());
}

void frmSettings::Load()
{
    m_tbsSettings->setCurrentIndex(0);
    // A check box set from the profile applies its rule as a click does; one left unchecked keeps the design state.
    m_chkEmailEnabled->setChecked(m_settings.SMTPEnabled());
    if (m_chkEmailEnabled->isChecked()) {
        EmailSwitched();
    }
    m_txtEmailServer->setText(m_settings.SMTPServerAddress());
    m_chkEmailLogin->setChecked(!m_settings.SMTPLoginName().isEmpty());
    if (m_chkEmailLogin->isChecked()) {
        LoginSwitched();
    }
    m_txtEmailUsername->setText(m_settings.SMTPLoginName());
    m_txtEmailPassword->setText(m_settings.SMTPPassword());
    m_chkEmailKeyring->setChecked(m_settings.SMTPPasswordStore() == cSettings::PasswordStore::Keyring);
    m_txtEmailPort->setText(QString::number(m_settings.SMTPPort()));
    // A security the box does not know shows blank and is kept unless another is picked.
    m_cboEmailSecurity->setCurrentIndex(securityIndex(m_settings.SMTPSecurity()));
    m_txtEmailNotifyFrom->setText(m_settings.EmailFrom());
    m_txtEmailNotifyTo->setText(m_settings.EmailTo());
    m_txtPollInterval->setText(QString::number(m_settings.PollInterval()));
    m_chkWatchEvents->setChecked(m_settings.WatchEvents());
    m_chkAutostart->setChecked(Autostart::Enabled());
    m_chkNotifyMissedChanges->setChecked(m_settings.NotifyMissedChanges());
    m_chkDesktopNotify->setChecked(m_settings.DesktopNotify());

    // Copies of the watched files' options, without their status; the settings' own objects stay as they are until OK.
    m_listFiles->clear();
    m_workingFiles.clear();
    // A 32-bit counter: a 16-bit one wraps past the last of 32,767 files.
    for (qint32 i = 1; i <= m_settings.NumberFiles(); ++i) {
        const cMonitorFile* source = m_settings.MonitorFile(static_cast<qint16>(i));
        cMonitorFile copy;
        copy.SetRawFileName(source->RawFileName());
        copy.SetFriendlyName(source->FriendlyName());
        copy.SetAttachFileToEmail(source->AttachFileToEmail());
        copy.SetStaleMins(source->StaleMins());
        copy.SetNotifyMissing(source->NotifyMissing());
        copy.SetNotifyRecovered(source->NotifyRecovered());
        copy.SetRemindMins(source->RemindMins());
        copy.TakeAlertState(*source);
        m_workingFiles.push_back(copy);
        m_listFiles->addItem(EntryText(*source));
    }
    SelectionChanged();
}

void frmSettings::Save()
{
    m_settings.SetSMTPEnabled(m_chkEmailEnabled->isChecked());
    m_settings.SetSMTPServerAddress(m_txtEmailServer->text().trimmed());
    // The login follows its own box, even while e-mail is switched off.
    if (m_chkEmailLogin->isChecked()) {
        m_settings.SetSMTPLoginName(m_txtEmailUsername->text().trimmed());
        m_settings.SetSMTPPassword(m_txtEmailPassword->text().trimmed());
        m_settings.SetSMTPPasswordStore(m_chkEmailKeyring->isChecked() ? cSettings::PasswordStore::Keyring
                                                                       : cSettings::PasswordStore::Profile);
    } else {
        m_settings.SetSMTPLoginName(QString());
        m_settings.SetSMTPPassword(QString());
        m_settings.SetSMTPPasswordStore(cSettings::PasswordStore::Profile);
    }
    // OK checked the port only with e-mail on; a port left unusable while it was off keeps the stored one.
    if (const std::optional<quint16> number = port()) {
        m_settings.SetSMTPPort(*number);
    }
    if (m_cboEmailSecurity->currentIndex() >= 0) {
        m_settings.SetSMTPSecurity(m_cboEmailSecurity->currentText());
    }
    m_settings.SetEmailFrom(m_txtEmailNotifyFrom->text());
    m_settings.SetEmailTo(m_txtEmailNotifyTo->text());
    m_settings.SetPollInterval(DialogParts::WholeNumber(DialogParts::LeadingNumber(m_txtPollInterval->text())));
    m_settings.SetWatchEvents(m_chkWatchEvents->isChecked());
    m_settings.SetNotifyMissedChanges(m_chkNotifyMissedChanges->isChecked());
    m_settings.SetDesktopNotify(m_chkDesktopNotify->isChecked());

    // The profile is saved once for the whole replacement, as the last AddFile would have left it.
    const cSettings::WriteBatch batch(m_settings);
    for (qint16 n = m_settings.NumberFiles(); n >= 1; --n) {
        m_settings.RemoveFile(n);
    }
    for (const cMonitorFile& file : m_workingFiles) {
        m_settings.AddFile(&file);
    }
}

void frmSettings::SaveAutostart()
{
    // Only a change of the box touches the entry, so that one the user has edited stays as it is.
    const bool on = m_chkAutostart->isChecked();
    if (on == Autostart::Enabled()) {
        return;
    }
    QString error;
    if (!Autostart::SetEnabled(on, QCoreApplication::applicationFilePath(), error)) {
        UserInterface::Message((on ? QStringLiteral("Sentrel could not arrange to start when you log in.\n\n")
                                   : QStringLiteral("Sentrel could not stop starting when you log in.\n\n")) +
                                   error,
                               UserInterface::Icon::Exclamation);
    }
}

void frmSettings::EmailSwitched()
{
    const bool on = m_chkEmailEnabled->isChecked();
    m_lblemailserverDesc->setEnabled(on);
    ControlUtility::EnableControl(m_txtEmailServer, on);
    m_lblEmailPortDesc->setEnabled(on);
    ControlUtility::EnableControl(m_txtEmailPort, on);
    m_lblEmailSecurityDesc->setEnabled(on);
    m_cboEmailSecurity->setEnabled(on);
    m_chkEmailLogin->setEnabled(on);
    LoginSwitched();
    m_lblEmailNotifyFromDesc->setEnabled(on);
    ControlUtility::EnableControl(m_txtEmailNotifyFrom, on);
    m_lblEmailNotifyFromExampleDesc->setEnabled(on);
    m_lblEmailNotifyTo->setEnabled(on);
    ControlUtility::EnableControl(m_txtEmailNotifyTo, on);
    m_lblEmailNotifyToExampleDesc->setEnabled(on);
    for (QLineEdit* box : {m_txtEmailServer, m_txtEmailPort, m_txtEmailNotifyFrom, m_txtEmailNotifyTo}) {
        markRequired(box, on);
    }
}

void frmSettings::LoginSwitched()
{
    // isEnabledTo: the dialog may not be shown yet; only the box's own state counts.
    const bool on = m_chkEmailLogin->isChecked() && m_chkEmailLogin->isEnabledTo(this);
    m_lblEmailUserNameDesc->setEnabled(on);
    ControlUtility::EnableControl(m_txtEmailUsername, on);
    m_lblEmailPasswordDesc->setEnabled(on);
    ControlUtility::EnableControl(m_txtEmailPassword, on);
    m_chkEmailKeyring->setEnabled(on);
    markRequired(m_txtEmailUsername, on);
}

int frmSettings::selectedRow() const
{
    const QList<QListWidgetItem*> selected = m_listFiles->selectedItems();
    return selected.isEmpty() ? -1 : m_listFiles->row(selected.first());
}

void frmSettings::SelectionChanged()
{
    const int row = selectedRow();
    const bool selected = row >= 0 && !m_listFiles->item(row)->text().isEmpty();
    m_cmdEditFile->setEnabled(selected);
    m_cmdRemoveFile->setEnabled(selected);
}

void frmSettings::SecurityPicked(int index)
{
    // A server on the plain port is moved to the usual one of the chosen security; any other port is the user's.
    if (m_txtEmailPort->text().trimmed() != QString::number(kDefaultPort)) {
        return;
    }
    const QString picked = m_cboEmailSecurity->itemText(index);
    if (picked == kSecurityTls) {
        m_txtEmailPort->setText(QString::number(kTlsPort));
    } else if (picked == kSecurityStartTls) {
        m_txtEmailPort->setText(QString::number(kStartTlsPort));
    }
}

void frmSettings::AddFile()
{
    cMonitorFile file;
    // A new watch mails a missing file and its recovery unless the user says otherwise.
    file.SetNotifyMissing(true);
    file.SetNotifyRecovered(true);
    if (!frmMonitorFile::DisplaySettings(&file, this)) {
        return;
    }
    m_listFiles->addItem(EntryText(file));
    m_listFiles->scrollToBottom();
    m_workingFiles.push_back(file);
    SelectionChanged();
}

void frmSettings::EditFile()
{
    const int row = selectedRow();
    if (row < 0 || static_cast<size_t>(row) >= m_workingFiles.size()) {
        return;
    }
    cMonitorFile& file = m_workingFiles[static_cast<size_t>(row)];
    if (frmMonitorFile::DisplaySettings(&file, this)) {
        m_listFiles->item(row)->setText(EntryText(file));
    }
}

void frmSettings::RemoveFile()
{
    const int row = selectedRow();
    if (row < 0 || static_cast<size_t>(row) >= m_workingFiles.size()) {
        return;
    }
    m_workingFiles.erase(m_workingFiles.begin() + row);
    delete m_listFiles->takeItem(row);
    // Qt would make the next row current; after a removal no row is selected.
    m_listFiles->clearSelection();
    m_listFiles->setCurrentRow(-1);
    SelectionChanged();
}

std::optional<quint16> frmSettings::port() const
{
    bool ok = false;
    const int number = m_txtEmailPort->text().trimmed().toInt(&ok);
    if (!ok || number < 1 || number > 65535) {
        return std::nullopt;
    }
    return static_cast<quint16>(number);
}

void frmSettings::refusePort()
{
    UserInterface::Message(kBadPort, UserInterface::Icon::Exclamation);
    // The test button sits beside the port box; OK's checks leave the focus where it was.
    m_txtEmailPort->setFocus();
}

void frmSettings::SendTestEmail()
{
    if (m_sender->Busy()) {
        return;
    }
    const auto refuse = [](const QString& message) {
        UserInterface::Message(message, UserInterface::Icon::Exclamation);
    };
    if (!m_chkEmailEnabled->isChecked()) {
        refuse(kTestSwitchedOff);
        return;
    }
    const QString server = m_txtEmailServer->text().trimmed();
    const QString from = m_txtEmailNotifyFrom->text();
    const QString to = m_txtEmailNotifyTo->text();
    QStringList missing;
    if (server.isEmpty()) {
        missing << QStringLiteral("the e-mail server address");
    }
    if (from.trimmed().isEmpty()) {
        missing << QStringLiteral("the 'From' address");
    }
    if (to.trimmed().isEmpty()) {
        missing << QStringLiteral("the 'To' address");
    }
    if (!missing.isEmpty()) {
        refuse(QStringLiteral("To send a test e-mail, enter ") + joinedNames(missing) + QLatin1Char('.'));
        return;
    }
    const std::optional<quint16> number = port();
    if (!number) {
        refusePort();
        return;
    }
    if (m_cboEmailSecurity->currentIndex() < 0) {
        refuse(kTestNoSecurity);
        return;
    }

    // The values as they stand in the dialog; nothing of them is stored.
    const auto security = static_cast<cEmail::Security>(m_cboEmailSecurity->currentIndex());
    const QString caFile = m_settings.SMTPCAFile();
    const bool login = m_chkEmailLogin->isChecked();
    const QString userName = m_txtEmailUsername->text().trimmed();
    const QString password = m_txtEmailPassword->text().trimmed();
    const QString body = QStringLiteral("This is a test e-mail from Sentrel on ") + SystemUtility::ComputerName() +
                         QStringLiteral(".\r\n\r\nIt reached you through ") + server + QStringLiteral(" port ") +
                         QString::number(*number) + QStringLiteral(", the way Sentrel's notifications will.\r\n");
    m_testTo = to;
    m_cmdSendTestEmail->setEnabled(false);
    m_sender->Start([=, port = *number](cEmail& email, QString&) {
        email.MailServer = server;
        email.Port = port;
        // The box lists the choices in the order of cEmail::Security.
        email.TransportSecurity = security;
        email.CAFile = caFile;
        if (login) {
            email.UserName = userName;
            email.Password = password;
        }
        cMessage& message = email.Message();
        message.SetFrom(from);
        message.SetTo(to);
        message.SetSubject(kTestSubject);
        message.SetTextBody(body);
        return true;
    });
}

void frmSettings::TestEmailDone(bool sent, const QString& reason)
{
    m_cmdSendTestEmail->setEnabled(true);
    if (!isVisible()) {
        return; // closed meanwhile: nobody waits for the outcome
    }
    if (sent) {
        UserInterface::Message(QStringLiteral("Test e-mail sent to ") + m_testTo, UserInterface::Icon::Information);
    } else {
        UserInterface::Message(QStringLiteral("The test e-mail could not be sent.\n\n") + reason,
                               UserInterface::Icon::Exclamation);
    }
}

void frmSettings::Ok()
{
    const auto refuse = [](const QString& message) {
        UserInterface::Message(message, UserInterface::Icon::Exclamation);
    };
    if (m_chkEmailEnabled->isChecked()) {
        if (m_txtEmailServer->text().trimmed().isEmpty()) {
            refuse(kNoServer);
            return;
        }
        if (!port()) {
            refuse(kBadPort);
            return;
        }
        if (m_chkEmailLogin->isChecked() && m_txtEmailUsername->text().trimmed().isEmpty()) {
            refuse(kNoUsername);
            return;
        }
        if (!m_txtEmailNotifyFrom->text().contains(QLatin1Char('@')) ||
            !m_txtEmailNotifyTo->text().contains(QLatin1Char('@'))) {
            refuse(kNoAddresses);
            return;
        }
    }
    if (DialogParts::LeadingNumber(m_txtPollInterval->text()) <= 0) {
        m_tbsSettings->setCurrentIndex(0);
        refuse(kNoInterval);
        return;
    }
    accept();
}

void frmSettings::done(int result)
{
    // A test e-mail on its way ends with the dialog.
    m_sender->Cancel();
    QDialog::done(result);
}

void frmSettings::closeEvent(QCloseEvent* event)
{
    // The close box is Cancel: the dialog hides itself and DisplaySettings leaves the settings untouched.
    event->ignore();
    reject();
}

bool frmSettings::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::FocusIn) {
        ControlUtility::TextBoxGotFocus(box);
    } else if (event->type() == QEvent::KeyPress &&
               (box == m_txtEmailServer || box == m_txtPollInterval || box == m_txtEmailPort)) {
        const int code = DialogParts::TypedCode(static_cast<QKeyEvent*>(event));
        if (code == 0) {
            return false;
        }
        if (box == m_txtEmailServer) {
            return code == kSpace;
        }
        return DialogParts::FilterTyped(box, code, kNumberMode);
    }
    return QDialog::eventFilter(watched, event);
}
