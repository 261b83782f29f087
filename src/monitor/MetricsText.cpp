#include "monitor/MetricsText.h"

#include "model/cSettings.h"

#include <charconv>

namespace {

void appendNumber(QByteArray& out, qint64 value)
{
    char digits[24];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    out.append(digits, result.ptr - digits);
}

void appendSeconds(QByteArray& out, qint64 msecs)
{
    // Whole milliseconds as seconds with three decimals; exact, and no locale.
    if (msecs < 0) {
        out += '-';
        msecs = -msecs;
    }
    appendNumber(out, msecs / 1000);
    const qint64 fraction = msecs % 1000;
    out += '.';
    out += char('0' + fraction / 100);
    out += char('0' + fraction / 10 % 10);
    out += char('0' + fraction % 10);
}

void header(QByteArray& out, const char* name, const char* type, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

// The state a watch is in, as its status and flags tell.
const char* stateOf(const cMonitorFile& file)
{
    const QString& status = file.Status();
    if (file.IsMissing()) {
        return "missing";
    }
    if (status == QLatin1String("OK") || status == QLatin1String("Modified in the future!")) {
        return "ok";
    }
    if (status == QLatin1String("Changed!")) {
        return "changed";
    }
    if (status == QLatin1String("Out of Date!")) {
        return "out_of_date";
    }
    if (status == QLatin1String("File not found")) {
        return "not_found";
    }
    if (status == QLatin1String("No File")) {
        return "no_file";
    }
    return "error";
}

} // namespace

QByteArray MetricsText::LabelValue(const QString& text)
{
    QByteArray out = text.toUtf8();
    if (out.contains('\\') || out.contains('"') || out.contains('\n')) {
        out.replace("\\", "\\\\").replace("\"", "\\\"").replace("\n", "\\n");
    }
    return out;
}

QByteArray MetricsText::Render(const cSettings& settings, const Cycle& cycle)
{
    const qint32 count = settings.NumberFiles();
    const QByteArray profile = "profile=\"" + LabelValue(settings.ProfileName()) + '"';
    QByteArray out;
    out.reserve(1024 + qsizetype(count) * 400);

    // One label set per watch, used by each of its lines; the position keeps
    // two watches of one name apart.
    std::vector<QByteArray> labels;
    labels.reserve(size_t(qMax(0, count)));
    for (qint32 i = 1; i <= count; ++i) {
        const cMonitorFile& file = *settings.MonitorFile(static_cast<qint16>(i));
        QByteArray set = '{' + profile + ",index=\"";
        appendNumber(set, i);
        set += "\",file=\"" + LabelValue(file.DisplayName()) + '"';
        labels.push_back(std::move(set));
    }
    const auto eachFile = [&](const char* name, const auto& value) {
        for (qint32 i = 1; i <= count; ++i) {
            const cMonitorFile& file = *settings.MonitorFile(static_cast<qint16>(i));
            value(file, [&](const QByteArray& extraLabel, const auto& write) {
                out += name;
                out += labels[size_t(i - 1)];
                out += extraLabel;
                out += "} ";
                write();
                out += '\n';
            });
        }
    };

    const qint64 nowMSecs = cycle.endedMSecs;
    header(out, "sentrel_file_last_modified_seconds", "gauge", "Last-modified time of the watched file, as last seen.");
    eachFile("sentrel_file_last_modified_seconds", [&](const cMonitorFile& file, const auto& line) {
        if (file.LastModifiedSD().Day > 0) {
            line({}, [&] { appendNumber(out, file.LastModifiedVB().toSecsSinceEpoch()); });
        }
    });
    header(out, "sentrel_file_age_seconds", "gauge", "Seconds from the file's last-modified time to the last check.");
    eachFile("sentrel_file_age_seconds", [&](const cMonitorFile& file, const auto& line) {
        if (file.LastModifiedSD().Day > 0) {
            line({}, [&] { appendSeconds(out, nowMSecs - file.LastModifiedVB().toMSecsSinceEpoch()); });
        }
    });
    header(
        out, "sentrel_file_needs_attention", "gauge", "1 when the watch is changed, out of date or missing, else 0.");
    eachFile("sentrel_file_needs_attention", [&](const cMonitorFile& file, const auto& line) {
        const QByteArray state = stateOf(file);
        const bool attention = state == "changed" || state == "out_of_date" || state == "missing";
        line({}, [&] { out += attention ? '1' : '0'; });
    });
    header(out,
           "sentrel_file_state",
           "gauge",
           "The watch's state at the last check, as a label: ok, changed, out_of_date, missing, not_found, no_file or "
           "error.");
    eachFile("sentrel_file_state", [&](const cMonitorFile& file, const auto& line) {
        line(QByteArray(",state=\"") + stateOf(file) + '"', [&] { out += '1'; });
    });

    const auto profileLine = [&](const char* name, const auto& write) {
        out += name;
        out += '{' + profile + "} ";
        write();
        out += '\n';
    };
    header(out, "sentrel_last_cycle_timestamp_seconds", "gauge", "When the last check cycle ended.");
    profileLine("sentrel_last_cycle_timestamp_seconds", [&] { appendSeconds(out, cycle.endedMSecs); });
    header(out, "sentrel_last_cycle_duration_seconds", "gauge", "How long the last check cycle took.");
    profileLine("sentrel_last_cycle_duration_seconds", [&] { appendSeconds(out, cycle.tookMSecs); });
    header(out, "sentrel_notifications_sent_total", "counter", "Notifications the server accepted.");
    profileLine("sentrel_notifications_sent_total", [&] { appendNumber(out, qint64(cycle.sent)); });
    header(out, "sentrel_notifications_failed_total", "counter", "Notifications that could not be sent.");
    profileLine("sentrel_notifications_failed_total", [&] { appendNumber(out, qint64(cycle.failed)); });
    return out;
}
