// The monitored-file dialog with real widgets: how it opens from a file, the
// friendly-name, file-name and rule switches, the typed-key filters, the OK
// checks with their messages, what OK writes, Cancel and the close box, and
// browsing for a file.
#include "DialogTestSupport.h"
#include "dialogs/frmMonitorFile.h"
#include "model/cMonitorFile.h"
#include "support/GeneralUtility.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

using namespace AppTest;
using namespace DialogTest;

namespace {

const QString kNoFilename = QStringLiteral("You must enter the Filename of the file you want to Monitor.");
const QString kNoFriendlyName = QStringLiteral("You must enter the 'Friendly Name' for the file you want to Monitor.");
const QString kLineBreak = QStringLiteral(
    "The Filename may not hold a line break (carriage return or line feed): the profile cannot store it.");
const QString kNoMinutes =
    QStringLiteral("You must enter the number of minutes that a file must have remained unchanged.");

cMonitorFile MakeFile(const QString& name, const QString& friendly, bool attach, qint32 staleMins)
{
    cMonitorFile file;
    file.SetRawFileName(name);
    file.SetFriendlyName(friendly);
    file.SetAttachFileToEmail(attach);
    file.SetStaleMins(staleMins);
    file.SetStatus(QStringLiteral("Changed!"));
    return file;
}

void ExpectSameFile(const cMonitorFile& actual, const cMonitorFile& expected)
{
    EXPECT_EQ(actual.RawFileName(), expected.RawFileName());
    EXPECT_EQ(actual.FriendlyName(), expected.FriendlyName());
    EXPECT_EQ(actual.AttachFileToEmail(), expected.AttachFileToEmail());
    EXPECT_EQ(actual.StaleMins(), expected.StaleMins());
    EXPECT_EQ(actual.Status(), expected.Status());
}

class MonitorFileDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        GeneralUtility::SetAppFromArguments({});
        // Qt's own chooser, so that the test can find and answer it on any desktop.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs, true);
    }

    // Runs DisplaySettings on the file while act drives the open dialog; act
    // must leave it. A dialog act leaves open fails the test and is cancelled.
    bool Run(cMonitorFile* file, const std::function<void(QWidget*)>& act, QWidget* parent = nullptr)
    {
        return RunModal("frmMonitorFile", act, [&] { return frmMonitorFile::DisplaySettings(file, parent); });
    }
};

TEST_F(MonitorFileDialog, NoFileShowsNothing)
{
    EXPECT_FALSE(ShowsNothing([] { return frmMonitorFile::DisplaySettings(nullptr); }));
}

TEST_F(MonitorFileDialog, OpensOverItsOwnerWithItsCaptionsAndTheFocusInTheFileName)
{
    QWidget owner;
    owner.show();
    cMonitorFile file;
    Run(
        &file,
        [&](QWidget* dialog) {
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Monitor File Details"));
            EXPECT_EQ(dialog->parentWidget(), &owner);
            EXPECT_EQ(QApplication::focusWidget(), Box(dialog, "txtFilename"));
            const std::pair<const char*, const char*> captions[] = {
                {"lblNewFileNameDesc", "Enter the filename of the File to Monitor:"},
                {"lblFilesNoteDesc", "Note: Use a Date/Time format by surrounding it with # symbols."},
                {"lblFilesNote2Desc", "E.g. : \"c:\\MyFile.#YYYY-MM-DD#.log\""},
                {"chkUseFriendlyName", "Display a Friendly Name instead of the Filename:"},
                {"chkAttachFileToEmail", "Attach the Monitored file to the email"},
                {"optNotifyOnChange", "Send a notification whenever the file changes"},
                {"optNotifyStale", "Send a notification if the file hasn't changed in:"},
                {"lblFileMinsDesc", "Minutes"},
                {"cmdOK", "OK"},
                {"cmdCancel", "Cancel"},
                {"frmFileDetails", "File Details:"},
                {"fraOptions", "Monitoring Options:"},
            };
            for (const auto& [name, caption] : captions) {
                QWidget* widget = Find<QWidget>(dialog, name);
                EXPECT_EQ(widget->property(qobject_cast<QGroupBox*>(widget) ? "title" : "text").toString(),
                          QString::fromUtf8(caption))
                    << name;
            }
            EXPECT_EQ(Button(dialog, "cmdBrowse")->toolTip(), QStringLiteral("Add"));
            Click(dialog, "cmdCancel");
        },
        &owner);
}

TEST_F(MonitorFileDialog, OpensFromTheFilesValues)
{
    const QString path = QStringLiteral("/var/log/app.#YYYY-MM-DD#.log");
    struct Case
    {
        const char* name;
        cMonitorFile file;
        QString friendlyBox;
        const char* selectedRule;
        QString minutes;
    };
    const Case cases[] = {
        {"a new file", cMonitorFile(), "", "optNotifyOnChange", "10"},
        {"change rule, no friendly name, attached", MakeFile(path, "", true, 0), path, "optNotifyOnChange", "10"},
        {"stale after 25 minutes with a friendly name",
         MakeFile(path, "App log", false, 25),
         "App log",
         "optNotifyStale",
         "25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cMonitorFile file = c.file;
        const bool usesFriendlyName = !c.file.FriendlyName().isEmpty();
        const bool stale = QLatin1String(c.selectedRule) == QLatin1String("optNotifyStale");
        EXPECT_FALSE(Run(&file, [&](QWidget* dialog) {
            EXPECT_EQ(Box(dialog, "txtFilename")->text(), c.file.RawFileName());
            EXPECT_EQ(Button(dialog, "chkUseFriendlyName")->isChecked(), usesFriendlyName);
            EXPECT_EQ(Box(dialog, "txtFriendlyName")->text(), c.friendlyBox);
            EXPECT_EQ(Box(dialog, "txtFriendlyName")->isEnabled(), usesFriendlyName);
            EXPECT_EQ(Button(dialog, "chkAttachFileToEmail")->isChecked(), c.file.AttachFileToEmail());
            EXPECT_TRUE(Button(dialog, c.selectedRule)->isChecked());
            EXPECT_EQ(Button(dialog, "optNotifyStale")->isChecked(), stale);
            EXPECT_EQ(Box(dialog, "txtStaleMinutes")->text(), c.minutes);
            EXPECT_EQ(Box(dialog, "txtStaleMinutes")->isEnabled(), stale);
            Click(dialog, "cmdCancel");
        }));
    }
}

TEST_F(MonitorFileDialog, TabVisitsTheControlsInOrderAndFocusSelectsWhatABoxHolds)
{
    for (const qint32 staleMins : {25, 0}) {
        SCOPED_TRACE(staleMins);
        cMonitorFile file = MakeFile(QStringLiteral("/srv/a.log"), QStringLiteral("A"), false, staleMins);
        const bool stale = staleMins > 0;
        Run(&file, [&](QWidget* dialog) {
            // The option group is one stop, the selected option; the disabled minutes box is none.
            const QString expected =
                QStringLiteral("cmdBrowse chkUseFriendlyName txtFriendlyName chkAttachFileToEmail %1 cmdOK cmdCancel "
                               "txtFilename")
                    .arg(stale ? "optNotifyStale txtStaleMinutes" : "optNotifyOnChange");
            QStringList visited;
            while (visited.size() < expected.count(QLatin1Char(' ')) + 1) {
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                visited << (QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString());
            }
            EXPECT_EQ(visited.join(QLatin1Char(' ')), expected);
            if (stale) {
                // A click into a box selects all it holds, so typing replaces it.
                for (const char* name : {"txtStaleMinutes", "txtFriendlyName", "txtFilename"}) {
                    QTest::mouseClick(Box(dialog, name), Qt::LeftButton);
                    MessageAnswerer::Settle();
                    EXPECT_EQ(Box(dialog, name)->selectedText(), Box(dialog, name)->text()) << name;
                }
            }
            Click(dialog, "cmdCancel");
        });
    }
}

TEST_F(MonitorFileDialog, FriendlyNameFollowsTheFileNameWhileUncheckedAndMinutesFollowTheRule)
{
    cMonitorFile file;
    Run(&file, [](QWidget* dialog) {
        QLineEdit* friendly = Box(dialog, "txtFriendlyName");
        QLineEdit* minutes = Box(dialog, "txtStaleMinutes");
        const QString name = QStringLiteral("/abc");
        for (qsizetype typed = 1; typed <= name.size(); ++typed) {
            QTest::keyClick(Box(dialog, "txtFilename"), name.at(typed - 1).toLatin1());
            EXPECT_EQ(friendly->text(), name.left(typed));
            EXPECT_EQ(friendly->cursorPosition(), 0);
        }

        Click(dialog, "chkUseFriendlyName");
        EXPECT_TRUE(friendly->isEnabled());
        EXPECT_EQ(friendly->text(), QStringLiteral("/abc"));
        Clear(dialog, "txtFriendlyName");
        Type(dialog, "txtFriendlyName", QStringLiteral("Mine"));
        EXPECT_EQ(friendly->text(), QStringLiteral("Mine"));
        Type(dialog, "txtFilename", QStringLiteral("d"));
        EXPECT_EQ(friendly->text(), QStringLiteral("Mine"));

        // Unchecking discards the typed name for the file name.
        Click(dialog, "chkUseFriendlyName");
        EXPECT_FALSE(friendly->isEnabled());
        EXPECT_EQ(friendly->text(), QStringLiteral("/abcd"));
        Click(dialog, "chkUseFriendlyName");
        EXPECT_TRUE(friendly->isEnabled());
        EXPECT_EQ(friendly->text(), QStringLiteral("/abcd"));

        Click(dialog, "optNotifyStale");
        EXPECT_TRUE(minutes->isEnabled());
        EXPECT_EQ(minutes->text(), QStringLiteral("10"));
        Type(dialog, "txtStaleMinutes", QStringLiteral("5"));
        Click(dialog, "optNotifyOnChange");
        EXPECT_FALSE(minutes->isEnabled());
        EXPECT_EQ(minutes->text(), QStringLiteral("105"));
        Click(dialog, "optNotifyStale");
        EXPECT_TRUE(minutes->isEnabled());
        EXPECT_EQ(minutes->text(), QStringLiteral("105"));
        Click(dialog, "cmdCancel");
    });
}

TEST_F(MonitorFileDialog, TypedQuotesAndNonDigitsAreDroppedButPastedTextIsNot)
{
    struct Case
    {
        const char* name;
        const char* box;
        bool paste;
        QString input;
        QString expected;
    };
    const Case cases[] = {
        {"quote typed into the file name", "txtFilename", false, "\"/a b\".log\"", "/a b.log"},
        {"quote pasted into the file name", "txtFilename", true, "\"/a.log\"", "\"/a.log\""},
        {"quote typed into the friendly name", "txtFriendlyName", false, "say \"hi\"", "say \"hi\""},
        {"letters and signs typed into the minutes", "txtStaleMinutes", false, "1a-2.5 ", "125"},
        {"letters pasted into the minutes", "txtStaleMinutes", true, "7 min", "7 min"},
        {"six digits typed", "txtStaleMinutes", false, "123456", "12345"},
        {"six digits pasted", "txtStaleMinutes", true, "987654", "98765"},
    };
    cMonitorFile file = MakeFile(QStringLiteral("x"), QStringLiteral("y"), false, 25);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Run(&file, [&](QWidget* dialog) {
            Clear(dialog, c.box);
            if (c.paste) {
                Paste(dialog, c.box, c.input);
            } else {
                Type(dialog, c.box, c.input);
            }
            EXPECT_EQ(Box(dialog, c.box)->text(), c.expected);
            Click(dialog, "cmdCancel");
        });
    }
    // Backspace still edits the minutes.
    Run(&file, [](QWidget* dialog) {
        Type(dialog, "txtStaleMinutes", QStringLiteral("7"));
        QTest::keyClick(Box(dialog, "txtStaleMinutes"), Qt::Key_Backspace);
        EXPECT_EQ(Box(dialog, "txtStaleMinutes")->text(), QStringLiteral("25"));
        Click(dialog, "cmdCancel");
    });
}

TEST_F(MonitorFileDialog, OkRefusesInOrderAndKeepsTheDialogAsItWas)
{
    struct Case
    {
        const char* name;
        QString filename;
        bool useFriendlyName;
        QString friendlyName;
        bool stale;
        QString minutes;
        const char* focus;
        QString message;
        const char* focusAfter = nullptr; // where the refusal puts the focus; by default it stays
    };
    const Case cases[] = {
        {"empty file name first", "", true, "", true, "", "txtFilename", kNoFilename},
        {"blank file name", "   ", false, "", false, "", "chkAttachFileToEmail", kNoFilename},
        {"blank friendly name before minutes", "/a", true, "  ", true, "0", "txtFriendlyName", kNoFriendlyName},
        {"line feed in the file name before the rest",
         "/a\nb",
         true,
         "",
         true,
         "",
         "cmdBrowse",
         kLineBreak,
         "txtFilename"},
        {"no minutes", "/a", false, "", true, "", "txtStaleMinutes", kNoMinutes},
        {"zero minutes", "/a", false, "", true, "0", "cmdBrowse", kNoMinutes},
        {"pasted words", "/a", false, "", true, "ten", "txtFilename", kNoMinutes},
        {"pasted negative", "/a", false, "", true, "-5", "txtFilename", kNoMinutes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageAnswerer ui;
        cMonitorFile file = MakeFile(QStringLiteral("/before"), QString(), false, 0);
        const cMonitorFile before = file;
        EXPECT_FALSE(Run(&file, [&](QWidget* dialog) {
            Box(dialog, "txtFilename")->setText(c.filename);
            if (c.useFriendlyName) {
                Click(dialog, "chkUseFriendlyName");
                Box(dialog, "txtFriendlyName")->setText(c.friendlyName);
            }
            if (c.stale) {
                Click(dialog, "optNotifyStale");
                Box(dialog, "txtStaleMinutes")->setText(c.minutes);
            }
            QWidget* focus = Find<QWidget>(dialog, c.focus);
            focus->setFocus();
            const QStringList texts = {Box(dialog, "txtFilename")->text(),
                                       Box(dialog, "txtFriendlyName")->text(),
                                       Box(dialog, "txtStaleMinutes")->text()};
            ui.AnswerNext();
            // Enter presses OK from any box.
            QTest::keyClick(focus, Qt::Key_Return);
            ASSERT_EQ(ui.Shown().count, 1);
            EXPECT_EQ(ui.Shown().text, c.message);
            EXPECT_EQ(ui.Shown().icon, QMessageBox::Warning);
            EXPECT_EQ(ui.Shown().buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            EXPECT_EQ(ui.Shown().title, GeneralUtility::App().Title);
            EXPECT_TRUE(dialog->isVisible());
            // The offscreen platform leaves the window inactive after the box; the focus it returns to is still kept.
            EXPECT_EQ(dialog->focusWidget(), c.focusAfter ? Find<QWidget>(dialog, c.focusAfter) : focus);
            EXPECT_EQ(QStringList({Box(dialog, "txtFilename")->text(),
                                   Box(dialog, "txtFriendlyName")->text(),
                                   Box(dialog, "txtStaleMinutes")->text()}),
                      texts);
            EXPECT_EQ(Button(dialog, "chkUseFriendlyName")->isChecked(), c.useFriendlyName);
            EXPECT_EQ(Button(dialog, "optNotifyStale")->isChecked(), c.stale);
            Click(dialog, "cmdCancel");
        }));
        ExpectSameFile(file, before);
        MessageAnswerer::Settle();
    }
}

TEST_F(MonitorFileDialog, OkWritesTrimmedNamesTheAttachmentAndWholeMinutes)
{
    struct Case
    {
        const char* name;
        cMonitorFile start;
        std::function<void(QWidget*)> edit;
        cMonitorFile expected;
    };
    const QString path = QStringLiteral("/srv/in.csv");
    const Case cases[] = {
        {"everything set, names trimmed",
         MakeFile(QString(), QString(), false, 0),
         [](QWidget* dialog) {
             Type(dialog, "txtFilename", QStringLiteral("  /srv/in.csv \""));
             Click(dialog, "chkUseFriendlyName");
             Clear(dialog, "txtFriendlyName");
             Type(dialog, "txtFriendlyName", QStringLiteral("  Inbox feed  "));
             Click(dialog, "chkAttachFileToEmail");
             Click(dialog, "optNotifyStale");
             Clear(dialog, "txtStaleMinutes");
             Type(dialog, "txtStaleMinutes", QStringLiteral("90"));
         },
         MakeFile(path, QStringLiteral("Inbox feed"), true, 90)},
        {"friendly name unchecked empties it",
         MakeFile(path, QStringLiteral("Old name"), true, 0),
         [](QWidget* dialog) {
             Click(dialog, "chkUseFriendlyName");
             Click(dialog, "chkAttachFileToEmail");
         },
         MakeFile(path, QString(), false, 0)},
        {"change rule stores 0 whatever the minutes say",
         MakeFile(path, QString(), false, 25),
         [](QWidget* dialog) {
             Box(dialog, "txtStaleMinutes")->setText(QStringLiteral("x"));
             Click(dialog, "optNotifyOnChange");
         },
         MakeFile(path, QString(), false, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageAnswerer ui;
        cMonitorFile file = c.start;
        EXPECT_TRUE(Run(&file, [&](QWidget* dialog) {
            c.edit(dialog);
            ui.AnswerNext();
            Click(dialog, "cmdOK");
            EXPECT_EQ(ui.Shown().count, 0) << ui.Shown().text.toStdString();
        }));
        ExpectSameFile(file, c.expected);
        MessageAnswerer::Settle();
    }
}

TEST_F(MonitorFileDialog, OkStoresTheMinutesReadFromTheStartRoundedHalfToEven)
{
    const std::pair<const char*, qint32> cases[] = {
        {"10", 10}, {"2.5", 2}, {"3.5", 4}, {"0.6", 1}, {" 12 min", 12}, {"+7", 7}};
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        cMonitorFile file = MakeFile(QStringLiteral("/srv/in.csv"), QString(), false, 0);
        EXPECT_TRUE(Run(&file, [&](QWidget* dialog) {
            Click(dialog, "optNotifyStale");
            Box(dialog, "txtStaleMinutes")->setText(QString::fromUtf8(text));
            Click(dialog, "cmdOK");
        }));
        EXPECT_EQ(file.StaleMins(), expected);
    }
    // An unchanged stale file keeps its minutes; Enter in the minutes box is OK, not a key for the filter to drop.
    cMonitorFile file = MakeFile(QStringLiteral("/srv/in.csv"), QString(), false, 25);
    EXPECT_TRUE(Run(&file, [](QWidget* dialog) { QTest::keyClick(Box(dialog, "txtStaleMinutes"), Qt::Key_Enter); }));
    EXPECT_EQ(file.StaleMins(), 25);
    EXPECT_TRUE(Run(&file, [](QWidget* dialog) {
        Type(dialog, "txtStaleMinutes", QStringLiteral("3"));
        QTest::keyClick(Box(dialog, "txtStaleMinutes"), Qt::Key_Enter);
    }));
    EXPECT_EQ(file.StaleMins(), 253);
}

TEST_F(MonitorFileDialog, CancelEscapeAndTheCloseBoxLeaveTheFileUntouched)
{
    const std::pair<const char*, std::function<void(QWidget*)>> ways[] = {
        {"Cancel", [](QWidget* dialog) { Click(dialog, "cmdCancel"); }},
        {"Escape", [](QWidget* dialog) { QTest::keyClick(Box(dialog, "txtStaleMinutes"), Qt::Key_Escape); }},
        {"close box",
         [](QWidget* dialog) {
             // The close is refused and performed as Cancel: the dialog goes, nothing is written.
             dialog->close();
             EXPECT_FALSE(dialog->isVisible());
         }},
    };
    cMonitorFile file = MakeFile(QStringLiteral("/srv/keep.log"), QString(), false, 0);
    const cMonitorFile before = file;
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Run(&file, [&](QWidget* dialog) {
            // A fresh dialog every time, whatever the last one was left holding.
            EXPECT_EQ(Box(dialog, "txtFilename")->text(), before.RawFileName());
            EXPECT_FALSE(Button(dialog, "chkUseFriendlyName")->isChecked());
            Type(dialog, "txtFilename", QStringLiteral(".old"));
            Click(dialog, "chkUseFriendlyName");
            Type(dialog, "txtFriendlyName", QStringLiteral("Other"));
            Click(dialog, "chkAttachFileToEmail");
            Click(dialog, "optNotifyStale");
            Type(dialog, "txtStaleMinutes", QStringLiteral("45"));
            leave(dialog);
        }));
        ExpectSameFile(file, before);
    }
}

TEST_F(MonitorFileDialog, BrowseStartsFromTheBoxAndOnlyAChosenFileChangesIt)
{
    const QString folder = TestEnvironment::NewFolder(QStringLiteral("browse"));
    const QString current = WatchedFile(folder, QStringLiteral("current.log"), NowSecs());
    const QString chosen = WatchedFile(folder, QStringLiteral("chosen"), NowSecs());
    struct Case
    {
        const char* name;
        QString box;
        QString initialName; // what the chooser's name field starts with
        QString choose;      // empty: the chooser is cancelled
        QString result;
    };
    const Case cases[] = {
        {"empty box, cancelled", QString(), QStringLiteral("*.*"), QString(), QString()},
        {"empty box, a file chosen", QString(), QStringLiteral("*.*"), chosen, chosen},
        {"a file in the box, cancelled", current, QStringLiteral("current.log"), QString(), current},
        {"a file in the box, another chosen", current, QStringLiteral("current.log"), chosen, chosen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MessageAnswerer ui;
        cMonitorFile file;
        file.SetRawFileName(c.box);
        Run(&file, [&](QWidget* dialog) {
            bool asked = false;
            QTimer::singleShot(0, [&] {
                auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                ASSERT_NE(chooser, nullptr);
                asked = true;
                EXPECT_EQ(chooser->windowTitle(), QStringLiteral("Select File"));
                EXPECT_EQ(Find<QLineEdit>(chooser, "fileNameEdit")->text(), c.initialName);
                if (!c.box.isEmpty()) {
                    EXPECT_EQ(chooser->directory().absolutePath(), folder);
                }
                if (c.choose.isEmpty()) {
                    chooser->reject();
                } else {
                    chooser->selectFile(c.choose);
                    static_cast<QDialog*>(chooser)->accept();
                }
                // Answers a message that would follow the chooser.
                ui.AnswerNext();
            });
            Click(dialog, "cmdBrowse");
            EXPECT_TRUE(asked);
            EXPECT_EQ(ui.Shown().count, 0);
            EXPECT_EQ(Box(dialog, "txtFilename")->text(), c.result);
            // The disabled friendly-name box follows a chosen file too.
            EXPECT_EQ(Box(dialog, "txtFriendlyName")->text(), c.result);
            Click(dialog, "cmdCancel");
        });
        MessageAnswerer::Settle();
    }
}

} // namespace
