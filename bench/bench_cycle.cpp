// The check cycle over 1,000 and 10,000 monitored files: with the main
// window (rows, status label, progress bar and the repaint that follows)
// beside its floor, the same monitor with nobody listening.
#include "app/frmMain.h"
#include "model/ProfileFormat.h"
#include "model/cSettings.h"
#include "monitor/cMonitor.h"
#include "support/DateTimeUtility.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

QString g_root;

// Profile "Profile1" with N files, all seen before and untouched since: the
// steady state of a running program, where a cycle notifies nothing.
void WriteProfile(int count, const QByteArray& general = {})
{
    const QString dir = g_root + QStringLiteral("/files-") + QString::number(count);
    QDir().mkpath(dir);
    QByteArray text = "[SMTPServer]\nEnabled=0\n[General]\nNumberFiles=" + QByteArray::number(count) + "\n" + general;
    for (int i = 0; i < count; ++i) {
        const QString name = dir + QStringLiteral("/export-") + QString::number(i) + QStringLiteral(".csv");
        QFile f(name);
        if (!f.exists()) {
            if (!f.open(QIODevice::WriteOnly) || f.write("x") != 1) {
                std::abort();
            }
            f.close();
        }
        struct stat st
        { };
        ::stat(QFile::encodeName(name).constData(), &st);
        DateTimeStamp seen;
        if (!DateTimeUtility::StampFromTimeT(st.st_mtime, seen)) {
            std::abort();
        }
        text += "[File" + QByteArray::number(i + 1) + "]\nFileName=" + name.toUtf8() +
                "\nLastModified=" + DateTimeUtility::FormatDateStamp(seen).toLatin1() + "\n";
    }
    const QString path = ProfileFormat::ProfilePath(QStringLiteral("Profile1"));
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(text) != text.size()) {
        std::abort();
    }
}

// The monitor alone, its rows kept by nobody: what the service runs. With an
// argument of 1 it also replaces a metrics file for Prometheus after each cycle.
void BM_CoreCycle(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    WriteProfile(count, state.range(1) ? "MetricsFile=" + QFile::encodeName(g_root) + "/sentrel.prom\n" : QByteArray());
    cMonitor monitor;
    if (!monitor.Load(QStringLiteral("Profile1"))) {
        state.SkipWithError("the profile was not read");
        return;
    }
    monitor.CheckNow();
    for (auto _ : state) {
        monitor.CheckNow();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_WindowCycle(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    WriteProfile(count);
    frmMain window;
    if (!window.Load({QStringLiteral("/NOPREVCHECK")})) {
        state.SkipWithError("the window did not start");
        return;
    }
    window.resize(900, 600);
    window.Monitor().CheckNow();
    QApplication::processEvents();
    for (auto _ : state) {
        window.Monitor().CheckNow();
        // The repaint of what the cycle changed belongs to its cost.
        QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_CoreCycle)
    ->ArgNames({"files", "metrics"})
    ->Args({1000, 0})
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WindowCycle)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    // A scratch home for the profile and the files, before any Qt call fixes the paths.
    QByteArray templ = QByteArray(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/sentrel-bench-XXXXXX";
    if (!mkdtemp(templ.data())) {
        return 1;
    }
    g_root = QString::fromLocal8Bit(templ);
    for (const char* var : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"}) {
        const QByteArray path = templ + "/" + var;
        ::mkdir(path.constData(), 0700);
        ::setenv(var, path.constData(), 1);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QDir(g_root).removeRecursively();
    return 0;
}
