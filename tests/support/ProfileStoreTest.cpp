#include "support/ProfileStore.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct stat statOf(const QString& path)
{
    struct stat st = {};
    (void)::stat(QFile::encodeName(path).constData(), &st);
    return st;
}

struct Write
{
    QString section;
    QString key;
    std::optional<QString> value;
};

bool apply(ProfileStore& store, const Write& w)
{
    return store.WriteString(w.section, w.key, w.value);
}

const QByteArray kProfile = "[General]\nNumberFiles=1\n[File1]\nFileName=/data/nightly.csv\n";

class IniProfileFile : public ::testing::Test
{
protected:
    void SetUp() override { m_folder = TestEnvironment::NewFolder(u"ini"_s); }
    [[nodiscard]] QString path(const char* name) const { return m_folder + QLatin1Char('/') + QLatin1String(name); }
    QString m_folder;
};

} // namespace

TEST_F(IniProfileFile, ReadsWholeNumbersFromTheirLeadingDigits)
{
    const std::pair<QByteArray, qint32> numbers[] = {
        {"-15", -15},
        {" 42 ", 42},
        {"\"8\"", 8},
        {"90 minutes", 90},
        {"+-3", 0},
        {"99999999999", 2147483647},
        {"\xD9\xA3", 0}, // an Arabic-Indic digit is no digit here
    };
    for (const auto& [text, number] : numbers) {
        SCOPED_TRACE(text.constData());
        ASSERT_TRUE(TestEnvironment::WriteFile(path("read.ini"), "[Numbers]\nn=" + text + '\n'));
        EXPECT_EQ(ProfileStore(path("read.ini")).ReadInt(u"numbers"_s, u"N"_s, -5), number);
    }
    EXPECT_EQ(ProfileStore(path("read.ini")).ReadInt(u"Numbers"_s, u"absent"_s, -5), -5);
    EXPECT_EQ(ProfileStore(path("missing.ini")).ReadString(u"A"_s, u"k"_s, u"dflt"_s), u"dflt"_s);
}

TEST_F(IniProfileFile, WritesThatChangeNothingLeaveTheFileUntouched)
{
    ASSERT_TRUE(TestEnvironment::WriteFile(path("same.ini"), "[A]\nk=1\n"));
    const timespec before = statOf(path("same.ini")).st_ctim;
    ProfileStore store(path("same.ini"));
    EXPECT_TRUE(store.WriteString(u"a"_s, u"K"_s, u"1"_s));
    EXPECT_TRUE(store.WriteString(u"A"_s, u"absent"_s, std::nullopt));
    {
        // A transaction that ends where it started.
        ProfileStore::Transaction transaction(store);
        for (const Write& w : std::vector<Write> {{"A", "k", "2"}, {"A", "n", "5"}, {"A", "k", "1"}, {"A", "n", {}}}) {
            EXPECT_TRUE(apply(store, w));
        }
    }
    const timespec after = statOf(path("same.ini")).st_ctim;
    EXPECT_TRUE(after.tv_sec == before.tv_sec && after.tv_nsec == before.tv_nsec); // neither written nor replaced
    EXPECT_EQ(store.Replacements(), 0u);
}

TEST_F(IniProfileFile, ANewFileIsOwnerOnlyAndAReplacementKeepsTheMode)
{
    const QString file = path("new.ini");
    ProfileStore store(file);
    {
        ProfileStore::Transaction transaction(store);
        EXPECT_TRUE(store.WriteString(u"A"_s, u"k"_s, std::nullopt));
    }
    EXPECT_FALSE(QFile::exists(file));

    const mode_t oldMask = ::umask(022);
    EXPECT_TRUE(store.WriteString(u"A"_s, u"k"_s, u"v"_s));
    ::umask(oldMask);
    EXPECT_EQ(TestEnvironment::ReadFile(file), "[A]\nk=v\n");
    EXPECT_EQ(statOf(file).st_mode & 07777, 0600u);

    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    const ino_t inode = statOf(file).st_ino;
    EXPECT_TRUE(store.WriteString(u"A"_s, u"k"_s, u"2"_s));
    EXPECT_EQ(TestEnvironment::ReadFile(file), "[A]\nk=2\n");
    EXPECT_NE(statOf(file).st_ino, inode); // replaced, not rewritten in place
    EXPECT_EQ(statOf(file).st_mode & 07777, 0640u);
}

TEST_F(IniProfileFile, HandEditBetweenCallsIsSeen)
{
    // The edit, whether it is a new file put in place and the time it leaves. Edits that keep the
    // size also keep or restore the time, so only one field tells them apart.
    const std::tuple<const char*, QByteArray, bool, qint64> cases[] = {
        {"other size", "[A]\nk=22\nh=1\n", false, 1000000000},
        {"same size, other time", "[A]\nk=2\nh=1\n", false, 1000000001},
        {"same size and time, other inode", "[A]\nk=2\nh=1\n", true, 1000000000},
    };
    for (const auto& [name, edited, replaceInode, modified] : cases) {
        SCOPED_TRACE(name);
        const QString file = path(name);
        ASSERT_TRUE(TestEnvironment::WriteFile(file, "[A]\nk=1\nh=0\n"));
        ASSERT_TRUE(TestEnvironment::SetModified(file, 1000000000));
        ProfileStore store(file);
        EXPECT_EQ(store.ReadString(u"A"_s, u"h"_s, QString()), u"0"_s);
        const QString written = replaceInode ? file + u".new"_s : file;
        ASSERT_TRUE(TestEnvironment::WriteFile(written, edited));
        ASSERT_TRUE(TestEnvironment::SetModified(written, modified));
        ASSERT_EQ(std::rename(QFile::encodeName(written).constData(), QFile::encodeName(file).constData()), 0);
        EXPECT_TRUE(store.EditedElsewhere());
        EXPECT_EQ(store.ReadString(u"A"_s, u"h"_s, QString()), u"1"_s);
        // A write merges into the file as it is now; the edit stays reported until the next Reload.
        ASSERT_TRUE(store.WriteString(u"A"_s, u"n"_s, u"3"_s));
        EXPECT_EQ(TestEnvironment::ReadFile(file), edited + "n=3\n");
        EXPECT_TRUE(store.EditedElsewhere());
        store.Reload();
        // The store's own saves are no edits; removing the file is one.
        ASSERT_TRUE(store.WriteString(u"A"_s, u"n"_s, u"4"_s));
        EXPECT_FALSE(store.EditedElsewhere());
        ASSERT_TRUE(QFile::remove(file));
        EXPECT_TRUE(store.EditedElsewhere());
        EXPECT_EQ(store.ReadString(u"A"_s, u"h"_s, u"gone"_s), u"gone"_s);
    }
}

TEST_F(IniProfileFile, TransactionIsOneReplacementWithTheBytesOfSingleWrites)
{
    const QByteArray start = "; profile\n[General]\nNumberFiles=2\n\n[File 1]\nPath=/a\n[File 2]\nPath=/b\n";
    const std::vector<Write> writes = {
        {"File 3", "Path", "/c"},
        {"File 1", "Path", std::nullopt},
        {"file 1", "Path", " /a2 "},
        {"General", "NumberFiles", "4"},
        {"File 2", "Path", std::nullopt},
    };
    ASSERT_TRUE(TestEnvironment::WriteFile(path("single.ini"), start));
    ASSERT_TRUE(TestEnvironment::WriteFile(path("grouped.ini"), start));
    ProfileStore single(path("single.ini"));
    ProfileStore grouped(path("grouped.ini"));
    for (const Write& w : writes) {
        ASSERT_TRUE(apply(single, w));
    }
    {
        ProfileStore::Transaction outer(grouped);
        for (const Write& w : writes) {
            ProfileStore::Transaction inner(grouped);
            ASSERT_TRUE(apply(grouped, w));
        }
        EXPECT_EQ(grouped.ReadInt(u"General"_s, u"NumberFiles"_s, 0), 4);
        EXPECT_EQ(TestEnvironment::ReadFile(path("grouped.ini")), start);
    }
    EXPECT_EQ(grouped.Replacements(), 1u);
    EXPECT_EQ(TestEnvironment::ReadFile(path("grouped.ini")), TestEnvironment::ReadFile(path("single.ini")));
}

TEST_F(IniProfileFile, ASaveByAnotherDuringATransactionIsKeptWithTheWritesMadeOnIt)
{
    // The transaction's writes before and after the other save, what that save holds and the outcome.
    const std::tuple<const char*, Write, Write, QByteArray, QByteArray> cases[] = {
        {"other keys and sections",
         {"A", "x", "2"},
         {"A", "w", "3"},
         "[A]\nx=1\n[B]\ny=HAND\n[C]\nz=new\n",
         "[A]\nx=2\nw=3\n[B]\ny=HAND\n[C]\nz=new\n"},
        // Writes that changed nothing in the file as first read still count.
        {"the same key", {"A", "x", "1"}, {"B", "y", std::nullopt}, "[A]\nx=5\n[B]\ny=HAND\n", "[A]\nx=1\n[B]\n"},
    };
    for (const auto& [name, before, after, theirs, expected] : cases) {
        SCOPED_TRACE(name);
        const QString file = path(name);
        ASSERT_TRUE(TestEnvironment::WriteFile(file, "[A]\nx=1\n[B]\ny=1\n"));
        ProfileStore store(file);
        EXPECT_EQ(store.ReadString(u"B"_s, u"y"_s, QString()), u"1"_s);
        {
            ProfileStore::Transaction transaction(store);
            ASSERT_TRUE(apply(store, before));
            ASSERT_TRUE(TestEnvironment::WriteFile(file, theirs));
            ASSERT_TRUE(apply(store, after));
        }
        EXPECT_EQ(TestEnvironment::ReadFile(file), expected);
        // An edit merged into this store's save is still an edit.
        EXPECT_TRUE(store.EditedElsewhere());
    }
}

TEST_F(IniProfileFile, AReplacementThatFailsKeepsTheOldFile)
{
    const QString file = path("steps.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(file, kProfile));
    ProfileStore store(file);
    // Refused: the old file stays byte for byte, not renamed, nothing beside it, and the unsaved value is not served.
    const auto expectKept = [&] {
        const ino_t inode = statOf(file).st_ino;
        const quint64 replacements = store.Replacements();
        EXPECT_FALSE(store.WriteString(u"File1"_s, u"LastModified"_s, u"2026-12-04T10:00:00"_s));
        EXPECT_EQ(TestEnvironment::ReadFile(file), kProfile);
        EXPECT_EQ(statOf(file).st_ino, inode);
        EXPECT_EQ(store.Replacements(), replacements);
        EXPECT_EQ(QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList {u"steps.ini"_s});
        EXPECT_EQ(store.ReadString(u"File1"_s, u"LastModified"_s, u"none"_s), u"none"_s);
        EXPECT_NE(store.WriteProblem(), QString());
    };
    static ProfileStore::Step failing = ProfileStore::Step::Open;
    ProfileStore::SetFaultInjector([](ProfileStore::Step step) { return step == failing ? EIO : 0; });
    for (const auto step : {ProfileStore::Step::Open, ProfileStore::Step::Sync, ProfileStore::Step::Commit}) {
        SCOPED_TRACE(int(step));
        failing = step;
        expectKept();
    }
    ProfileStore::SetFaultInjector(nullptr);
    {
        // The system refuses to write beyond the 16th byte of any file, as a full disk does.
        std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit before = {};
        ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const struct rlimit limit = {16, before.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });
        expectKept();
    }
    EXPECT_TRUE(store.WriteString(u"File1"_s, u"LastModified"_s, u"2026-12-04T10:00:00"_s));
    EXPECT_EQ(store.WriteProblem(), QString());

    // A folder in place of the file when the transaction ends: no new file can be made there.
    ProfileStore::Transaction transaction(store);
    ASSERT_TRUE(store.WriteString(u"File1"_s, u"LastModified"_s, u"2027-01-01T00:00:00"_s));
    ASSERT_TRUE(QFile::rename(file, path("aside.ini")) && QDir().mkdir(file));
    EXPECT_FALSE(transaction.Commit());
    EXPECT_EQ(store.Replacements(), 1u);
    ASSERT_TRUE(QDir().rmdir(file) && QFile::rename(path("aside.ini"), file));
    EXPECT_EQ(store.ReadString(u"File1"_s, u"LastModified"_s, QString()), u"2026-12-04T10:00:00"_s);
}

TEST_F(IniProfileFile, AFileThatCannotServeAsAProfileIsNamedAndNeverReplaced)
{
    const std::pair<QByteArray, QString> contents[] = {
        {QByteArray("[A]\nk=v\n\0\1\2", 11), u"it is not an INI file"_s}, // binary
        {"just words\nmore words\n", u"it is not an INI file"_s},
        {"\n  \r\n", QString()},
        {TestEnvironment::ReadFile(TestEnvironment::DataFolder() + u"/hand-edited.ini"_s), QString()},
    };
    for (const auto& [bytes, problem] : contents) {
        SCOPED_TRACE(bytes.left(20).constData());
        ASSERT_TRUE(TestEnvironment::WriteFile(path("profile.ini"), bytes));
        ProfileStore store(path("profile.ini"));
        EXPECT_EQ(store.ReadProblem(), problem);
        EXPECT_EQ(store.WriteString(u"A"_s, u"k"_s, u"new"_s), problem.isEmpty());
        EXPECT_EQ(TestEnvironment::ReadFile(path("profile.ini")) == bytes, !problem.isEmpty());
        EXPECT_EQ(store.ReadString(u"A"_s, u"k"_s, u"dflt"_s), problem.isEmpty() ? u"new"_s : u"dflt"_s);
    }
    // Neither read nor replaced, and no FIFO blocks the read.
    QList<std::pair<QString, QString>> others;
    for (const auto& [file, kind] : TestEnvironment::NonRegularFiles()) {
        others.append({file, kind == u"a folder"_s ? u"it is a folder"_s : u"it is not a regular file"_s});
    }
    ASSERT_EQ(::symlink("loop.ini", QFile::encodeName(path("loop.ini")).constData()), 0);
    others.append({path("loop.ini"), QString::fromLocal8Bit(std::strerror(ELOOP))});
    for (const auto& [file, problem] : others) {
        SCOPED_TRACE(problem.toStdString());
        const TestEnvironment::Deadline deadline(5);
        ProfileStore store(file);
        EXPECT_EQ(store.ReadProblem(), problem);
        EXPECT_EQ(store.ReadString(u"A"_s, u"k"_s, u"dflt"_s), u"dflt"_s);
        EXPECT_FALSE(store.WriteString(u"A"_s, u"k"_s, u"v"_s));
        EXPECT_FALSE(QFileInfo(file).isFile());
    }
}
