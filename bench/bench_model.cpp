// The monitoring model against its floors: CheckFile beside a bare stat()
// loop, ReadSettings beside reading the profile's bytes and stat-ing the
// files, WriteSettings beside writing the same bytes once.
#include "model/ProfileFormat.h"
#include "model/cSettings.h"
#include "support/IniFile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString g_root;

// N plain files (and, for templated names, files named for this year), created once.
struct FileSet
{
    std::vector<QString> plain;
    std::vector<QByteArray> plainBytes;
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
        set.plain.push_back(name);
        set.plainBytes.push_back(QFile::encodeName(name));
        set.templated.push_back(dir + QStringLiteral("/log-") + QString::number(i) + QStringLiteral(".#yyyy#.txt"));
    }
    return sets.emplace(count, std::move(set)).first->second;
}

// A profile of N files, all seen before (as a running program holds them).
QString Profile(int count, bool templated)
{
    const QString name = QStringLiteral("Bench") + QString::number(count) + (templated ? QStringLiteral("t") : QString());
    const QString path = ProfileFormat::ProfilePath(name);
    if (QFile::exists(path)) {
        return name;
    }
    const FileSet& files = Files(count);
    cSettings s;
    s.ReadSettings(name);
    {
        IniFile::Transaction batch(path);
        for (int i = 0; i < count; ++i) {
            cMonitorFile f;
            f.SetRawFileName(templated ? files.templated[i] : files.plain[i]);
            s.AddFile(&f);
        }
    }
    s.SetSMTPServerAddress(QStringLiteral("mail.example.com"));
    s.WriteSettings();
    return name;
}

void BM_StatLoop(benchmark::State& state)
{
    const FileSet& files = Files(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        for (const QByteArray& name : files.plainBytes) {
            struct stat st {};
            benchmark::DoNotOptimize(::stat(name.constData(), &st));
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void checkAll(benchmark::State& state, bool templated)
{
    const int count = static_cast<int>(state.range(0));
    cSettings s;
    s.ReadSettings(Profile(count, templated));
    const quint64 before = IniFile::Replacements();
    for (auto _ : state) {
        for (qint16 i = 1; i <= s.NumberFiles(); ++i) {
            benchmark::DoNotOptimize(s.MonitorFile(i)->CheckFile());
        }
    }
    state.counters["replacements"] = static_cast<double>(IniFile::Replacements() - before);
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_CheckFile(benchmark::State& state)
{
    checkAll(state, false);
}

void BM_CheckFileTemplate(benchmark::State& state)
{
    checkAll(state, true);
}

void BM_ReadBytesAndStat(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const QString path = ProfileFormat::ProfilePath(Profile(count, false));
    const FileSet& files = Files(count);
    for (auto _ : state) {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(f.readAll());
        for (const QByteArray& name : files.plainBytes) {
            struct stat st {};
            benchmark::DoNotOptimize(::stat(name.constData(), &st));
        }
    }
}

void BM_ReadSettings(benchmark::State& state)
{
    const QString name = Profile(static_cast<int>(state.range(0)), false);
    for (auto _ : state) {
        IniFile::ForgetAll(); // read from disk every time, as a fresh start does
        cSettings s;
        benchmark::DoNotOptimize(s.ReadSettings(name));
    }
}

void BM_WriteBytesOnce(benchmark::State& state)
{
    const QString path = ProfileFormat::ProfilePath(Profile(static_cast<int>(state.range(0)), false));
    QFile in(path);
    in.open(QIODevice::ReadOnly);
    const QByteArray bytes = in.readAll();
    const QString target = g_root + QStringLiteral("/plain-write.ini");
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
    const QString name = Profile(static_cast<int>(state.range(0)), false);
    cSettings s;
    s.ReadSettings(name);
    const quint64 before = IniFile::Replacements();
    int poll = 31;
    for (auto _ : state) {
        s.SetPollInterval(poll++); // one real change, so the file is replaced each time
        benchmark::DoNotOptimize(s.WriteSettings());
    }
    state.counters["replacements_per_write"] =
        static_cast<double>(IniFile::Replacements() - before) / static_cast<double>(state.iterations());
}

} // namespace

BENCHMARK(BM_StatLoop)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckFile)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckFileTemplate)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
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
