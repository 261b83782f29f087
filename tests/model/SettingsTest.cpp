#include "TestEnvironment.h"
#include "model/ProfileFormat.h"
#include "model/cSettings.h"
#include "support/Clock.h"
#include "support/ConfigUtility.h"
#include "support/ProfileStore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimeZone>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const qint64 kNow = QDateTime(QDate(2026, 12, 4), QTime(10, 0, 0), QTimeZone("Europe/Berlin")).toSecsSinceEpoch();

// Inode and change time: any write or replacement of the file moves one of them.
std::pair<ino_t, qint64> identity(const QString& path)
{
    struct stat st = {};
    (void)::stat(QFile::encodeName(path).constData(), &st);
    return {st.st_ino, qint64(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

class ProfileSettings : public ::testing::Test
{
protected:
    void SetUp() override { m_name = u"P"_s + QString::number(++s_counter); }
    QString Path() const { return ProfileFormat::ProfilePath(m_name); }
    // A watched file, last modified some seconds before now.
    QString Watched(int n, qint64 secondsAgo = 3600) const
    {
        const QString path = m_dir + u"/file%1.txt"_s.arg(n);
        TestEnvironment::WriteFile(path, "x");
        TestEnvironment::SetModified(path, kNow - secondsAgo);
        return path;
    }
    QString Text() const { return QString::fromUtf8(TestEnvironment::ReadFile(Path())); }
    QString Key(const char* s, const char* k) const { return ConfigUtility::ReadIniString(s, k, "<absent>", Path()); }
    // The profile with files added, the first with a friendly name and the stale rule.
    cSettings WithFiles(int count, qint64 secondsAgo = 3600)
    {
        cSettings s;
        s.ReadSettings(m_name);
        for (int i = 1; i <= count; ++i) {
            cMonitorFile f;
            f.SetRawFileName(Watched(i, secondsAgo));
            f.SetFriendlyName(i == 1 ? u"First"_s : QString());
            f.SetStaleMins(i == 1 ? 15 : 0);
            s.AddFile(&f);
        }
        return s;
    }

    static inline int s_counter = 0;
    QString m_dir = TestEnvironment::NewFolder(u"watched"_s);
    QString m_name;
    FixedClock m_clock {kNow * 1000};
};

} // namespace

TEST_F(ProfileSettings, MissingProfileReadsTheDefaults)
{
    cSettings s;
    ASSERT_TRUE(s.ReadSettings(m_name));
    EXPECT_EQ(s.PollInterval(), 30);
    EXPECT_TRUE(s.SMTPEnabled());
    EXPECT_FALSE(s.WatchEvents());
    EXPECT_TRUE(QFileInfo(Path()).absoluteDir().exists()); // the folder is made ready
    EXPECT_EQ(s.ProfilePath(),
              qEnvironmentVariable("XDG_DATA_HOME") + u"/Brackwell/Utilities/Sentrel v1/Profiles/"_s + m_name +
                  u"/Sentrel.ini"_s);
}

TEST_F(ProfileSettings, DefaultsAreLeftOutOfTheFileAndTheRestReadsBack)
{
    cSettings s;
    s.ReadSettings(m_name);
    s.SetSMTPServerAddress(u"mail.example.com"_s);
    s.SetEmailFrom(u"sentrel@example.com"_s);
    ASSERT_TRUE(s.WriteSettings());
    EXPECT_EQ(Text(), u"[SMTPServer]\nAddress=mail.example.com\n\n[Email]\nFrom=sentrel@example.com\n"_s);

    // Long enough to wrap the secret's key, and beyond ASCII.
    const QString password = u"P@ss w0rd!~ ünïcødé-€ 0123456789"_s;
    s.SetSMTPEnabled(false);
    s.SetPollInterval(45);
    s.SetWatchEvents(true);
    s.SetSMTPLoginName(u"ops"_s);
    s.SetSMTPPassword(password);
    ASSERT_TRUE(s.WriteSettings());
    EXPECT_FALSE(Text().contains(u"P@ss"_s));
    cSettings back;
    back.ReadSettings(m_name);
    EXPECT_FALSE(back.SMTPEnabled());
    EXPECT_EQ(back.PollInterval(), 45);
    EXPECT_TRUE(back.WatchEvents());
    EXPECT_EQ(back.SMTPLoginName(), u"ops"_s);
    EXPECT_EQ(back.SMTPPassword(), password);
    EXPECT_EQ(back.SMTPServerAddress(), u"mail.example.com"_s);
    back.SetWatchEvents(false);
    ASSERT_TRUE(back.WriteSettings());
    EXPECT_EQ(Key("General", "WatchEvents"), u"<absent>"_s);
}

TEST_F(ProfileSettings, SectionsOfANewFileInWritingOrder)
{
    // Adding files already writes the profile, so the whole profile goes to a profile name that has no file yet.
    cSettings s = WithFiles(2);
    s.SetEmailTo(u"ops@example.com"_s);
    s.SetSMTPEnabled(false);
    m_name += u"-copy"_s;
    ASSERT_TRUE(s.WriteSettings(m_name));
    EXPECT_EQ(Text().split(u'\n').filter(QRegularExpression(u"^\\["_s)),
              (QStringList {"[SMTPServer]", "[Email]", "[General]", "[File1]", "[File2]"}));
}

TEST_F(ProfileSettings, RemovingAFileMovesTheOthersUp)
{
    cSettings s = WithFiles(3);
    const QString second = s.MonitorFile(2)->RawFileName();
    const QString third = s.MonitorFile(3)->RawFileName();
    EXPECT_FALSE(s.RemoveFile(0));
    EXPECT_FALSE(s.RemoveFile(4));
    ASSERT_TRUE(s.RemoveFile(1));
    EXPECT_EQ(Key("General", "NumberFiles"), u"2"_s);
    EXPECT_EQ(Key("File1", "FileName"), second);
    EXPECT_EQ(Key("File2", "FileName"), third);
    // The former occupant's friendly name and rule are gone, not left over.
    EXPECT_EQ(Key("File1", "FriendlyName"), u"<absent>"_s);
    EXPECT_EQ(Key("File1", "StaleMins"), u"<absent>"_s);
}

TEST_F(ProfileSettings, ABatchSavesTheReplacedListOnceWhenTheOutermostEnds)
{
    cSettings s = WithFiles(3);
    const auto before = identity(Path());
    const quint64 replacements = s.Store()->Replacements();
    {
        const cSettings::WriteBatch outer(s);
        {
            // The list replaced by its reverse.
            const cSettings::WriteBatch inner(s);
            std::vector<cMonitorFile> reversed;
            for (qint16 n = 3; n >= 1; --n) {
                reversed.push_back(*s.MonitorFile(n));
                ASSERT_TRUE(s.RemoveFile(n));
            }
            for (const cMonitorFile& file : reversed) {
                s.AddFile(&file);
            }
        }
        EXPECT_EQ(identity(Path()), before);
    }
    EXPECT_EQ(s.Store()->Replacements(), replacements + 1);
    EXPECT_EQ(Key("File1", "FileName"), m_dir + u"/file3.txt"_s);
    EXPECT_EQ(Key("File1", "FriendlyName"), u"<absent>"_s);
    EXPECT_EQ(Key("File3", "FriendlyName"), u"First"_s);
    // A batch in which the list did not change saves nothing.
    {
        const cSettings::WriteBatch idle(s);
    }
    EXPECT_EQ(s.Store()->Replacements(), replacements + 1);
}

TEST_F(ProfileSettings, HandWrittenFileCounts)
{
    // NumberFiles, and how many files it gives with File1 and File2 present.
    for (const auto& [numberFiles, expected] : {std::pair {"-3", 0}, std::pair {"1", 1}, std::pair {"4", 4}}) {
        SCOPED_TRACE(numberFiles);
        TestEnvironment::WriteFile(Path(),
                                   QByteArray("[General]\nNumberFiles=") + numberFiles + "\n[File1]\nFileName=" +
                                       Watched(1).toUtf8() + "\n[File2]\nFileName=" + Watched(2).toUtf8() + "\n");
        cSettings s;
        ASSERT_TRUE(s.ReadSettings(m_name));
        EXPECT_EQ(s.NumberFiles(), expected);
        if (expected == 4) {
            EXPECT_EQ(s.MonitorFile(2)->Status(), u"OK"_s);
            EXPECT_EQ(s.MonitorFile(3)->Status(), u"No File"_s);
        }
    }
}

TEST_F(ProfileSettings, HandEditedProfileKeepsWhatItDoesNotKnow)
{
    TestEnvironment::WriteFile(Path(),
                               TestEnvironment::ReadFile(TestEnvironment::DataFolder() + u"/hand-edited.ini"_s));
    cSettings s;
    ASSERT_TRUE(s.ReadSettings(m_name));
    EXPECT_EQ(s.SMTPServerAddress(), u"smtp.example.org"_s);
    EXPECT_EQ(s.EmailTo(), u"\"Ops\" <ops@example.org>; oncall@example.org"_s);
    EXPECT_EQ(s.PollInterval(), 120);
    ASSERT_EQ(s.NumberFiles(), 2);
    EXPECT_EQ(s.MonitorFile(1)->FriendlyName(), u"Nightly export"_s);
    EXPECT_EQ(s.MonitorFile(2)->StaleMins(), 90);
    s.SetPollInterval(60);
    ASSERT_TRUE(s.WriteSettings());
    for (const QString& kept : {u"; Edited by hand"_s, u"[Local notes]"_s, u"this line has no equals sign"_s}) {
        EXPECT_TRUE(Text().contains(kept)) << kept.toStdString();
    }
    EXPECT_TRUE(Text().contains(u"pollinterval=60"_s));
}

TEST_F(ProfileSettings, EachCycleSeesTheWatchedFolderAsItIsThen)
{
    cSettings s = WithFiles(3);
    const auto cycle = [&s](bool reachesItsEnd) {
        s.BeginCheckCycle();
        QStringList statuses;
        for (qint16 i = 1; i <= s.NumberFiles(); ++i) {
            s.MonitorFile(i)->CheckFile(s.CycleFolders());
            statuses << s.MonitorFile(i)->Status();
        }
        if (reachesItsEnd) {
            s.EndCheckCycle();
        }
        return statuses;
    };
    // A new folder with the same files, newer, renamed over the watched one.
    const auto replaceFolder = [this](qint64 secondsAgo) {
        const QString next = m_dir + u"-next"_s;
        for (int i = 1; i <= 3; ++i) {
            TestEnvironment::WriteFile(next + u"/file%1.txt"_s.arg(i), "y");
            TestEnvironment::SetModified(next + u"/file%1.txt"_s.arg(i), kNow - secondsAgo);
        }
        const QByteArray from = QFile::encodeName(next), to = QFile::encodeName(m_dir);
        return ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0 && QDir(next).removeRecursively();
    };
    const auto descriptors = [] { return QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::System).size(); };
    const qsizetype idle = descriptors();
    EXPECT_EQ(cycle(true), QStringList({u"Out of Date!"_s, u"OK"_s, u"OK"_s}));
    EXPECT_EQ(descriptors(), idle); // no folder held between cycles
    ASSERT_TRUE(replaceFolder(60));
    EXPECT_EQ(cycle(false), QStringList({u"OK"_s, u"Changed!"_s, u"Changed!"_s}));
    ASSERT_TRUE(replaceFolder(30)); // after a cycle that never reached its end
    EXPECT_EQ(cycle(true), QStringList({u"OK"_s, u"Changed!"_s, u"Changed!"_s}));
}

TEST_F(ProfileSettings, CyclesWriteOnlyWhatChanged)
{
    WithFiles(10, 86400); // the first, stale already when added, is marked notified
    for (int i = 2; i <= 10; ++i) {
        Watched(i, 10); // changed while the program was not running
    }
    // Reading finds them all and saves them together, in one replacement.
    cSettings s;
    s.ReadSettings(m_name);
    EXPECT_EQ(s.MonitorFile(2)->Status(), u"Changed!"_s);
    EXPECT_EQ(s.Store()->Replacements(), 1u);
    // Then cycles in which nothing changes write nothing, also for the stale file that stays notified.
    const auto before = identity(Path());
    for (int cycle = 0; cycle < 3; ++cycle) {
        for (qint16 i = 1; i <= s.NumberFiles(); ++i) {
            ASSERT_TRUE(s.MonitorFile(i)->CheckFile());
        }
    }
    EXPECT_TRUE(s.MonitorFile(1)->NotifyNeeded() && s.MonitorFile(1)->BeenNotified());
    EXPECT_EQ(s.Store()->Replacements(), 1u);
    EXPECT_EQ(identity(Path()), before);
}

TEST_F(ProfileSettings, SavingAgainRestoresWhatOthersChangedInBetween)
{
    // Through the file, or through the settings' own store.
    const std::pair<const char*, std::function<void(ProfileStore&)>> cases[] = {
        {"hand edit of the file",
         [](ProfileStore& store) {
             QByteArray bytes = TestEnvironment::ReadFile(store.Path());
             TestEnvironment::WriteFile(store.Path(), bytes.replace("FriendlyName=Second", "FriendlyName=Hand"));
         }},
        {"key written in this process", [](ProfileStore& store) { store.WriteString("File2", "FriendlyName", "x"); }},
        {"key deleted in this process", [](ProfileStore& store) { store.WriteString("File2", "FriendlyName", {}); }},
        {"section emptied and filled again",
         [](ProfileStore& store) {
             for (const char* key : {"FileName", "FriendlyName", "StaleMins", "LastModified"}) {
                 store.WriteString("File2", key, std::nullopt);
             }
             store.WriteString("File2", "FriendlyName", "Second");
         }},
        {"key written through another store",
         [](ProfileStore& store) { ConfigUtility::WriteIniString("File2", "FriendlyName", "x", store.Path()); }},
        {"file removed", [](ProfileStore& store) { QFile::remove(store.Path()); }},
    };
    const auto file2 = [this] {
        QStringList values;
        for (const char* key : {"FileName", "FriendlyName", "StaleMins", "LastModified"}) {
            values << Key("File2", key);
        }
        return values;
    };
    for (const auto& [name, interfere] : cases) {
        SCOPED_TRACE(name);
        m_name += u"+"_s;
        cSettings s = WithFiles(3);
        s.MonitorFile(2)->SetFriendlyName(u"Second"_s);
        ASSERT_TRUE(s.WriteSettings());
        const QStringList saved = file2();
        interfere(*s.Store());
        ASSERT_NE(file2(), saved);
        ASSERT_TRUE(s.WriteSettings());
        EXPECT_EQ(file2(), saved);
    }
}

TEST_F(ProfileSettings, FailedSaveIsRepeatedByTheNextOne)
{
    cSettings s = WithFiles(3);
    const QByteArray before = TestEnvironment::ReadFile(Path());
    // A folder where the profile should be: the replacement cannot land.
    ASSERT_TRUE(QFile::remove(Path()) && QDir().mkdir(Path()));
    s.MonitorFile(2)->SetFriendlyName(u"Second"_s);
    (void)s.WriteSettings();
    ASSERT_TRUE(QFileInfo(Path()).isDir() && QDir().rmdir(Path()));
    ASSERT_TRUE(TestEnvironment::WriteFile(Path(), before));
    ASSERT_TRUE(s.WriteSettings());
    EXPECT_EQ(Key("File2", "FriendlyName"), u"Second"_s);
    EXPECT_EQ(Key("File1", "FriendlyName"), u"First"_s);
}

TEST_F(ProfileSettings, NamesThatCannotBeUsed)
{
    cSettings s;
    EXPECT_FALSE(s.ReadSettings(QString()));
    EXPECT_FALSE(s.WriteSettings());
    // The profile's folder cannot be made: a file stands where it should be.
    const QString folder = QFileInfo(ProfileFormat::ProfilePath(u"Blocked"_s)).absolutePath();
    ASSERT_TRUE(TestEnvironment::WriteFile(folder, "in the way"));
    EXPECT_FALSE(s.WriteSettings(u"Blocked"_s));
    EXPECT_TRUE(s.ReadSettings(u"Blocked"_s));
    EXPECT_EQ(s.PollInterval(), 30);
}
