// Notifications end to end: composing from the template and sending to a
// mail server on loopback, beside curl sending the same prepared message.
#include "SmtpSink.h"
#include "model/cMonitorFile.h"
#include "model/cSettings.h"
#include "notify/MailNotifier.h"
#include "notify/NotificationText.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

QString g_root;
SmtpSink* g_sink = nullptr;

const cSettings& Settings()
{
    static cSettings settings = [] {
        const QString file = g_root + QStringLiteral("/export.csv");
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write("a,b,c\n") != 6) {
            std::abort();
        }
        f.close();
        cSettings s;
        s.ReadSettings(QStringLiteral("Bench"));
        s.SetSMTPServerAddress(QStringLiteral("127.0.0.1"));
        s.SetSMTPPort(g_sink->Port());
        s.SetEmailFrom(QStringLiteral("sentrel@example.com"));
        s.SetEmailTo(QStringLiteral("ops@example.com"));
        cMonitorFile m;
        m.SetRawFileName(file);
        m.SetAttachFileToEmail(true);
        s.AddFile(&m);
        return s;
    }();
    return settings;
}

// Sends one notification of the profile's file and waits for its outcome; the only event loop running.
bool SendOne()
{
    static MailNotifier notifier(NotificationText::TemplateFolders());
    const std::optional<Notification> n = NotificationText::ToNotify(Settings(), 1);
    if (!n) {
        return false;
    }
    bool sent = false;
    QEventLoop loop;
    QObject::connect(&notifier, &Notifier::Finished, &loop, [&](bool ok, const QString&) {
        sent = ok;
        loop.quit();
    });
    notifier.Send(*n);
    loop.exec();
    return sent;
}

void BM_ComposeAndSend(benchmark::State& state)
{
    for (auto _ : state) {
        if (!SendOne()) {
            state.SkipWithError("the notification was not sent");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_CurlUploadFile(benchmark::State& state)
{
    // The message as the server received it from us, prepared once.
    if (!SendOne()) {
        state.SkipWithError("no message to prepare");
        return;
    }
    const QString message = g_root + QStringLiteral("/prepared.eml");
    QFile out(message);
    if (!out.open(QIODevice::WriteOnly) || out.write(g_sink->Messages().last().Raw) < 0) {
        state.SkipWithError("cannot write the prepared message");
        return;
    }
    out.close();
    const QStringList arguments = {QStringLiteral("--silent"),
                                   QStringLiteral("--show-error"),
                                   QStringLiteral("--url"),
                                   QStringLiteral("smtp://127.0.0.1:%1").arg(g_sink->Port()),
                                   QStringLiteral("--mail-from"),
                                   QStringLiteral("sentrel@example.com"),
                                   QStringLiteral("--mail-rcpt"),
                                   QStringLiteral("ops@example.com"),
                                   QStringLiteral("--upload-file"),
                                   message};
    for (auto _ : state) {
        QProcess curl;
        curl.start(QStringLiteral("curl"), arguments);
        if (!curl.waitForFinished(30000) || curl.exitCode() != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_ComposeAndSend)->Iterations(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlUploadFile)->Iterations(100)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    char templ[] = "/tmp/sentrel-bench-notify-XXXXXX";
    if (!mkdtemp(templ)) {
        return 1;
    }
    g_root = QString::fromLocal8Bit(templ);
    for (const char* variable : {"XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS"}) {
        ::setenv(variable, templ, 1);
    }
    QCoreApplication app(argc, argv);
    int status = 0;
    {
        SmtpSink sink;
        if (!sink.Started()) {
            fprintf(stderr, "The mail server did not start: %s\n", qPrintable(sink.Error()));
            status = 1;
        } else {
            g_sink = &sink;
            benchmark::Initialize(&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
            g_sink = nullptr;
        }
    }
    QDir(g_root).removeRecursively();
    return status;
}
