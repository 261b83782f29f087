// The monitored-file dialog with real widgets: how it opens from a file, the
// friendly-name and rule switches, the typed-key filters, the OK checks with
// their messages, what OK writes, Cancel and the close box, and browsing.
#include "DialogTestSupport.h"
#include "dialogs/frmMonitorFile.h"
#include "model/cMonitorFile.h"
#include "support/GeneralUtility.h"

#include <QFileDialog>

using namespace AppTest;
using namespace DialogTest;

namespace {

const QString kNoFilename = "You must enter the Filename of the file you want to Monitor.";
const QString kNoFriendlyName = "You must enter the 'Friendly Name' for the file you want to Monitor.";
const QString kLineBreak =
    "The Filename may not hold a line break (carriage return or line feed): the profile cannot store it.";
const QString kNoMinutes = "You must enter the number of minutes that a file must have remained unchanged.";

cMonitorFile MakeFile(const QString& name, const QString& friendly, bool attach, qint32 staleMins)
{
    cMonitorFile file;
    file.SetRawFileName(name);
    file.SetFriendlyName(friendly);
    file.SetAttachFileToEmail(attach);
    file.SetStaleMins(staleMins);
    file.SetStatus("Changed!");
    return file;
}

// What a file holds, as one value to compare.
auto Stored(const cMonitorFile& f)
{
    return std::tuple(f.RawFileName(), f.FriendlyName(), f.AttachFileToEmail(), f.StaleMins(), f.Status());
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
    // Runs DisplaySettings on the file while act drives the open dialog; act must leave it.
    static bool Run(cMonitorFile* file, const std::function<void(QWidget*)>& act)
    {
        return RunModal("frmMonitorFile", act, [&] { return frmMonitorFile::DisplaySettings(file); });
    }

    MessageAnswerer m_answer;
};

TEST_F(MonitorFileDialog, OpensFromTheFilesValuesWithTheFocusInTheFileName)
{
    const QString path = "/var/log/app.#YYYY-MM-DD#.log";
    const struct
    {
        const char* name;
        cMonitorFile file;
        QString friendlyBox;
        bool stale;
        QString minutes;
    } cases[] = {
        {"a new file", cMonitorFile(), "", false, "10"},
        {"change rule, no friendly name, attached", MakeFile(path, "", true, 0), path, false, "10"},
        {"stale after 25 minutes, friendly name", MakeFile(path, "App log", false, 25), "App log", true, "25"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cMonitorFile file = c.file;
        const bool friendly = !c.file.FriendlyName().isEmpty();
        EXPECT_FALSE(Run(&file, [&](QWidget* dialog) {
            EXPECT_EQ(QApplication::focusWidget(), Box(dialog, "txtFilename"));
            EXPECT_EQ(Box(dialog, "txtFilename")->text(), c.file.RawFileName());
            EXPECT_EQ(Button(dialog, "chkUseFriendlyName")->isChecked(), friendly);
            EXPECT_EQ(Box(dialog, "txtFriendlyName")->text(), c.friendlyBox);
            EXPECT_EQ(Box(dialog, "txtFriendlyName")->isEnabled(), friendly);
            EXPECT_EQ(Button(dialog, "chkAttachFileToEmail")->isChecked(), c.file.AttachFileToEmail());
            EXPECT_EQ(Button(dialog, "optNotifyOnChange")->isChecked(), !c.stale);
            EXPECT_EQ(Button(dialog, "optNotifyStale")->isChecked(), c.stale);
            EXPECT_EQ(Box(dialog, "txtStaleMinutes")->text(), c.minutes);
            EXPECT_EQ(Box(dialog, "txtStaleMinutes")->isEnabled(), c.stale);
            Click(dialog, "cmdCancel");
        }));
    }
}

TEST_F(MonitorFileDialog, FriendlyNameFollowsTheFileNameWhileUncheckedAndMinutesFollowTheRule)
{
    cMonitorFile file;
    Run(&file, [](QWidget* dialog) {
        QLineEdit* friendly = Box(dialog, "txtFriendlyName");
        QLineEdit* minutes = Box(dialog, "txtStaleMinutes");
        Type(dialog, "txtFilename", "/abc");
        EXPECT_EQ(friendly->text(), "/abc");
        EXPECT_EQ(friendly->cursorPosition(), 0);
        Click(dialog, "chkUseFriendlyName");
        EXPECT_TRUE(friendly->isEnabled());
        Clear(dialog, "txtFriendlyName");
        Type(dialog, "txtFriendlyName", "Mine");
        Type(dialog, "txtFilename", "d");
        EXPECT_EQ(friendly->text(), "Mine");
        // Unchecking discards the typed name for the file name; checking again keeps that.
        Click(dialog, "chkUseFriendlyName");
        EXPECT_FALSE(friendly->isEnabled());
        EXPECT_EQ(friendly->text(), "/abcd");
        Click(dialog, "chkUseFriendlyName");
        EXPECT_EQ(friendly->text(), "/abcd");

        Click(dialog, "optNotifyStale");
        EXPECT_TRUE(minutes->isEnabled());
        // A click into a box selects all it holds, so typing replaces it.
        QTest::mouseClick(minutes, Qt::LeftButton);
        MessageAnswerer::Settle();
        EXPECT_EQ(minutes->selectedText(), "10");
        Type(dialog, "txtStaleMinutes", "5");
        Click(dialog, "optNotifyOnChange");
        EXPECT_FALSE(minutes->isEnabled());
        Click(dialog, "optNotifyStale");
        EXPECT_EQ(minutes->text(), "105");
        Click(dialog, "cmdCancel");
    });
}

TEST_F(MonitorFileDialog, TypedQuotesAndNonDigitsAreDroppedButPastedTextIsNot)
{
    const struct
    {
        const char* name;
        const char* box;
        bool paste;
        QString input, expected;
    } cases[] = {
        {"quote typed into the file name", "txtFilename", false, "\"/a b\".log\"", "/a b.log"},
        {"quote pasted into the file name", "txtFilename", true, "\"/a.log\"", "\"/a.log\""},
        {"quote typed into the friendly name", "txtFriendlyName", false, "say \"hi\"", "say \"hi\""},
        {"letters and signs typed into the minutes", "txtStaleMinutes", false, "1a-2.5 ", "125"},
        {"letters pasted into the minutes", "txtStaleMinutes", true, "7 min", "7 min"},
        {"Backspace still edits the minutes", "txtStaleMinutes", false, "17\b", "1"},
    };
    cMonitorFile file = MakeFile("x", "y", false, 25);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Run(&file, [&](QWidget* dialog) {
            Clear(dialog, c.box);
            c.paste ? Paste(dialog, c.box, c.input) : Type(dialog, c.box, c.input);
            EXPECT_EQ(Box(dialog, c.box)->text(), c.expected);
            Click(dialog, "cmdCancel");
        });
    }
}

TEST_F(MonitorFileDialog, OkRefusesInOrderAndLeavesTheFileAsItWas)
{
    // A switch whose text is nullptr stays off.
    const struct
    {
        const char* name;
        QString filename;
        const char* friendly;
        const char* minutes;
        QString message;
    } cases[] = {
        {"empty file name first", "", "", "", kNoFilename},
        {"blank file name", "   ", nullptr, nullptr, kNoFilename},
        {"line feed in the file name before the rest", "/a\nb", "", "", kLineBreak},
        {"blank friendly name before the minutes", "/a", "  ", "0", kNoFriendlyName},
        {"no minutes", "/a", nullptr, "", kNoMinutes},
        {"zero minutes", "/a", nullptr, "0", kNoMinutes},
        {"pasted words", "/a", nullptr, "ten", kNoMinutes},
        {"pasted negative", "/a", nullptr, "-5", kNoMinutes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cMonitorFile file = MakeFile("/before", "", false, 0);
        EXPECT_FALSE(Run(&file, [&](QWidget* dialog) {
            Box(dialog, "txtFilename")->setText(c.filename);
            if (c.friendly) {
                Click(dialog, "chkUseFriendlyName");
                Box(dialog, "txtFriendlyName")->setText(c.friendly);
            }
            if (c.minutes) {
                Click(dialog, "optNotifyStale");
                Box(dialog, "txtStaleMinutes")->setText(c.minutes);
            }
            // Enter in a box presses OK.
            const ShownMessage shown =
                m_answer.Answer([&] { QTest::keyClick(Box(dialog, "txtFilename"), Qt::Key_Return); });
            EXPECT_EQ(shown.text, c.message);
            EXPECT_EQ(shown.icon, QMessageBox::Warning);
            EXPECT_TRUE(dialog->isVisible());
            Click(dialog, "cmdCancel");
        }));
        EXPECT_EQ(Stored(file), Stored(MakeFile("/before", "", false, 0)));
    }
}

TEST_F(MonitorFileDialog, OkWritesTrimmedNamesTheAttachmentAndTheRule)
{
    const QString path = "/srv/in.csv";
    struct Case
    {
        const char* name;
        cMonitorFile start;
        std::vector<std::pair<const char*, QString>> edits;
        cMonitorFile expected;
    };
    // The minutes are the number the box starts with, rounded half to even.
    const auto minutes = [&](const char* text, qint32 expected) {
        return Case {text,
                     MakeFile(path, "", false, 0),
                     {{"optNotifyStale", ""}, {"txtStaleMinutes", text}},
                     MakeFile(path, "", false, expected)};
    };
    const Case cases[] = {
        {"everything set, names trimmed",
         MakeFile("", "", false, 0),
         {{"txtFilename", "  /srv/in.csv "},
          {"chkUseFriendlyName", ""},
          {"txtFriendlyName", "  Inbox feed  "},
          {"chkAttachFileToEmail", ""},
          {"optNotifyStale", ""},
          {"txtStaleMinutes", "90"}},
         MakeFile(path, "Inbox feed", true, 90)},
        {"friendly name unchecked empties it",
         MakeFile(path, "Old name", true, 0),
         {{"chkUseFriendlyName", ""}, {"chkAttachFileToEmail", ""}},
         MakeFile(path, "", false, 0)},
        {"change rule stores 0 whatever the minutes say",
         MakeFile(path, "", false, 25),
         {{"txtStaleMinutes", "x"}, {"optNotifyOnChange", ""}},
         MakeFile(path, "", false, 0)},
        minutes("2.5", 2),
        minutes("3.5", 4),
        minutes(" 12 min", 12),
        minutes("+7", 7),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cMonitorFile file = c.start;
        EXPECT_TRUE(Run(&file, [&](QWidget* dialog) {
            for (const auto& [name, value] : c.edits) {
                Edit(dialog, name, value);
            }
            EXPECT_EQ(m_answer.Answer([&] { Click(dialog, "cmdOK"); }).text, QString());
        }));
        EXPECT_EQ(Stored(file), Stored(c.expected));
    }
    // Enter in the minutes box is OK, not a key for the filter to drop.
    cMonitorFile file = MakeFile(path, "", false, 25);
    EXPECT_TRUE(Run(&file, [](QWidget* dialog) {
        Type(dialog, "txtStaleMinutes", "3");
        QTest::keyClick(Box(dialog, "txtStaleMinutes"), Qt::Key_Enter);
    }));
    EXPECT_EQ(file.StaleMins(), 253);
}

TEST_F(MonitorFileDialog, CancelEscapeAndTheCloseBoxLeaveTheFileUntouched)
{
    const std::pair<const char*, std::function<void(QWidget*)>> ways[] = {
        {"Cancel", [](QWidget* dialog) { Click(dialog, "cmdCancel"); }},
        {"Escape", [](QWidget* dialog) { QTest::keyClick(Box(dialog, "txtStaleMinutes"), Qt::Key_Escape); }},
        {"close box", [](QWidget* dialog) { dialog->close(); }},
    };
    cMonitorFile file = MakeFile("/srv/keep.log", "", false, 0);
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(Run(&file, [&](QWidget* dialog) {
            Type(dialog, "txtFilename", ".old");
            Click(dialog, "chkAttachFileToEmail");
            Click(dialog, "optNotifyStale");
            leave(dialog);
        }));
        EXPECT_EQ(Stored(file), Stored(MakeFile("/srv/keep.log", "", false, 0)));
    }
}

TEST_F(MonitorFileDialog, BrowseStartsFromTheBoxAndOnlyAChosenFileChangesIt)
{
    const QString folder = TestEnvironment::NewFolder("browse");
    const QString current = WatchedFile(folder, "current.log", NowSecs());
    const QString chosen = WatchedFile(folder, "chosen", NowSecs());
    const struct
    {
        const char* name;
        QString box, initialName, choose, result; // choose empty: the chooser is cancelled
    } cases[] = {
        {"empty box, cancelled", "", "*.*", "", ""},
        {"empty box, a file chosen", "", "*.*", chosen, chosen},
        {"a file in the box, cancelled", current, "current.log", "", current},
        {"a file in the box, another chosen", current, "current.log", chosen, chosen},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cMonitorFile file;
        file.SetRawFileName(c.box);
        Run(&file, [&](QWidget* dialog) {
            bool asked = false;
            QTimer::singleShot(0, [&] {
                auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                ASSERT_NE(chooser, nullptr);
                asked = true;
                EXPECT_EQ(Find<QLineEdit>(chooser, "fileNameEdit")->text(), c.initialName);
                if (!c.box.isEmpty()) {
                    EXPECT_EQ(chooser->directory().absolutePath(), folder);
                }
                chooser->selectFile(c.choose);
                c.choose.isEmpty() ? chooser->reject() : static_cast<QDialog*>(chooser)->accept();
            });
            Click(dialog, "cmdBrowse");
            EXPECT_TRUE(asked);
            EXPECT_EQ(Box(dialog, "txtFilename")->text(), c.result);
            // The disabled friendly-name box follows a chosen file too.
            EXPECT_EQ(Box(dialog, "txtFriendlyName")->text(), c.result);
            Click(dialog, "cmdCancel");
        });
    }
}

} // namespace
