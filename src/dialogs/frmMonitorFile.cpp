#include "dialogs/frmMonitorFile.h"

#include "dialogs/ControlUtility.h"
#include "dialogs/DialogGeometry.h"
#include "dialogs/DialogParts.h"
#include "model/cMonitorFile.h"
#include "support/DatePattern.h"
#include "support/GeneralUtility.h"
#include "support/UserInterface.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include <optional>

using DialogParts::Named;
using DialogParts::NewNote;

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

constexpr double kClientWidth = 5790;
constexpr double kClientHeight = 5985;
constexpr int kMinutesLength = 5;
constexpr int kRemindLength = 8;
// The most minutes whose seconds a 32-bit number holds.
constexpr qint32 kMaxRemindMins = 35791394;
constexpr int kMinutesMode = 1;
constexpr char16_t kDoubleQuote = u'"';

const QString kPatternCodes =
    QStringLiteral("A date and time between # signs is filled in at every check:\n"
                   "yyyy or yy year, mm month, mmm or mmmm month name, dd day, ddd or dddd day name,\n"
                   "hh hour, nn minutes (mm right after hh), ss seconds, AM/PM a 12-hour clock,\n"
                   "q quarter, ww week of the year, y day of the year; a z at the end takes UTC.\n"
                   "\"/\" is your locale's date separator and \":\" its time separator (in German \"#dd/mm#\"\n"
                   "gives \"04.12\"), not a folder: write \"-\" or \"\\/\" instead.\n"
                   "E.g. /var/log/app-#yyyy-mm-dd#.log");
const QString kNotYet = QStringLiteral("  (does not exist yet)");

const QString kNoFilename = QStringLiteral("You must enter the Filename of the file you want to Monitor.");
const QString kNoFriendlyName = QStringLiteral("You must enter the 'Friendly Name' for the file you want to Monitor.");
const QString kLineBreakInFilename = QStringLiteral(
    "The Filename may not hold a line break (carriage return or line feed): the profile cannot store it.");
const QString kNoMinutes =
    QStringLiteral("You must enter the number of minutes that a file must have remained unchanged.");
const QString kBadRemind =
    QStringLiteral("You must enter how often to remind, a whole number of minutes from 0 (never) to 35791394.");

// How many pixels the stale option's row lacks for the option's text, the
// minutes box and its label side by side; 0 when they fit.
int minutesRowShortfall(const QRadioButton* option, const QLineEdit* box, const QLabel* label)
{
    const int gap = Px(90);
    const int need = option->sizeHint().width() + gap + box->width() + gap + label->sizeHint().width();
    const int room = option->parentWidget()->width() - 2 * option->x();
    return qMax(0, need - room);
}

// The minutes box and its label follow the stale option on its row. Returns
// the height the frame then needs less, the design having kept a row under
// the option for them.
int placeMinutes(QRadioButton* option, QLineEdit* box, QLabel* label)
{
    const int gap = Px(90);
    option->resize(option->sizeHint().width(), option->height());
    QRect boxRect = box->geometry();
    boxRect.moveTo(option->geometry().right() + 1 + gap, option->y() + (option->height() - boxRect.height()) / 2);
    const int saved = box->y() - boxRect.y();
    box->setGeometry(boxRect);
    const int labelWidth = label->sizeHint().width();
    label->setGeometry(
        boxRect.right() + 1 + gap, boxRect.y() + (boxRect.height() - label->height()) / 2, labelWidth, label->height());
    return saved;
}

// A caption, then its box, then a caption after it, on one row.
void placeRow(QLabel* before, QLineEdit* box, QLabel* after)
{
    const int gap = Px(90);
    before->resize(before->sizeHint().width(), before->height());
    box->move(before->geometry().right() + 1 + gap, before->y() + (before->height() - box->height()) / 2);
    after->setGeometry(box->geometry().right() + 1 + gap, before->y(), after->sizeHint().width(), before->height());
}

// The reminder interval in the box: empty is 0 (never); anything but a whole number in range is nothing.
std::optional<qint32> remindMinutes(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        return 0;
    }
    bool ok = false;
    const qint64 minutes = trimmed.toLongLong(&ok);
    if (!ok || minutes < 0 || minutes > kMaxRemindMins) {
        return std::nullopt;
    }
    return static_cast<qint32>(minutes);
}

void showCaretAtStart(QLineEdit* box, const QString& text)
{
    box->setText(text);
    // A long path shows its beginning.
    box->setCursorPosition(0);
}

} // namespace

frmMonitorFile::frmMonitorFile(QWidget* parent)
    : QDialog(parent, DialogParts::kFixedDialog)
{
    setObjectName(QStringLiteral("frmMonitorFile"));
    setWindowTitle(QStringLiteral("Monitor File Details"));
    DialogParts::UseDesktopFont(this, kClientWidth, kClientHeight);
    createContent();
}

void frmMonitorFile::createContent()
{
    auto* details =
        Named(new QGroupBox(QStringLiteral("File Details:"), this), "frmFileDetails", Rect(60, 60, 5670, 2535));
    auto* filename = Named(new QLabel(QStringLiteral("Enter the &filename of the File to Monitor:"), details),
                           "lblNewFileNameDesc",
                           Rect(120, 270, 5280, 240));
    m_txtFilename = Named(new QLineEdit(details), "txtFilename", Rect(120, 540, 4980, 315));
    filename->setBuddy(m_txtFilename);
    m_cmdBrowse = Named(new QPushButton(details), "cmdBrowse", Rect(5160, 525, 345, 345));
    m_cmdBrowse->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    m_cmdBrowse->setToolTip(QStringLiteral("Add"));
    m_cmdBrowse->setShortcut(QKeySequence(Qt::ALT | Qt::Key_B));
    // Enter presses the focused button; elsewhere it presses OK, the default.
    m_cmdBrowse->setAutoDefault(true);
    // What the name stands for at this moment, under it.
    m_lblFilenamePreview = Named(new QLabel(details), "lblFilenamePreview", Rect(120, 900, 5385, 225));
    m_lblFilenamePreview->setTextFormat(Qt::PlainText);
    QLabel* note = NewNote(details,
                           "lblFilesNoteDesc",
                           QStringLiteral("Note: Use a Date/Time format by surrounding it with # symbols."),
                           Rect(120, 1170, 5400, 225));
    QLabel* example = NewNote(details,
                              "lblFilesNote2Desc",
                              QStringLiteral("E.g. : \"c:\\MyFile.#YYYY-MM-DD#.log\""),
                              Rect(120, 1395, 5400, 225));
    for (QWidget* explained : std::initializer_list<QWidget*> {m_txtFilename, m_lblFilenamePreview, note, example}) {
        explained->setToolTip(kPatternCodes);
    }
    m_txtFilename->setWhatsThis(kPatternCodes); // Shift+F1 shows it from the keyboard
    m_chkUseFriendlyName =
        Named(new QCheckBox(QStringLiteral("Display a Friendly &Name instead of the Filename:"), details),
              "chkUseFriendlyName",
              Rect(120, 1695, 5280, 255));
    m_txtFriendlyName = Named(new QLineEdit(details), "txtFriendlyName", Rect(120, 2010, 5385, 315));

    auto* options =
        Named(new QGroupBox(QStringLiteral("Monitoring Options:"), this), "fraOptions", Rect(60, 2655, 5670, 2610));
    m_chkAttachFileToEmail = Named(new QCheckBox(QStringLiteral("&Attach the Monitored file to the email"), options),
                                   "chkAttachFileToEmail",
                                   Rect(120, 270, 5280, 255));
    m_optNotifyOnChange =
        Named(new QRadioButton(QStringLiteral("Send a notification &whenever the file changes"), options),
              "optNotifyOnChange",
              Rect(120, 570, 5280, 255));
    m_optNotifyStale =
        Named(new QRadioButton(QStringLiteral("Send a notification if the file &hasn't changed in:"), options),
              "optNotifyStale",
              Rect(120, 870, 5280, 255));
    m_txtStaleMinutes = Named(new QLineEdit(options), "txtStaleMinutes", Rect(120, 1170, 570, 315));
    m_txtStaleMinutes->setMaxLength(kMinutesLength);
    DialogParts::FitDigits(m_txtStaleMinutes);
    auto* minutes = Named(new QLabel(QStringLiteral("&Minutes"), options), "lblFileMinsDesc", Rect(0, 0, 720, 255));
    minutes->setBuddy(m_txtStaleMinutes);
    m_chkNotifyMissing = Named(new QCheckBox(QStringLiteral("Mail when the file is mi&ssing"), options),
                               "chkNotifyMissing",
                               Rect(120, 1590, 5280, 255));
    m_chkNotifyRecovered = Named(new QCheckBox(QStringLiteral("Mail when it is bac&k to normal"), options),
                                 "chkNotifyRecovered",
                                 Rect(120, 1890, 5280, 255));
    auto* remind =
        Named(new QLabel(QStringLiteral("&Remind every"), options), "lblRemindDesc", Rect(120, 2220, 0, 255));
    m_txtRemindMins = Named(new QLineEdit(options), "txtRemindMins", Rect(0, 0, 900, 315));
    m_txtRemindMins->setMaxLength(kRemindLength);
    DialogParts::FitDigits(m_txtRemindMins);
    remind->setBuddy(m_txtRemindMins);
    auto* remindMins =
        Named(new QLabel(QStringLiteral("minutes (0 = never)"), options), "lblRemindMinsDesc", Rect(0, 0, 0, 255));
    placeRow(remind, m_txtRemindMins, remindMins);

    m_cmdOK = Named(new QPushButton(QStringLiteral("&OK"), this), "cmdOK", Rect(3300, 5385, 1140, 405));
    m_cmdOK->setDefault(true);
    m_cmdCancel = Named(new QPushButton(QStringLiteral("&Cancel"), this), "cmdCancel", Rect(4590, 5385, 1140, 405));
    m_cmdCancel->setAutoDefault(true);

    // A desktop font wider for its height than the design's would push the
    // minutes box off its option's row: the dialog grows wider instead, its
    // boxes with it and the buttons on the right staying on the right.
    if (const int more = minutesRowShortfall(m_optNotifyStale, m_txtStaleMinutes, minutes); more > 0) {
        setFixedWidth(width() + more);
        for (QWidget* wider : std::initializer_list<QWidget*> {
                 details, options, m_txtFilename, m_lblFilenamePreview, m_chkUseFriendlyName, m_txtFriendlyName}) {
            wider->resize(wider->width() + more, wider->height());
        }
        for (QWidget* right : std::initializer_list<QWidget*> {m_cmdBrowse, m_cmdOK, m_cmdCancel}) {
            right->move(right->x() + more, right->y());
        }
    }
    const int saved = placeMinutes(m_optNotifyStale, m_txtStaleMinutes, minutes);
    // The rows under the minutes move up into the room the design kept for them.
    for (QWidget* below : std::initializer_list<QWidget*> {
             m_chkNotifyMissing, m_chkNotifyRecovered, remind, m_txtRemindMins, remindMins}) {
        below->move(below->x(), below->y() - saved);
    }
    options->resize(options->width(), options->height() - saved);
    for (QWidget* button : std::initializer_list<QWidget*> {m_cmdOK, m_cmdCancel}) {
        button->move(button->x(), button->y() - saved);
    }
    setFixedHeight(height() - saved);

    setTabOrder(m_txtFilename, m_cmdBrowse);
    setTabOrder(m_cmdBrowse, m_chkUseFriendlyName);
    setTabOrder(m_chkUseFriendlyName, m_txtFriendlyName);
    setTabOrder(m_txtFriendlyName, m_chkAttachFileToEmail);
    setTabOrder(m_chkAttachFileToEmail, m_optNotifyOnChange);
    setTabOrder(m_optNotifyOnChange, m_optNotifyStale);
    setTabOrder(m_optNotifyStale, m_txtStaleMinutes);
    setTabOrder(m_txtStaleMinutes, m_chkNotifyMissing);
    setTabOrder(m_chkNotifyMissing, m_chkNotifyRecovered);
    setTabOrder(m_chkNotifyRecovered, m_txtRemindMins);
    setTabOrder(m_txtRemindMins, m_cmdOK);
    setTabOrder(m_cmdOK, m_cmdCancel);

    for (QLineEdit* box : {m_txtFilename, m_txtFriendlyName, m_txtStaleMinutes, m_txtRemindMins}) {
        box->installEventFilter(this);
    }
    connect(m_txtFilename, &QLineEdit::textChanged, this, &frmMonitorFile::FilenameChanged);
    connect(m_chkUseFriendlyName, &QCheckBox::clicked, this, &frmMonitorFile::FriendlyNameSwitched);
    connect(m_optNotifyOnChange, &QRadioButton::clicked, this, &frmMonitorFile::RuleSwitched);
    connect(m_optNotifyStale, &QRadioButton::clicked, this, &frmMonitorFile::RuleSwitched);
    connect(m_cmdBrowse, &QPushButton::clicked, this, &frmMonitorFile::Browse);
    connect(m_cmdOK, &QPushButton::clicked, this, &frmMonitorFile::Ok);
    connect(m_cmdCancel, &QPushButton::clicked, this, &frmMonitorFile::reject);
}

bool frmMonitorFile::DisplaySettings(cMonitorFile* file, QWidget* parent)
{
    if (!file) {
        return false;
    }
    frmMonitorFile dialog(parent);
    dialog.Load(*file);
    dialog.m_txtFilename->setFocus();
    // Only OK accepts; Cancel, the close box and anything else that ends the dialog leave the file as it was.
    if (dialog.exec() != QDialog::Accepted) {
        return false;
    }
    dialog.Save(*file);
    return true;
}

void frmMonitorFile::Load(const cMonitorFile& file)
{
    m_txtFilename->setText(file.RawFileName());
    m_chkUseFriendlyName->setChecked(!file.FriendlyName().isEmpty());
    FriendlyNameSwitched();
    if (m_chkUseFriendlyName->isChecked()) {
        showCaretAtStart(m_txtFriendlyName, file.FriendlyName());
    }
    m_chkAttachFileToEmail->setChecked(file.AttachFileToEmail());
    if (file.MonitorType() != cMonitorFile::NotifyOnChange) {
        m_optNotifyStale->setChecked(true);
        m_txtStaleMinutes->setText(QString::number(file.StaleMins()));
    } else {
        m_optNotifyOnChange->setChecked(true);
        // Switching to the stale rule then proposes ten minutes.
        m_txtStaleMinutes->setText(QStringLiteral("10"));
    }
    RuleSwitched();
    m_chkNotifyMissing->setChecked(file.NotifyMissing());
    m_chkNotifyRecovered->setChecked(file.NotifyRecovered());
    m_txtRemindMins->setText(QString::number(file.RemindMins()));
    // Tab stops at the selected option only, the group's one stop; Qt keeps it
    // so as the focus moves within the group.
    for (QRadioButton* option : {m_optNotifyOnChange, m_optNotifyStale}) {
        option->setFocusPolicy(option->isChecked() ? Qt::StrongFocus : Qt::ClickFocus);
    }
}

void frmMonitorFile::Save(cMonitorFile& file) const
{
    file.SetRawFileName(m_txtFilename->text().trimmed());
    file.SetFriendlyName(m_chkUseFriendlyName->isChecked() ? m_txtFriendlyName->text().trimmed() : QString());
    file.SetAttachFileToEmail(m_chkAttachFileToEmail->isChecked());
    file.SetStaleMins(m_optNotifyOnChange->isChecked()
                          ? 0
                          : DialogParts::WholeNumber(DialogParts::LeadingNumber(m_txtStaleMinutes->text())));
    file.SetNotifyMissing(m_chkNotifyMissing->isChecked());
    file.SetNotifyRecovered(m_chkNotifyRecovered->isChecked());
    file.SetRemindMins(remindMinutes(m_txtRemindMins->text()).value_or(0));
}

void frmMonitorFile::FilenameChanged()
{
    showPreview();
    // The disabled friendly-name box shows what the list will display.
    if (!m_chkUseFriendlyName->isChecked()) {
        showCaretAtStart(m_txtFriendlyName, m_txtFilename->text());
    }
}

void frmMonitorFile::showPreview()
{
    const QString raw = m_txtFilename->text().trimmed();
    if (raw.isEmpty()) {
        m_lblFilenamePreview->clear();
        return;
    }
    // What a check would watch at this moment, as the monitor expands it.
    const QString name = DatePattern::ExpandName(raw);
    const QString mark = QFileInfo::exists(name) ? QString() : kNotYet;
    const QString lead = QStringLiteral("Watches now: ");
    const QFontMetrics metrics = m_lblFilenamePreview->fontMetrics();
    // A long path keeps its start and its file name.
    const QString shown = metrics.elidedText(
        name, Qt::ElideMiddle, m_lblFilenamePreview->width() - metrics.horizontalAdvance(lead + mark));
    m_lblFilenamePreview->setText(lead + shown + mark);
}

void frmMonitorFile::FriendlyNameSwitched()
{
    const bool use = m_chkUseFriendlyName->isChecked();
    ControlUtility::EnableControl(m_txtFriendlyName, use);
    if (!use) {
        showCaretAtStart(m_txtFriendlyName, m_txtFilename->text());
    }
}

void frmMonitorFile::RuleSwitched()
{
    // The box keeps its text while disabled, so switching back restores it.
    ControlUtility::EnableControl(m_txtStaleMinutes, m_optNotifyStale->isChecked());
}

void frmMonitorFile::Browse()
{
    QFileDialog chooser(this, QStringLiteral("Select File"));
    // "*" rather than "*.*": on Linux many files have no dot in their name.
    chooser.setNameFilter(QStringLiteral("All Files (*)"));
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    const QString current = m_txtFilename->text();
    chooser.selectFile(current.isEmpty() ? QStringLiteral("*.*") : current);
    if (chooser.exec() != QDialog::Accepted) {
        return;
    }
    const QStringList chosen = chooser.selectedFiles();
    if (!chosen.isEmpty() && !chosen.first().isEmpty()) {
        m_txtFilename->setText(QDir::toNativeSeparators(chosen.first()));
    }
}

void frmMonitorFile::Ok()
{
    const auto refuse = [](const QString& message) {
        UserInterface::Message(message, UserInterface::Icon::Exclamation);
    };
    if (m_txtFilename->text().trimmed().isEmpty()) {
        refuse(kNoFilename);
        return;
    }
    // The profile stores a line break as a space, which would watch another file.
    if (m_txtFilename->text().contains(QLatin1Char('\n')) || m_txtFilename->text().contains(QLatin1Char('\r'))) {
        refuse(kLineBreakInFilename);
        m_txtFilename->setFocus();
        return;
    }
    if (m_chkUseFriendlyName->isChecked() && m_txtFriendlyName->text().trimmed().isEmpty()) {
        refuse(kNoFriendlyName);
        return;
    }
    if (m_optNotifyStale->isChecked() && DialogParts::LeadingNumber(m_txtStaleMinutes->text()) <= 0) {
        refuse(kNoMinutes);
        return;
    }
    if (!remindMinutes(m_txtRemindMins->text())) {
        refuse(kBadRemind);
        m_txtRemindMins->setFocus();
        return;
    }
    accept();
}

void frmMonitorFile::closeEvent(QCloseEvent* event)
{
    // The close box is Cancel: the dialog hides itself and DisplaySettings leaves the file untouched.
    event->ignore();
    reject();
}

bool frmMonitorFile::eventFilter(QObject* watched, QEvent* event)
{
    auto* box = qobject_cast<QLineEdit*>(watched);
    if (!box) {
        return QDialog::eventFilter(watched, event);
    }
    if (event->type() == QEvent::FocusIn) {
        ControlUtility::TextBoxGotFocus(box);
    } else if (event->type() == QEvent::KeyPress && box != m_txtFriendlyName) {
        const int code = DialogParts::TypedCode(static_cast<QKeyEvent*>(event));
        if (code == 0) {
            return false;
        }
        if (box == m_txtFilename) {
            return code == kDoubleQuote;
        }
        return DialogParts::FilterTyped(box, code, kMinutesMode);
    }
    return QDialog::eventFilter(watched, event);
}
