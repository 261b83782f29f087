// The check cycle over 1,000 and 10,000 monitored files: with the main
// window (rows, status label, progress bar and the repaint that follows)
// beside its floor, the same core cycle driving a plain table of rows.
#include "app/frmMain.h"
#include "model/ProfileFormat.h"
#include "model/cSettings.h"
#include "monitor/cCheckCycle.h"
#include "monitor/cCycleView.h"
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
void WriteProfile(int count)
{
    const QString dir = g_root + QStringLiteral("/files-") + QString::number(count);
    QDir().mkpath(dir);
    QByteArray text = "[SMTPServer]\nEnabled=0\n[General]\nNumberFiles=" + QByteArray::number(count) + "\n";
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

// The rows of a list without widgets, as a headless view keeps them.
class TableView : public cCycleView
{
public:
    explicit TableView(const cSettings& settings)
    {
        for (qint16 i = 1; i <= settings.NumberFiles(); ++i) {
            const cMonitorFile* f = settings.MonitorFile(i);
            m_rows.push_back({f->DisplayName(), cCheckCycle::LastModifiedText(*f), f->Status(), White, false});
        }
    }
    void AddHistory(const QDateTime&, const QString& text) override { m_lastHistory = text; }
    void ShowStatus(const QString& text) override { m_status = text; }
    void ShowProgress(int percent) override { m_progress = percent; }
    void EnterRunning() override { }
    void LeaveRunning() override { }
    void SelectRow(qint16 row) override { m_selected = row; }
    QString CellText(qint16 row, Cell cell) const override { return valid(row) ? cellOf(row, cell) : QString(); }
    void SetCellText(qint16 row, Cell cell, const QString& text) override
    {
        if (valid(row)) {
            cellOf(row, cell) = text;
        }
    }
    quint32 RowColour(qint16 row) const override { return valid(row) ? m_rows[row - 1].colour : 0; }
    void SetRowColour(qint16 row, quint32 rgb) override
    {
        if (valid(row)) {
            m_rows[row - 1].colour = rgb;
        }
    }
    void HighlightRow(qint16 row, bool on) override
    {
        if (valid(row)) {
            m_rows[row - 1].bold = on;
        }
    }

private:
    struct Row
    {
        QString name, modified, status;
        quint32 colour;
        bool bold;
    };
    bool valid(qint16 row) const { return row >= 1 && row <= static_cast<qint16>(m_rows.size()); }
    const QString& cellOf(qint16 row, Cell cell) const
    {
        const Row& r = m_rows[row - 1];
        return cell == Cell::FileName ? r.name : cell == Cell::LastModified ? r.modified : r.status;
    }
    QString& cellOf(qint16 row, Cell cell)
    {
        Row& r = m_rows[row - 1];
        return cell == Cell::FileName ? r.name : cell == Cell::LastModified ? r.modified : r.status;
    }

    std::vector<Row> m_rows;
    QString m_status;
    QString m_lastHistory;
    int m_progress = 0;
    qint16 m_selected = 0;
};

void BM_CoreCycle(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    WriteProfile(count);
    cSettings settings;
    settings.ReadSettings(QStringLiteral("Profile1"));
    TableView view(settings);
    cCheckCycle cycle(view);
    cycle.SetSettings(&settings);
    cycle.CheckNow();
    for (auto _ : state) {
        cycle.CheckNow();
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
    window.Cycle().CheckNow();
    QApplication::processEvents();
    for (auto _ : state) {
        window.Cycle().CheckNow();
        // The repaint of what the cycle changed belongs to its cost.
        QApplication::processEvents();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

BENCHMARK(BM_CoreCycle)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
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
