// The monitoring model against its floors: CheckFile beside a bare stat()
// loop and a bare fstatat() loop in the files' folder, ReadSettings beside
// reading the profile's bytes and stat-ing the files, WriteSettings beside
// writing the same bytes once.
#include "model/ProfileFormat.h"
#include "model/cSettings.h"
#include "support/DateTimeUtility.h"
#include "support/ProfileStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

QString g_root;

// N plain files (and, for templated names, files named for this year), created once.
struct FileSet
{
    std::vector<QString> plain;
    std::vector<QByteArray> plainBytes;
    QByteArray folderBytes;
    std::vector<QByteArray> baseBytes;
    std::vector<QString> templated;
};

const FileSet& Files(int count)
{
    static std::map<int, FileSet> sets;
    auto it = sets.find(count);
    if (it != sets.end()) {
        return it->second;
    }
    FileSet set;
    const QString dir = g_root + QStringLiteral("/files-") + QString::number(count);
    QDir().mkpath(dir);
    set.folderBytes = QFile::encodeName(dir);
    const QString year = QString::number(QDate::currentDate().year());
    for (int i = 0; i < count; ++i) {
        const QString name = dir + QStringLiteral("/export-") + QString::number(i) + QStringLiteral(".csv");
        QFile f(name);
        f.open(QIODevice::WriteOnly);
        f.write("x");
        f.close();
        QFile t(dir + QStringLiteral("/log-") + QString::number(i) + QLatin1Char('.') + year + QStringLiteral(".txt"));
        t.open(QIODevice::WriteOnly);
        t.write("y");
        t.close();
        // An hour old, so a stale rule of one minute finds every file out of date.
        const timeval old[2] = {{time(nullptr) - 3600, 0}, {time(nullptr) - 3600, 0}};
        ::utimes(QFile::encodeName(name).constData(), old);
        ::utimes(QFile::encodeName(t.fileName()).constData(), old);
        set.plain.push_back(name);
        set.plainBytes.push_back(QFile::encodeName(name));
        set.baseBytes.push_back(QFile::encodeName(QFileInfo(name).fileName()));
        set.templated.push_back(dir + QStringLiteral("/log-") + QString::number(i) + QStringLiteral(".#yyyy#.txt"));
    }
    return sets.emplace(count, std::move(set)).first->second;
}

enum class Kind {
    Unchanged,     // change rule, files seen before and not touched since
    Templated,     // the same with one date pattern in each name
    StaleNotified, // stale rule, already out of date and notified
};

// A profile of N files, all seen before (as a running program holds them).
QString Profile(int count, Kind kind)
{
    const bool templated = kind == Kind::Templated;
    const QString name =
        QStringLiteral("Bench") + QString::number(count) + QLatin1Char('-') + QString::number(static_cast<int>(kind));
    const QString path = ProfileFormat::ProfilePath(name);
    if (QFile::exists(path)) {
        return name;
    }
    // Written as text: adding 10,000 files one by one through AddFile saves the
    // whole profile each time, which would take far longer than the runs.
    const FileSet& files = Files(count);
    QByteArray text =
        "[SMTPServer]\r\nAddress=mail.example.com\r\n[General]\r\nNumberFiles=" + QByteArray::number(count) + "\r\n";
    for (int i = 0; i < count; ++i) {
        struct stat st
        { };
        ::stat(files.plainBytes[i].constData(), &st);
        DateTimeStamp seen;
        (void)DateTimeUtility::StampFromTimeT(st.st_mtime, seen);
        const bool stale = kind == Kind::StaleNotified;
        text += "[File" + QByteArray::number(i + 1) +
                "]\r\nFileName=" + (templated ? files.templated[i] : files.plain[i]).toUtf8() + "\r\n" +
                (stale ? "StaleMins=1\r\nBeenNotifed=1\r\nNotifyNeeded=1\r\n" : "BeenNotifed=0\r\nNotifyNeeded=0\r\n") +
                "LastModified=" + DateTimeUtility::FormatDateStamp(seen).toLatin1() + "\r\n";
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size()) {
        std::abort();
    }
    return name;
}

void BM_StatLoop(benchmark::State& state)
{
    const FileSet& files = Files(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        for (const QByteArray& name : files.plainBytes) {
            struct stat st
            { };
            benchmark::DoNotOptimize(::stat(name.constData(), &st));
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// The folder opened once a pass, as a check cycle opens it, and each file stat-ed relative to it.
void BM_FstatatLoop(benchmark::State& state)
{
    const FileSet& files = Files(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const int folder = ::open(files.folderBytes.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        for (const QByteArray& name : files.baseBytes) {
            struct stat st
            { };
            benchmark::DoNotOptimize(::fstatat(folder, name.constData(), &st, 0));
        }
        ::close(folder);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Each pass is one check cycle, with the folder handles the monitor gives it.
void checkAll(benchmark::State& state, Kind kind)
{
    const int count = static_cast<int>(state.range(0));
    cSettings s;
    s.ReadSettings(Profile(count, kind));
    for (qint16 i = 1; i <= s.NumberFiles(); ++i) {
        (void)s.MonitorFile(i)->CheckFile(); // the first cycle after loading
    }
    const quint64 before = s.Store()->Replacements();
    for (auto _ : state) {
        s.BeginCheckCycle();
        for (qint16 i = 1; i <= s.NumberFiles(); ++i) {
            benchmark::DoNotOptimize(s.MonitorFile(i)->CheckFile(s.CycleFolders()));
        }
        s.EndCheckCycle();
    }
    state.counters["replacements"] = static_cast<double>(s.Store()->Replacements() - before);
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_CheckFile(benchmark::State& state)
{
    checkAll(state, Kind::Unchanged);
}

void BM_CheckFileTemplate(benchmark::State& state)
{
    checkAll(state, Kind::Templated);
}

void BM_CheckFileStaleNotified(benchmark::State& state)
{
    checkAll(state, Kind::StaleNotified);
}

void BM_ReadBytesAndStat(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const QString path = ProfileFormat::ProfilePath(Profile(count, Kind::Unchanged));
    const FileSet& files = Files(count);
    for (auto _ : state) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(f.readAll());
        for (const QByteArray& name : files.plainBytes) {
            struct stat st
            { };
            benchmark::DoNotOptimize(::stat(name.constData(), &st));
        }
    }
}

void BM_ReadSettings(benchmark::State& state)
{
    const QString name = Profile(static_cast<int>(state.range(0)), Kind::Unchanged);
    for (auto _ : state) {
        cSettings s; // reads from disk every time, as a fresh start does
        benchmark::DoNotOptimize(s.ReadSettings(name));
    }
}

void BM_WriteBytesOnce(benchmark::State& state)
{
    const QString path = ProfileFormat::ProfilePath(Profile(static_cast<int>(state.range(0)), Kind::Unchanged));
    QFile in(path);
    in.open(QIODevice::ReadOnly);
    const QByteArray bytes = in.readAll();
    // Beside the profile, so both writes meet the same folder and file system state.
    const QString target = QFileInfo(path).absolutePath() + QStringLiteral("/plain-write.ini");
    for (auto _ : state) {
        QSaveFile out(target);
        out.open(QIODevice::WriteOnly);
        out.write(bytes);
        benchmark::DoNotOptimize(out.commit());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

void BM_WriteSettings(benchmark::State& state)
{
    const QString name = Profile(static_cast<int>(state.range(0)), Kind::Unchanged);
    cSettings s;
    s.ReadSettings(name);
    const quint64 before = s.Store()->Replacements();
    int poll = 31;
    for (auto _ : state) {
        s.SetPollInterval(poll++); // one real change, so the file is replaced each time
        benchmark::DoNotOptimize(s.WriteSettings());
    }
    state.counters["replacements_per_write"] =
        static_cast<double>(s.Store()->Replacements() - before) / static_cast<double>(state.iterations());
}

// What the settings dialog's OK does: every file removed, then the edited list
// added back one by one, inside the one transaction the dialog holds.
void BM_ReplaceAllFiles(benchmark::State& state)
{
    const QString name = Profile(static_cast<int>(state.range(0)), Kind::Unchanged);
    cSettings s;
    s.ReadSettings(name);
    std::vector<cMonitorFile> working;
    for (qint16 n = 1; n <= s.NumberFiles(); ++n) {
        working.push_back(*s.MonitorFile(n));
    }
    const bool batched = state.range(1) != 0;
    for (auto _ : state) {
        ProfileStore::Transaction transaction(*s.Store());
        std::optional<cSettings::WriteBatch> batch;
        if (batched) {
            batch.emplace(s);
        }
        for (qint16 n = s.NumberFiles(); n >= 1; --n) {
            s.RemoveFile(n);
        }
        for (const cMonitorFile& file : working) {
            s.AddFile(&file);
        }
        batch.reset();
        benchmark::DoNotOptimize(transaction.Commit());
    }
}

} // namespace

// Without a batch (each call saves, as a lone RemoveFile or AddFile does) and with one (the dialog).
BENCHMARK(BM_ReplaceAllFiles)
    ->Args({1000, 0})
    ->Args({1000, 1})
    ->Args({10000, 1})
    ->ArgNames({"files", "batched"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatLoop)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FstatatLoop)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckFile)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckFileTemplate)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckFileStaleNotified)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBytesAndStat)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSettings)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteBytesOnce)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteSettings)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // A profile folder of our own, away from the user's profiles.
    char templ[] = "/tmp/sentrel-bench-XXXXXX";
    if (!mkdtemp(templ)) {
        return 1;
    }
    g_root = QString::fromLocal8Bit(templ);
    ::setenv("XDG_DATA_HOME", templ, 1);
    ::setenv("XDG_STATE_HOME", templ, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QDir(g_root).removeRecursively();
    return 0;
}
