#include "support/ProfileStore.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

struct stat statOf(const QString& path)
{
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        st = {};
    }
    return st;
}

bool sameFileState(const struct stat& a, const struct stat& b)
{
    return a.st_ino == b.st_ino && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

struct Write
{
    QString section;
    QString key;
    std::optional<QString> value;
};

class IniProfileFile : public ::testing::Test
{
protected:
    void SetUp() override { m_folder = TestEnvironment::NewFolder(QStringLiteral("ini")); }
    [[nodiscard]] QString path(const char* name) const { return m_folder + QLatin1Char('/') + QLatin1String(name); }
    // One store for each file, kept for the test, as the settings keep theirs.
    ProfileStore& Store(const QString& file)
    {
        std::unique_ptr<ProfileStore>& store = m_stores[file];
        if (!store) {
            store = std::make_unique<ProfileStore>(file);
        }
        return *store;
    }

    // A save the system refuses leaves the old file byte for byte, not renamed, nothing beside it.
    void ExpectRefusedAndKept(const QString& file, const QByteArray& old, const QStringList& files)
    {
        const struct stat before = statOf(file);
        const quint64 replacements = Store(file).Replacements();
        EXPECT_FALSE(Store(file).WriteString(u"File1"_s, u"LastModified"_s, u"2026-12-04T10:00:00"_s));
        EXPECT_EQ(TestEnvironment::ReadFile(file), old);
        EXPECT_EQ(statOf(file).st_ino, before.st_ino);
        EXPECT_EQ(Store(file).Replacements(), replacements);
        EXPECT_EQ(QFileInfo(file).dir().entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name), files);
        EXPECT_EQ(Store(file).ReadString(u"File1"_s, u"LastModified"_s, u"none"_s), u"none"_s);
        EXPECT_NE(Store(file).WriteProblem(), QString());
    }

    QString m_folder;
    std::map<QString, std::unique_ptr<ProfileStore>> m_stores;
};

const QByteArray kProfile = "[General]\nNumberFiles=1\n[File1]\nFileName=/data/nightly.csv\n";

} // namespace

TEST_F(IniProfileFile, ReadsTextAndWholeNumbers)
{
    struct Case
    {
        QByteArray text;
        qint32 expected;
    };
    const Case numbers[] = {
        {"12", 12},
        {"+7", 7},
        {"-15", -15},
        {" 42 ", 42},
        {"\"8\"", 8},
        {"12abc", 12},
        {"1.9", 1},
        {"0x10", 0},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"+-3", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"99999999999", 2147483647},
        {"-99999999999999999999999", -2147483647 - 1},
        {"\xD9\xA3", 0},
    };
    QByteArray text = "[Text]\nname = Some One \nempty=\n[Numbers]\n";
    for (size_t i = 0; i < std::size(numbers); ++i) {
        text += 'n' + QByteArray::number(qulonglong(i)) + '=' + numbers[i].text + '\n';
    }
    const QString file = path("read.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(file, text));
    for (size_t i = 0; i < std::size(numbers); ++i) {
        SCOPED_TRACE(numbers[i].text.constData());
        EXPECT_EQ(Store(file).ReadInt(u"numbers"_s, u"N%1"_s.arg(i), -5), numbers[i].expected);
    }
    EXPECT_EQ(Store(file).ReadInt(u"Numbers"_s, u"absent"_s, -5), -5);
    EXPECT_EQ(Store(file).ReadString(u"TEXT"_s, u"Name"_s, u"dflt"_s), u"Some One"_s);
    EXPECT_EQ(Store(file).ReadString(u"Text"_s, u"empty"_s, u"dflt"_s), u""_s);
    EXPECT_EQ(Store(file).ReadString(u"Text"_s, u"absent"_s, u"dflt"_s), u"dflt"_s);
    EXPECT_EQ(Store(file).ReadString(u"Absent"_s, u"name"_s, u"dflt"_s), u"dflt"_s);
    EXPECT_EQ(Store(path("missing.ini")).ReadString(u"Text"_s, u"name"_s, u"dflt"_s), u"dflt"_s);
}

TEST_F(IniProfileFile, UnchangedWriteLeavesFileUntouched)
{
    const QString file = path("same.ini");
    const QByteArray text = "[A]\nk = \"1\"\n";
    ASSERT_TRUE(TestEnvironment::WriteFile(file, text));
    ASSERT_TRUE(TestEnvironment::SetModified(file, 1000000000));
    const struct stat before = statOf(file);
    const quint64 replacements = Store(file).Replacements();
    EXPECT_TRUE(Store(file).WriteString(u"a"_s, u"K"_s, u"1"_s));
    EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"absent"_s, std::nullopt));
    EXPECT_TRUE(Store(file).WriteString(u"Absent"_s, u"k"_s, std::nullopt));
    EXPECT_TRUE(sameFileState(statOf(file), before));
    EXPECT_EQ(Store(file).Replacements(), replacements);
    EXPECT_EQ(TestEnvironment::ReadFile(file), text);
}

TEST_F(IniProfileFile, NewFileOnlyWhenSomethingIsWrittenAndOwnerOnly)
{
    const QString file = path("new.ini");
    EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"k"_s, std::nullopt));
    {
        ProfileStore::Transaction transaction(Store(file));
        EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"k"_s, std::nullopt));
    }
    EXPECT_FALSE(QFile::exists(file));

    const mode_t oldMask = ::umask(022);
    const bool written = Store(file).WriteString(u"A"_s, u"k"_s, u"v"_s);
    ::umask(oldMask);
    EXPECT_TRUE(written);
    EXPECT_EQ(TestEnvironment::ReadFile(file), "[A]\nk=v\n");
    EXPECT_EQ(statOf(file).st_mode & 07777, 0600u);
}

TEST_F(IniProfileFile, ReplacementKeepsTheModeOfAnExistingFile)
{
    for (const mode_t mode : {mode_t(0640), mode_t(0755)}) {
        SCOPED_TRACE(mode);
        const QString file = path("mode.ini");
        ASSERT_TRUE(TestEnvironment::WriteFile(file, "[A]\nk=1\n"));
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), mode), 0);
        const ino_t inode = statOf(file).st_ino;
        const quint64 replacements = Store(file).Replacements();
        EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"k"_s, u"2"_s));
        EXPECT_EQ(Store(file).Replacements(), replacements + 1);
        EXPECT_EQ(TestEnvironment::ReadFile(file), "[A]\nk=2\n");
        EXPECT_NE(statOf(file).st_ino, inode); // replaced, not rewritten in place
        EXPECT_EQ(statOf(file).st_mode & 07777, mode);
    }
}

TEST_F(IniProfileFile, HandEditBetweenCallsIsSeen)
{
    struct Case
    {
        const char* name;
        QByteArray edited;
        bool replaceInode;
        qint64 modified;
    };
    // Edits that keep the size also keep or restore the time, so only one field tells them apart.
    const Case cases[] = {
        {"other size", "[A]\nk=22\nh=1\n", false, 1000000000},
        {"same size, other time", "[A]\nk=2\nh=1\n", false, 1000000001},
        {"same size and time, other inode", "[A]\nk=2\nh=1\n", true, 1000000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(c.name);
        ProfileStore& store = Store(file);
        ASSERT_TRUE(store.WriteString(u"A"_s, u"k"_s, u"1"_s));
        ASSERT_TRUE(store.WriteString(u"A"_s, u"h"_s, u"0"_s));
        ASSERT_TRUE(TestEnvironment::SetModified(file, 1000000000));
        store.Reload();
        EXPECT_FALSE(store.EditedElsewhere());
        EXPECT_FALSE(ProfileStore(file + u".never-read"_s).EditedElsewhere());
        const QString written = c.replaceInode ? file + QStringLiteral(".new") : file;
        ASSERT_TRUE(TestEnvironment::WriteFile(written, c.edited));
        ASSERT_TRUE(TestEnvironment::SetModified(written, c.modified));
        if (c.replaceInode) {
            ASSERT_EQ(std::rename(QFile::encodeName(written).constData(), QFile::encodeName(file).constData()), 0);
        }
        EXPECT_TRUE(store.EditedElsewhere());
        EXPECT_EQ(store.ReadString(u"A"_s, u"h"_s, QString()), u"1"_s);
        // A write merges into the file as it is now; the edit stays reported until the next Reload.
        ASSERT_TRUE(store.WriteString(u"A"_s, u"n"_s, u"3"_s));
        EXPECT_EQ(TestEnvironment::ReadFile(file), c.edited + "n=3\n");
        EXPECT_TRUE(store.EditedElsewhere());
        store.Reload();
        // The store's own saves are no edits.
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
        {"General", "NumberFiles", "3"},
        {"File 3", "Path", "/c"},
        {"File 1", "Path", std::nullopt},
        {"file 1", "Path", " /a2 "},
        {"File 2", "Path", "/b"},
        {"General", "NumberFiles", "4"},
        {"File 4", "Path", "/d"},
        {"File 3", "Mail", "x@example.com"},
        {"File 2", "Path", std::nullopt},
    };
    const QString single = path("single.ini");
    const QString grouped = path("grouped.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(single, start));
    ASSERT_TRUE(TestEnvironment::WriteFile(grouped, start));
    for (const Write& w : writes) {
        ASSERT_TRUE(Store(single).WriteString(w.section, w.key, w.value));
    }
    const quint64 replacements = Store(grouped).Replacements();
    {
        ProfileStore::Transaction outer(Store(grouped));
        for (size_t i = 0; i < writes.size(); ++i) {
            ProfileStore::Transaction inner(Store(grouped));
            ASSERT_TRUE(Store(grouped).WriteString(writes[i].section, writes[i].key, writes[i].value));
        }
        EXPECT_EQ(Store(grouped).ReadInt(u"General"_s, u"NumberFiles"_s, 0), 4);
        EXPECT_EQ(TestEnvironment::ReadFile(grouped), start);
        EXPECT_EQ(Store(grouped).Replacements(), replacements);
    }
    EXPECT_EQ(Store(grouped).Replacements(), replacements + 1);
    EXPECT_EQ(TestEnvironment::ReadFile(grouped), TestEnvironment::ReadFile(single));

    ProfileStore::Transaction early(Store(grouped));
    ASSERT_TRUE(Store(grouped).WriteString(u"General"_s, u"NumberFiles"_s, u"5"_s));
    EXPECT_TRUE(early.Commit());
    EXPECT_EQ(Store(grouped).Replacements(), replacements + 2);
    EXPECT_TRUE(Store(grouped).WriteString(u"General"_s, u"NumberFiles"_s, u"6"_s));
    EXPECT_EQ(Store(grouped).Replacements(), replacements + 3);
}

TEST_F(IniProfileFile, ASaveByAnotherDuringATransactionIsKeptWithTheWritesMadeOnIt)
{
    struct Case
    {
        const char* name;
        std::vector<Write> writes;
        QByteArray theirs;
        QByteArray expected;
    };
    const Case cases[] = {
        {"other keys and sections",
         {{u"A"_s, u"x"_s, u"2"_s}, {u"A"_s, u"w"_s, u"3"_s}},
         "[A]\nx=1\n[B]\ny=HAND\n[C]\nz=new\n",
         "[A]\nx=2\nw=3\n[B]\ny=HAND\n[C]\nz=new\n"},
        // Writes that changed nothing in the file as first read still count.
        {"the same key",
         {{u"A"_s, u"x"_s, u"1"_s}, {u"B"_s, u"y"_s, std::nullopt}},
         "[A]\nx=5\n[B]\ny=HAND\n",
         "[A]\nx=1\n[B]\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(c.name);
        ASSERT_TRUE(TestEnvironment::WriteFile(file, "[A]\nx=1\n[B]\ny=1\n"));
        EXPECT_EQ(Store(file).ReadString(u"B"_s, u"y"_s, QString()), u"1"_s);
        EXPECT_FALSE(Store(file).EditedElsewhere());
        {
            ProfileStore::Transaction transaction(Store(file));
            ASSERT_TRUE(Store(file).WriteString(c.writes[0].section, c.writes[0].key, c.writes[0].value));
            ASSERT_TRUE(TestEnvironment::WriteFile(file, c.theirs));
            for (size_t i = 1; i < c.writes.size(); ++i) {
                ASSERT_TRUE(Store(file).WriteString(c.writes[i].section, c.writes[i].key, c.writes[i].value));
            }
        }
        EXPECT_EQ(TestEnvironment::ReadFile(file), c.expected);
        // An edit merged into this store's save is still an edit.
        EXPECT_TRUE(Store(file).EditedElsewhere());
    }
}

TEST_F(IniProfileFile, TransactionThatEndsWhereItStartedReplacesNothing)
{
    const QString file = path("undo.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(file, "[A]\nk=1\n"));
    const struct stat before = statOf(file);
    const quint64 replacements = Store(file).Replacements();
    {
        ProfileStore::Transaction transaction(Store(file));
        EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"k"_s, u"2"_s));
        EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"n"_s, u"5"_s));
        EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"k"_s, u"1"_s));
        EXPECT_TRUE(Store(file).WriteString(u"A"_s, u"n"_s, std::nullopt));
    }
    EXPECT_EQ(Store(file).Replacements(), replacements);
    EXPECT_TRUE(sameFileState(statOf(file), before));
}

TEST_F(IniProfileFile, FailedReplacementReturnsFalseAndLosesNothing)
{
    const QString folderAtPath = path("folder.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(folderAtPath + QStringLiteral("/inside"), "keep"));
    EXPECT_FALSE(Store(folderAtPath).WriteString(u"A"_s, u"k"_s, u"v"_s));
    EXPECT_EQ(Store(folderAtPath).ReadString(u"A"_s, u"k"_s, u"dflt"_s), u"dflt"_s);
    EXPECT_EQ(TestEnvironment::ReadFile(folderAtPath + QStringLiteral("/inside")), "keep");

    // Not a regular file: reads as empty without blocking, and is not replaced.
    const QString fifo = path("fifo.ini");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(Store(fifo).ReadString(u"A"_s, u"k"_s, u"dflt"_s), u"dflt"_s);
    EXPECT_FALSE(Store(fifo).WriteString(u"A"_s, u"k"_s, u"v"_s));
    EXPECT_TRUE(S_ISFIFO(statOf(fifo).st_mode));

    // The unsaved value must not be served from the cache afterwards.
    const QString noFolder = path("missing/p.ini");
    EXPECT_FALSE(Store(noFolder).WriteString(u"A"_s, u"k"_s, u"v"_s));
    EXPECT_EQ(Store(noFolder).ReadString(u"A"_s, u"k"_s, u"dflt"_s), u"dflt"_s);
    EXPECT_FALSE(QFile::exists(path("missing")));

    const QString file = path("swapped.ini");
    const QString aside = path("aside.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(file, "[A]\nk=old\n"));
    const quint64 replacements = Store(file).Replacements();
    ProfileStore::Transaction transaction(Store(file));
    ASSERT_TRUE(Store(file).WriteString(u"A"_s, u"k"_s, u"new"_s));
    ASSERT_TRUE(QFile::rename(file, aside));
    ASSERT_TRUE(QDir().mkdir(file));
    EXPECT_FALSE(transaction.Commit());
    EXPECT_EQ(Store(file).Replacements(), replacements);
    EXPECT_TRUE(QFileInfo(file).isDir());
    ASSERT_TRUE(QDir().rmdir(file));
    ASSERT_TRUE(QFile::rename(aside, file));
    EXPECT_EQ(Store(file).ReadString(u"A"_s, u"k"_s, QString()), u"old"_s);
}

TEST_F(IniProfileFile, AFullFilesystemKeepsTheOldFile)
{
    const QString mountPoint = path("tmpfs");
    ASSERT_TRUE(QDir().mkdir(mountPoint));
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here (root only): " << std::strerror(errno);
    }
    const auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH); });
    const QString file = mountPoint + u"/Sentrel.ini"_s;
    ASSERT_TRUE(TestEnvironment::WriteFile(file, kProfile));
    const QByteArray filler = QFile::encodeName(mountPoint + u"/filler"_s);
    const int fd = ::open(filler.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    const QByteArray block(4096, 'x');
    while (::write(fd, block.constData(), size_t(block.size())) > 0) { }
    EXPECT_EQ(errno, ENOSPC);
    ::close(fd);
    ExpectRefusedAndKept(file, kProfile, {u"Sentrel.ini"_s, u"filler"_s});
}

TEST_F(IniProfileFile, AWritePastTheFileSizeLimitKeepsTheOldFile)
{
    const QString file = path("limited.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(file, kProfile));
    // From here the system refuses to write beyond the 16th byte of any file.
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit before = {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    struct rlimit limit = before;
    limit.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_FSIZE, &before); });
    ExpectRefusedAndKept(file, kProfile, {u"limited.ini"_s});
}

TEST_F(IniProfileFile, AReplacementThatFailsAtAnyStepKeepsTheOldFile)
{
    static ProfileStore::Step failing = ProfileStore::Step::Open;
    ProfileStore::SetFaultInjector([](ProfileStore::Step step) { return step == failing ? EIO : 0; });
    const auto reset = qScopeGuard([] { ProfileStore::SetFaultInjector(nullptr); });
    const QString file = path("steps.ini");
    ASSERT_TRUE(TestEnvironment::WriteFile(file, kProfile));
    for (const ProfileStore::Step step :
         {ProfileStore::Step::Open, ProfileStore::Step::Write, ProfileStore::Step::Sync, ProfileStore::Step::Commit}) {
        SCOPED_TRACE(int(step));
        failing = step;
        ExpectRefusedAndKept(file, kProfile, {u"steps.ini"_s});
    }
    ProfileStore::SetFaultInjector(nullptr);
    EXPECT_TRUE(Store(file).WriteString(u"File1"_s, u"LastModified"_s, u"2026-12-04T10:00:00"_s));
    EXPECT_EQ(Store(file).WriteProblem(), QString());
}

TEST_F(IniProfileFile, AFileThatCannotServeAsAProfileIsNamedAndNeverReplaced)
{
    struct Case
    {
        const char* name;
        QByteArray bytes;
        QString problem;
    };
    const Case cases[] = {
        {"binary",
         QByteArray("\x7F"
                    "ELF\x02\x01=\x00\x00\n[A]\n",
                    14),
         u"it is not an INI file"_s},
        {"no line a section, key or comment", "just words\nmore words\n", u"it is not an INI file"_s},
        {"blank lines", "\n  \r\n", QString()},
        {"one key", "k=v", QString()},
        {"hand-edited", TestEnvironment::ReadFile(TestEnvironment::DataFolder() + u"/hand-edited.ini"_s), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(c.name);
        ASSERT_TRUE(TestEnvironment::WriteFile(file, c.bytes));
        EXPECT_EQ(Store(file).ReadProblem(), c.problem);
        EXPECT_EQ(Store(file).WriteString(u"A"_s, u"k"_s, u"new"_s), c.problem.isEmpty());
        if (!c.problem.isEmpty()) {
            EXPECT_EQ(TestEnvironment::ReadFile(file), c.bytes);
            EXPECT_EQ(Store(file).ReadString(u"A"_s, u"k"_s, u"dflt"_s), u"dflt"_s);
        }
    }
    ASSERT_TRUE(QDir().mkdir(path("folder.ini")));
    ASSERT_EQ(::symlink("loop.ini", QFile::encodeName(path("loop.ini")).constData()), 0);
    EXPECT_EQ(Store(path("folder.ini")).ReadProblem(), u"it is a folder"_s);
    EXPECT_EQ(Store(path("loop.ini")).ReadProblem(), QString::fromLocal8Bit(std::strerror(ELOOP)));
    EXPECT_FALSE(Store(path("loop.ini")).WriteString(u"A"_s, u"k"_s, u"v"_s));
    EXPECT_EQ(Store(path("missing.ini")).ReadProblem(), QString());
}

TEST_F(IniProfileFile, RefusesNamesNoLineCanHold)
{
    const QString file = path("names.ini");
    EXPECT_FALSE(Store(file).WriteString(u"A"_s, u"a=b"_s, u"1"_s));
    EXPECT_FALSE(Store(file).WriteString(u"A]"_s, u"k"_s, u"1"_s));
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(IniProfileFile, PathSpellingsNameOneStore)
{
    const ProfileStore store(m_folder + QStringLiteral("/sub/../p.ini"));
    EXPECT_TRUE(store.IsFor(path("p.ini")));
    EXPECT_TRUE(store.IsFor(m_folder + QStringLiteral("//./p.ini")));
    EXPECT_FALSE(store.IsFor(path("q.ini")));
}
