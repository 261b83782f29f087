// The monitored-file dialog with real widgets: the friendly-name and rule switches, the typed-key filters, the OK
// checks, what OK writes, Cancel, Escape and the close box, and browsing for a file.
#include "DialogTestSupport.h"
#include "dialogs/frmMonitorFile.h"
#include "model/cMonitorFile.h"
#include "support/Clock.h"

#include <QFileDialog>

using namespace AppTest;
using namespace DialogTest;

namespace {

const QString kNoFilename = "You must enter the Filename of the file you want to Monitor.";
const QString kLineBreak =
    "The Filename may not hold a line break (carriage return or line feed): the profile cannot store it.";
const QString kNoMinutes = "You must enter the number of minutes that a file must have remained unchanged.";
const QString kBadRemind = "You must enter how often to remind, a whole number of minutes from 0 (never) to 35791394.";

cMonitorFile MakeFile(const QString& name,
                      const QString& friendly,
                      bool attach,
                      qint32 staleMins,
                      bool missing = false,
                      bool recovered = false,
                      qint32 remindMins = 0)
{
    cMonitorFile file;
    file.SetRawFileName(name);
    file.SetFriendlyName(friendly);
    file.SetAttachFileToEmail(attach);
    file.SetStaleMins(staleMins);
    file.SetNotifyMissing(missing);
    file.SetNotifyRecovered(recovered);
    file.SetRemindMins(remindMins);
    file.SetStatus("Changed!");
    return file;
}

// What a file holds, as one value to compare.
auto Stored(const cMonitorFile& f)
{
    return std::tuple(f.RawFileName(),
                      f.FriendlyName(),
                      f.AttachFileToEmail(),
                      f.StaleMins(),
                      f.Status(),
                      f.NotifyMissing(),
                      f.NotifyRecovered(),
                      f.RemindMins());
}

class MonitorFileDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
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

TEST_F(MonitorFileDialog, BoxesFollowTheSwitchesAndTypedQuotesAndLettersAreDropped)
{
    cMonitorFile file;
    Run(&file, [](QWidget* dialog) {
        QLineEdit* friendly = Box(dialog, "txtFriendlyName");
        QLineEdit* minutes = Box(dialog, "txtStaleMinutes");
        // A new file: the focus in the file name, the friendly name and the minutes off.
        EXPECT_EQ(QApplication::focusWidget(), Box(dialog, "txtFilename"));
        EXPECT_FALSE(friendly->isEnabled());
        EXPECT_FALSE(minutes->isEnabled());
        // The unchecked friendly name shows the file name from its start.
        Type(dialog, "txtFilename", "/\"abc\"");
        EXPECT_EQ(friendly->text(), "/abc");
        EXPECT_EQ(friendly->cursorPosition(), 0);
        Click(dialog, "chkUseFriendlyName");
        Edit(dialog, "txtFriendlyName", "");
        Type(dialog, "txtFriendlyName", "\"Mine\"");
        Type(dialog, "txtFilename", "d");
        EXPECT_EQ(friendly->text(), "\"Mine\"");
        // Unchecking discards the typed name for the file name.
        Click(dialog, "chkUseFriendlyName");
        EXPECT_FALSE(friendly->isEnabled());
        EXPECT_EQ(friendly->text(), "/abcd");

        Click(dialog, "optNotifyStale");
        // A click into a box selects all it holds, so typing replaces it.
        QTest::mouseClick(minutes, Qt::LeftButton);
        QApplication::processEvents();
        EXPECT_EQ(minutes->selectedText(), "10");
        Type(dialog, "txtStaleMinutes", "a-5 ");
        Click(dialog, "optNotifyOnChange");
        EXPECT_FALSE(minutes->isEnabled());
        Click(dialog, "optNotifyStale");
        EXPECT_EQ(minutes->text(), "105");
        Type(dialog, "txtRemindMins", "a-5 ");
        EXPECT_EQ(Box(dialog, "txtRemindMins")->text(), "05");
        Click(dialog, "cmdCancel");
    });
}

TEST_F(MonitorFileDialog, OkRefusesInOrderAndCancelEscapeOrTheCloseBoxLeaveTheFile)
{
    // The file name, the friendly name (nullptr: left off), the minutes (nullptr: on change) and the reminder.
    const std::tuple<QString, const char*, const char*, QString, QString> cases[] = {
        {"", "", "", kNoFilename, "x"},
        {"   ", nullptr, nullptr, kNoFilename, ""},
        {"/a\nb", "", "", kLineBreak, ""},
        {"/a", "  ", "0", "You must enter the 'Friendly Name' for the file you want to Monitor.", ""},
        {"/a", nullptr, "", kNoMinutes, ""},
        {"/a", nullptr, "0", kNoMinutes, "-1"},
        {"/a", nullptr, "ten", kNoMinutes, ""},
        {"/a", nullptr, "-5", kNoMinutes, ""},
        {"/a", nullptr, nullptr, kBadRemind, "-1"},
        {"/a", nullptr, nullptr, kBadRemind, "35791395"},
        {"/a", nullptr, nullptr, kBadRemind, "1.5"},
    };
    const std::function<void(QWidget*)> leave[] = {
        [](QWidget* dialog) { Click(dialog, "cmdCancel"); },
        [](QWidget* dialog) { QTest::keyClick(Box(dialog, "txtFilename"), Qt::Key_Escape); },
        [](QWidget* dialog) { dialog->close(); },
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(row);
        cMonitorFile file = MakeFile("/before", "", false, 0);
        EXPECT_FALSE(Run(&file, [&](QWidget* dialog) {
            const auto& [filename, friendly, minutes, message, remind] = c;
            Edit(dialog, "txtFilename", filename);
            Edit(dialog, "txtRemindMins", remind);
            if (friendly) {
                Edit(dialog, "chkUseFriendlyName");
                Edit(dialog, "txtFriendlyName", friendly);
            }
            if (minutes) {
                Edit(dialog, "optNotifyStale");
                Edit(dialog, "txtStaleMinutes", minutes);
            }
            // Enter in a box presses OK.
            const ShownMessage shown =
                m_answer.Answer([&] { QTest::keyClick(Box(dialog, "txtFilename"), Qt::Key_Return); });
            EXPECT_EQ(shown.text, message);
            EXPECT_EQ(shown.icon, QMessageBox::Warning);
            // A refused reminder takes the focus, to be typed again.
            EXPECT_EQ(dialog->focusWidget() == Box(dialog, "txtRemindMins"), message == kBadRemind);
            // Then Cancel, Escape and the close box in turn.
            leave[row++ % 3](dialog);
        }));
        EXPECT_EQ(Stored(file), Stored(MakeFile("/before", "", false, 0)));
    }
}

TEST_F(MonitorFileDialog, UnderTheNameItShowsWhatItStandsForNowAsItIsTyped)
{
    const FixedClock clock(NowMSecs());
    const QString folder = TestEnvironment::NewFolder("preview");
    WatchedFile(folder, "app-2026-12-04.log", NowSecs());
    // What is typed, and how the line under it ends; a long folder may be shortened in its middle.
    const std::pair<QString, QString> cases[] = {{folder + "/app-#yyyy-mm-dd#.log", "/app-2026-12-04.log"},
                                                 {folder + "/#yyyy#.log", "/2026.log  (does not exist yet)"},
                                                 {"", ""}};
    cMonitorFile file;
    Run(&file, [&](QWidget* dialog) {
        for (const auto& [typed, end] : cases) {
            Box(dialog, "txtFilename")->clear();
            Type(dialog, "txtFilename", typed);
            const QString shown = Find<QLabel>(dialog, "lblFilenamePreview")->text();
            EXPECT_TRUE(typed.isEmpty() ? shown.isEmpty() : shown.startsWith("Watches now: /") && shown.endsWith(end))
                << typed.toStdString() << " -> " << shown.toStdString();
        }
        Click(dialog, "cmdCancel");
    });
}

TEST_F(MonitorFileDialog, OkWritesTrimmedNamesTheAttachmentAndTheRule)
{
    const QString path = "/srv/in.csv";
    const cMonitorFile stale = MakeFile(path, "", false, 25);
    const struct
    {
        const char* name;
        cMonitorFile start;
        std::vector<std::pair<const char*, QString>> edits;
        cMonitorFile expected;
    } cases[] = {
        // Unedited or edited, what the dialog opened with comes back from the boxes it showed it in.
        {"attached, on change, alerts, unedited",
         MakeFile(path, "", true, 0, true, false, 35791394),
         {},
         MakeFile(path, "", true, 0, true, false, 35791394)},
        {"alerts switched and the reminder emptied",
         MakeFile(path, "", false, 0, false, true, 5),
         {{"chkNotifyMissing", ""}, {"chkNotifyRecovered", ""}, {"txtRemindMins", ""}},
         MakeFile(path, "", false, 0, true, false, 0)},
        {"reminder trimmed", stale, {{"txtRemindMins", " 60 "}}, MakeFile(path, "", false, 25, false, false, 60)},
        {"stale with a friendly name, both edited",
         MakeFile(path, "App log", false, 25),
         {{"txtFriendlyName", "App log 2"}, {"txtStaleMinutes", "30"}},
         MakeFile(path, "App log 2", false, 30)},
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
         stale,
         {{"txtStaleMinutes", "x"}, {"optNotifyOnChange", ""}},
         MakeFile(path, "", false, 0)},
        // The minutes are the number the box starts with, rounded half to even.
        {"2.5", stale, {{"txtStaleMinutes", "2.5"}}, MakeFile(path, "", false, 2)},
        {"3.5", stale, {{"txtStaleMinutes", "3.5"}}, MakeFile(path, "", false, 4)},
        {" 12 min", stale, {{"txtStaleMinutes", " 12 min"}}, MakeFile(path, "", false, 12)},
        {"+7", stale, {{"txtStaleMinutes", "+7"}}, MakeFile(path, "", false, 7)},
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
    // Backspace and Enter are no keys for the minutes' filter to drop: Enter is OK.
    cMonitorFile file = stale;
    EXPECT_TRUE(Run(&file, [](QWidget* dialog) {
        Type(dialog, "txtStaleMinutes", "37\b");
        QTest::keyClick(Box(dialog, "txtStaleMinutes"), Qt::Key_Enter);
    }));
    EXPECT_EQ(file.StaleMins(), 253);
}

TEST_F(MonitorFileDialog, BrowseStartsFromTheBoxAndOnlyAChosenFileChangesIt)
{
    const QString folder = TestEnvironment::NewFolder("browse");
    const QString current = WatchedFile(folder, "current.log", NowSecs());
    const QString chosen = WatchedFile(folder, "chosen", NowSecs());
    const struct
    {
        QString box, initialName, choose, result; // initialName: the chooser's name field; choose empty: cancelled
    } cases[] = {
        {"", "*.*", chosen, chosen}, {current, "current.log", "", current}, {current, "current.log", chosen, chosen}};
    for (const auto& c : cases) {
        SCOPED_TRACE((c.box + " " + c.choose).toStdString());
        cMonitorFile file;
        file.SetRawFileName(c.box);
        Run(&file, [&](QWidget* dialog) {
            QTimer::singleShot(0, [&] {
                auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                ASSERT_NE(chooser, nullptr);
                EXPECT_EQ(Find<QLineEdit>(chooser, "fileNameEdit")->text(), c.initialName);
                if (!c.box.isEmpty()) {
                    EXPECT_EQ(chooser->directory().absolutePath(), folder);
                }
                chooser->selectFile(c.choose);
                c.choose.isEmpty() ? chooser->reject() : static_cast<QDialog*>(chooser)->accept();
            });
            Click(dialog, "cmdBrowse");
            EXPECT_EQ(Box(dialog, "txtFilename")->text(), c.result);
            // The disabled friendly-name box follows a chosen file too.
            EXPECT_EQ(Box(dialog, "txtFriendlyName")->text(), c.result);
            Click(dialog, "cmdCancel");
        });
    }
}

} // namespace
