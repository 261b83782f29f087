#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "model/cSettings.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"
#include "support/DebugLog.h"
#include "support/GeneralUtility.h"
#include "support/ProfileStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimeZone>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();

struct FileIdentity
{
    ino_t inode = 0;
    qint64 mtimeNs = 0;
    bool operator==(const FileIdentity&) const = default;
};

FileIdentity Identity(const QString& path)
{
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return {};
    }
    return {st.st_ino, static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

class ProfileSettings : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestEnvironment::NewFolder(QStringLiteral("watched"));
        m_name = QStringLiteral("P") + QString::number(++s_counter);
        m_path = ProfileFormat::ProfilePath(m_name);
    }
    QString Watched(int n, qint64 secondsAgo = 3600) const
    {
        const QString path = m_dir + QStringLiteral("/file") + QString::number(n) + QStringLiteral(".txt");
        TestEnvironment::WriteFile(path, "x");
        TestEnvironment::SetModified(path, kNow - secondsAgo);
        return path;
    }
    QString Text() const { return QString::fromUtf8(TestEnvironment::ReadFile(m_path)); }
    QString Key(const QString& section, const QString& key) const
    {
        return ConfigUtility::ReadIniString(section, key, QStringLiteral("<absent>"), m_path);
    }
    // Section headers in the order the file lists them.
    QStringList Sections() const
    {
        QStringList out;
        for (const QString& line : Text().split(QLatin1Char('\n'))) {
            if (line.startsWith(QLatin1Char('['))) {
                out << line.mid(1, line.indexOf(QLatin1Char(']')) - 1);
            }
        }
        return out;
    }
    cSettings WithFiles(int count)
    {
        cSettings s;
        s.ReadSettings(m_name);
        for (int i = 1; i <= count; ++i) {
            cMonitorFile f;
            f.SetRawFileName(Watched(i));
            if (i == 1) {
                f.SetFriendlyName(QStringLiteral("First"));
                f.SetStaleMins(15);
            }
            s.AddFile(&f);
        }
        return s;
    }

    static inline int s_counter = 0;
    QString m_dir, m_name, m_path;
    FixedClock m_clock {kNow * 1000};
};

} // namespace

TEST_F(ProfileSettings, MissingProfileReadsTheDefaults)
{
    cSettings s;
    ASSERT_TRUE(s.ReadSettings(m_name));
    EXPECT_EQ(s.PollInterval(), 30);
    EXPECT_TRUE(s.SMTPEnabled());
    EXPECT_EQ(s.NumberFiles(), 0);
    EXPECT_TRUE(s.SMTPServerAddress().isEmpty());
    EXPECT_EQ(s.MonitorFile(0), nullptr);
    EXPECT_EQ(s.MonitorFile(1), nullptr);
    EXPECT_TRUE(QFileInfo(m_path).absoluteDir().exists()); // the folder is made ready
    EXPECT_EQ(s.ProfilePath(),
              qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Brackwell/Utilities/Sentrel v1/Profiles/") +
                  m_name + QStringLiteral("/Sentrel.ini"));
}

TEST_F(ProfileSettings, WatchEventsIsOffUnlessTheProfileSaysSoAndOffIsNotWritten)
{
    cSettings s;
    ASSERT_TRUE(s.ReadSettings(m_name));
    EXPECT_FALSE(s.WatchEvents());
    s.SetWatchEvents(true);
    ASSERT_TRUE(s.WriteSettings());
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("WatchEvents")), QStringLiteral("1"));
    cSettings back;
    back.ReadSettings(m_name);
    EXPECT_TRUE(back.WatchEvents());
    back.SetWatchEvents(false);
    ASSERT_TRUE(back.WriteSettings());
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("WatchEvents")), QStringLiteral("<absent>"));

    // Hand-written values read as whole numbers, any but 0 meaning on.
    for (const auto& [text, on] : {std::pair {"7", true}, std::pair {"0", false}, std::pair {"yes", false}}) {
        ASSERT_TRUE(TestEnvironment::WriteFile(m_path, QByteArray("[General]\nWatchEvents=") + text + '\n'));
        cSettings hand;
        hand.ReadSettings(m_name);
        EXPECT_EQ(hand.WatchEvents(), on) << text;
    }
}

TEST_F(ProfileSettings, DefaultsAreLeftOutOfTheFile)
{
    cSettings s;
    s.ReadSettings(m_name);
    s.SetSMTPServerAddress(QStringLiteral("mail.example.com"));
    s.SetEmailFrom(QStringLiteral("sentrel@example.com"));
    ASSERT_TRUE(s.WriteSettings());
    EXPECT_EQ(Key(QStringLiteral("SMTPServer"), QStringLiteral("Enabled")), QStringLiteral("<absent>"));
    EXPECT_EQ(Key(QStringLiteral("SMTPServer"), QStringLiteral("LoginName")), QStringLiteral("<absent>"));
    EXPECT_EQ(Key(QStringLiteral("SMTPServer"), QStringLiteral("Password")), QStringLiteral("<absent>"));
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("PollInterval")), QStringLiteral("<absent>"));
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("NumberFiles")), QStringLiteral("<absent>"));
    EXPECT_EQ(Sections(), (QStringList {QStringLiteral("SMTPServer"), QStringLiteral("Email")}));

    s.SetSMTPEnabled(false);
    s.SetPollInterval(45);
    s.SetSMTPLoginName(QStringLiteral("ops"));
    s.SetSMTPPassword(QStringLiteral("hunter2"));
    ASSERT_TRUE(s.WriteSettings());
    EXPECT_EQ(Key(QStringLiteral("SMTPServer"), QStringLiteral("Enabled")), QStringLiteral("0"));
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("PollInterval")), QStringLiteral("45"));
    EXPECT_FALSE(Text().contains(QStringLiteral("hunter2")));

    cSettings back;
    back.ReadSettings(m_name);
    EXPECT_FALSE(back.SMTPEnabled());
    EXPECT_EQ(back.PollInterval(), 45);
    EXPECT_EQ(back.SMTPLoginName(), QStringLiteral("ops"));
    EXPECT_EQ(back.SMTPPassword(), QStringLiteral("hunter2"));
    EXPECT_EQ(back.SMTPServerAddress(), QStringLiteral("mail.example.com"));
    EXPECT_EQ(back.EmailFrom(), QStringLiteral("sentrel@example.com"));
}

TEST_F(ProfileSettings, SectionsOfANewFileInWritingOrder)
{
    // Adding files already writes the profile, so the whole profile goes to a
    // profile name that has no file yet.
    cSettings s = WithFiles(2);
    s.SetEmailTo(QStringLiteral("ops@example.com"));
    s.SetSMTPEnabled(false);
    m_name += QStringLiteral("-copy");
    m_path = ProfileFormat::ProfilePath(m_name);
    ASSERT_FALSE(QFile::exists(m_path));
    ASSERT_TRUE(s.WriteSettings(m_name));
    EXPECT_EQ(Sections(),
              (QStringList {QStringLiteral("SMTPServer"),
                            QStringLiteral("Email"),
                            QStringLiteral("General"),
                            QStringLiteral("File1"),
                            QStringLiteral("File2")}));
    EXPECT_EQ(QFileInfo(m_path).permissions() &
                  (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
              QFileDevice::Permissions());
}

TEST_F(ProfileSettings, AddedFileIsCheckedAndMarkedNotified)
{
    cSettings s = WithFiles(1);
    ASSERT_EQ(s.NumberFiles(), 1);
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("NumberFiles")), QStringLiteral("1"));
    EXPECT_EQ(Key(QStringLiteral("File1"), QStringLiteral("BeenNotifed")), QStringLiteral("1"));
    EXPECT_EQ(Key(QStringLiteral("File1"), QStringLiteral("FriendlyName")), QStringLiteral("First"));
    EXPECT_NE(Key(QStringLiteral("File1"), QStringLiteral("LastModified")), QStringLiteral("<absent>"));
    EXPECT_EQ(s.AddFile(nullptr), 0);
}

TEST_F(ProfileSettings, RemovingTheLastFileLeavesItsSection)
{
    cSettings s = WithFiles(3);
    ASSERT_TRUE(s.RemoveFile(3));
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("NumberFiles")), QStringLiteral("2"));
    EXPECT_NE(Key(QStringLiteral("File3"), QStringLiteral("FileName")), QStringLiteral("<absent>"));
    cSettings back;
    back.ReadSettings(m_name);
    EXPECT_EQ(back.NumberFiles(), 2);
    EXPECT_FALSE(s.RemoveFile(0));
    EXPECT_FALSE(s.RemoveFile(3));
}

TEST_F(ProfileSettings, RemovingTheFirstFileMovesTheOthersUp)
{
    cSettings s = WithFiles(3);
    const QString second = s.MonitorFile(2)->RawFileName();
    const QString third = s.MonitorFile(3)->RawFileName();
    ASSERT_TRUE(s.RemoveFile(1));
    EXPECT_EQ(Key(QStringLiteral("File1"), QStringLiteral("FileName")), second);
    EXPECT_EQ(Key(QStringLiteral("File2"), QStringLiteral("FileName")), third);
    // The former occupant's friendly name and rule are gone, not left over.
    EXPECT_EQ(Key(QStringLiteral("File1"), QStringLiteral("FriendlyName")), QStringLiteral("<absent>"));
    EXPECT_EQ(Key(QStringLiteral("File1"), QStringLiteral("StaleMins")), QStringLiteral("<absent>"));
}

TEST_F(ProfileSettings, ABatchSavesTheReplacedListOnceWhenTheOutermostEnds)
{
    cSettings s = WithFiles(3);
    std::vector<cMonitorFile> reversed;
    for (qint16 n = 3; n >= 1; --n) {
        reversed.push_back(*s.MonitorFile(n));
    }
    const FileIdentity before = Identity(m_path);
    const quint64 replacements = s.Store()->Replacements();
    {
        const cSettings::WriteBatch outer(s);
        {
            const cSettings::WriteBatch inner(s);
            for (qint16 n = 3; n >= 1; --n) {
                ASSERT_TRUE(s.RemoveFile(n));
            }
        }
        for (const cMonitorFile& file : reversed) {
            ASSERT_EQ(s.AddFile(&file), qint16(&file - reversed.data() + 1));
        }
        EXPECT_EQ(Identity(m_path), before);
        EXPECT_EQ(s.Store()->Replacements(), replacements);
    }
    EXPECT_EQ(s.Store()->Replacements(), replacements + 1);

    // What the calls without a batch leave on disk, one save each, in a second profile.
    const QString first = m_name;
    m_name += QStringLiteral("-unbatched");
    m_path = ProfileFormat::ProfilePath(m_name);
    cSettings one = WithFiles(3);
    for (qint16 n = 3; n >= 1; --n) {
        one.RemoveFile(n);
    }
    for (const cMonitorFile& file : reversed) {
        one.AddFile(&file);
    }
    cSettings batched;
    cSettings unbatched;
    ASSERT_TRUE(batched.ReadSettings(first));
    ASSERT_TRUE(unbatched.ReadSettings(m_name));
    ASSERT_EQ(batched.NumberFiles(), 3);
    ASSERT_EQ(unbatched.NumberFiles(), 3);
    for (qint16 n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        const cMonitorFile& a = *batched.MonitorFile(n);
        const cMonitorFile& b = *unbatched.MonitorFile(n);
        EXPECT_EQ(a.RawFileName(), b.RawFileName());
        EXPECT_EQ(a.FriendlyName(), b.FriendlyName());
        EXPECT_EQ(a.StaleMins(), b.StaleMins());
        EXPECT_EQ(a.BeenNotified(), b.BeenNotified());
    }
    EXPECT_EQ(batched.MonitorFile(3)->FriendlyName(), QStringLiteral("First"));

    // A batch in which the list did not change saves nothing.
    const quint64 settled = s.Store()->Replacements();
    {
        const cSettings::WriteBatch idle(s);
    }
    EXPECT_EQ(s.Store()->Replacements(), settled);
}

TEST_F(ProfileSettings, HandWrittenFileCounts)
{
    struct Case
    {
        const char* name;
        const char* numberFiles;
        qint16 expected;
    } const cases[] = {
        {"negative", "-3", 0},
        {"not a number", "many", 0},
        {"leading digits", "2 files", 2},
        {"more sections than counted", "1", 1},
        {"counted but missing", "4", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestEnvironment::WriteFile(m_path,
                                   QByteArray("[General]\nNumberFiles=") + c.numberFiles + "\n[File1]\nFileName=" +
                                       Watched(1).toUtf8() + "\n[File2]\nFileName=" + Watched(2).toUtf8() + "\n");
        cSettings s;
        ASSERT_TRUE(s.ReadSettings(m_name));
        EXPECT_EQ(s.NumberFiles(), c.expected);
        if (c.expected == 4) {
            EXPECT_EQ(s.MonitorFile(3)->Status(), QStringLiteral("No File"));
            EXPECT_EQ(s.MonitorFile(2)->Status(), QStringLiteral("OK"));
        }
    }
}

TEST_F(ProfileSettings, HugeFileCountIsClampedAndLogged)
{
    SetDebugLevel(5);
    TestEnvironment::WriteFile(m_path, "[General]\nNumberFiles=2000000000\n");
    cSettings s;
    ASSERT_TRUE(s.ReadSettings(m_name));
    EXPECT_EQ(s.NumberFiles(), cSettings::MaxFiles);
    EXPECT_EQ(s.MonitorFile(cSettings::MaxFiles)->Status(), QStringLiteral("No File"));
    EXPECT_TRUE(TestEnvironment::ReadFile(DebugLogFilePath()).contains("NumberFiles=2000000000"));
    ResetDebugLogState();
}

TEST_F(ProfileSettings, HandEditedProfileKeepsWhatItDoesNotKnow)
{
    const QByteArray original =
        TestEnvironment::ReadFile(TestEnvironment::DataFolder() + QStringLiteral("/hand-edited.ini"));
    ASSERT_FALSE(original.isEmpty());
    TestEnvironment::WriteFile(m_path, original);
    cSettings s;
    ASSERT_TRUE(s.ReadSettings(m_name));
    EXPECT_EQ(s.SMTPServerAddress(), QStringLiteral("smtp.example.org"));
    EXPECT_EQ(s.EmailTo(), QStringLiteral("\"Ops\" <ops@example.org>; oncall@example.org"));
    EXPECT_EQ(s.PollInterval(), 120);
    ASSERT_EQ(s.NumberFiles(), 2);
    EXPECT_EQ(s.MonitorFile(1)->FriendlyName(), QStringLiteral("Nightly export"));
    EXPECT_EQ(s.MonitorFile(2)->StaleMins(), 90);
    s.SetPollInterval(60);
    ASSERT_TRUE(s.WriteSettings());
    const QString text = Text();
    EXPECT_TRUE(text.contains(QStringLiteral("; Edited by hand")));
    EXPECT_TRUE(text.contains(QStringLiteral("[Local notes]")));
    EXPECT_TRUE(text.contains(QStringLiteral("this line has no equals sign")));
    EXPECT_TRUE(text.contains(QStringLiteral("pollinterval=60")));
}

TEST_F(ProfileSettings, UnchangedCycleWritesNothing)
{
    cSettings s = WithFiles(50);
    const FileIdentity before = Identity(m_path);
    const quint64 replacements = s.Store()->Replacements();
    for (qint16 i = 1; i <= s.NumberFiles(); ++i) {
        s.MonitorFile(i)->CheckFile();
    }
    EXPECT_EQ(s.Store()->Replacements(), replacements);
    EXPECT_EQ(Identity(m_path), before);
}

TEST_F(ProfileSettings, NotifiedStaleFilesWriteOnlyOnce)
{
    cSettings s;
    s.ReadSettings(m_name);
    for (int i = 1; i <= 20; ++i) {
        cMonitorFile f;
        f.SetRawFileName(Watched(i, 86400));
        f.SetStaleMins(5);
        s.AddFile(&f); // stale already: marked notified
    }
    cSettings loaded;
    loaded.ReadSettings(m_name); // saves NotifyNeeded=1 for every file, in one replacement
    const quint64 replacements = loaded.Store()->Replacements();
    const FileIdentity before = Identity(m_path);
    for (int cycle = 0; cycle < 3; ++cycle) {
        for (qint16 i = 1; i <= loaded.NumberFiles(); ++i) {
            ASSERT_TRUE(loaded.MonitorFile(i)->CheckFile());
            ASSERT_TRUE(loaded.MonitorFile(i)->NotifyNeeded());
            ASSERT_TRUE(loaded.MonitorFile(i)->BeenNotified());
        }
    }
    EXPECT_EQ(loaded.Store()->Replacements(), replacements);
    EXPECT_EQ(Identity(m_path), before);
}

TEST_F(ProfileSettings, ReadingSavesEveryChangeInOneReplacement)
{
    cSettings s = WithFiles(10);
    for (int i = 1; i <= 10; ++i) {
        Watched(i, 10); // all changed since they were added
    }
    cSettings loaded;
    loaded.ReadSettings(m_name);
    EXPECT_EQ(loaded.Store()->Replacements(), 1u);
    for (qint16 i = 1; i <= 10; ++i) {
        EXPECT_EQ(loaded.MonitorFile(i)->Status(), i == 1 ? QStringLiteral("OK") : QStringLiteral("Changed!"));
    }
}

TEST_F(ProfileSettings, SavingAgainRestoresWhatOthersChangedInBetween)
{
    struct Case
    {
        const char* name;
        // Through the settings' own store, or through the file.
        std::function<void(ProfileStore& store)> interfere;
    };
    const Case cases[] = {
        {"hand edit of the file",
         [](ProfileStore& store) {
             QByteArray bytes = TestEnvironment::ReadFile(store.Path());
             bytes.replace("FriendlyName=Second", "FriendlyName=Edited by hand");
             ASSERT_TRUE(TestEnvironment::WriteFile(store.Path(), bytes));
         }},
        {"key written in this process",
         [](ProfileStore& store) {
             ASSERT_TRUE(
                 store.WriteString(QStringLiteral("File2"), QStringLiteral("FriendlyName"), QStringLiteral("Other")));
         }},
        {"key deleted in this process",
         [](ProfileStore& store) {
             ASSERT_TRUE(store.WriteString(QStringLiteral("File2"), QStringLiteral("FriendlyName"), std::nullopt));
         }},
        {"section emptied and filled again",
         [](ProfileStore& store) {
             for (const char* key : {"FileName", "FriendlyName", "StaleMins", "LastModified"}) {
                 ASSERT_TRUE(store.WriteString(QStringLiteral("File2"), QString::fromLatin1(key), std::nullopt));
             }
             ASSERT_TRUE(
                 store.WriteString(QStringLiteral("File2"), QStringLiteral("FriendlyName"), QStringLiteral("Second")));
         }},
        {"key written through another store",
         [](ProfileStore& store) {
             ASSERT_TRUE(ConfigUtility::WriteIniString(
                 QStringLiteral("File2"), QStringLiteral("FriendlyName"), QStringLiteral("Other"), store.Path()));
         }},
        {"file removed", [](ProfileStore& store) { ASSERT_TRUE(QFile::remove(store.Path())); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        cSettings s = WithFiles(3);
        s.MonitorFile(2)->SetFriendlyName(QStringLiteral("Second"));
        ASSERT_TRUE(s.WriteSettings());
        const QString saved = Text();
        const QStringList keys = {QStringLiteral("FileName"),
                                  QStringLiteral("FriendlyName"),
                                  QStringLiteral("StaleMins"),
                                  QStringLiteral("LastModified")};
        QStringList expected;
        for (const QString& key : keys) {
            expected << Key(QStringLiteral("File2"), key);
        }
        c.interfere(*s.Store());
        ASSERT_NE(Text(), saved);
        ASSERT_TRUE(s.WriteSettings());
        QStringList found;
        for (const QString& key : keys) {
            found << Key(QStringLiteral("File2"), key);
        }
        EXPECT_EQ(found, expected);
    }
}

TEST_F(ProfileSettings, FailedSaveIsRepeatedByTheNextOne)
{
    cSettings s = WithFiles(3);
    const QString before = Text();
    // A folder where the profile should be: the replacement cannot land.
    ASSERT_TRUE(QFile::remove(m_path));
    ASSERT_TRUE(QDir().mkdir(m_path));
    s.MonitorFile(2)->SetFriendlyName(QStringLiteral("Second"));
    (void)s.WriteSettings();
    ASSERT_TRUE(QFileInfo(m_path).isDir());
    ASSERT_TRUE(QDir().rmdir(m_path));
    ASSERT_TRUE(TestEnvironment::WriteFile(m_path, before.toUtf8()));
    ASSERT_TRUE(s.WriteSettings());
    EXPECT_EQ(Key(QStringLiteral("File2"), QStringLiteral("FriendlyName")), QStringLiteral("Second"));
    EXPECT_EQ(Key(QStringLiteral("File1"), QStringLiteral("FriendlyName")), QStringLiteral("First"));
}

TEST_F(ProfileSettings, NamesThatCannotBeUsed)
{
    cSettings s;
    EXPECT_FALSE(s.ReadSettings(QString()));
    EXPECT_FALSE(s.WriteSettings());
    EXPECT_FALSE(s.DisplaySettings()); // no dialog installed
    // The profile's folder cannot be made: a file stands where it should be.
    const QString blocked = QStringLiteral("Blocked");
    const QString folder = QFileInfo(ProfileFormat::ProfilePath(blocked)).absolutePath();
    QDir().mkpath(QFileInfo(folder).absolutePath());
    ASSERT_TRUE(TestEnvironment::WriteFile(folder, "in the way"));
    EXPECT_FALSE(s.WriteSettings(blocked));
    EXPECT_TRUE(s.ReadSettings(blocked));
    EXPECT_EQ(s.PollInterval(), 30);
}

TEST_F(ProfileSettings, DialogHookDecidesWhetherTheProfileIsWritten)
{
    cSettings s;
    s.ReadSettings(m_name);
    cSettings::SetDialogHook([](cSettings& edited) {
        edited.SetPollInterval(77);
        return true;
    });
    EXPECT_TRUE(s.DisplaySettings());
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("PollInterval")), QStringLiteral("77"));
    cSettings::SetDialogHook([](cSettings&) { return false; });
    s.SetPollInterval(99);
    EXPECT_FALSE(s.DisplaySettings());
    EXPECT_EQ(Key(QStringLiteral("General"), QStringLiteral("PollInterval")), QStringLiteral("77"));
    cSettings::SetDialogHook({});
}
