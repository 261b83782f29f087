#include "monitor/MetricsText.h"

#include "model/cSettings.h"

#include <charconv>
#include <cstring>
#include <vector>

namespace {

// Appends to a buffer sized beforehand for all it will hold: tens of
// thousands of short pieces a cycle, each one copy.
class Writer
{
public:
    explicit Writer(qsizetype capacity) { m_bytes.resize(capacity); }

    Writer& operator<<(const char* text) { return put(text, std::strlen(text)); }
    Writer& operator<<(QByteArrayView bytes) { return put(bytes.data(), size_t(bytes.size())); }
    Writer& operator<<(const QByteArray& bytes) { return put(bytes.constData(), size_t(bytes.size())); }
    // A label value: backslash, double quote and line feed escaped as the format says.
    Writer& Escaped(const QByteArray& bytes)
    {
        if (!bytes.contains('\\') && !bytes.contains('"') && !bytes.contains('\n')) {
            return *this << bytes;
        }
        for (const char c : bytes) {
            if (c == '\\' || c == '"') {
                *this << '\\' << c;
            } else if (c == '\n') {
                *this << "\\n";
            } else {
                *this << c;
            }
        }
        return *this;
    }
    [[nodiscard]] qsizetype Size() const { return m_at; }
    Writer& operator<<(char c) { return put(&c, 1); }
    Writer& operator<<(qint64 value)
    {
        char digits[24];
        return put(digits, size_t(std::to_chars(std::begin(digits), std::end(digits), value).ptr - digits));
    }
    // Whole milliseconds as seconds with three decimals: exact, and no locale.
    Writer& Seconds(qint64 msecs)
    {
        if (msecs < 0) {
            *this << '-';
            msecs = -msecs;
        }
        *this << msecs / 1000 << '.';
        const qint64 fraction = msecs % 1000;
        return *this << char('0' + fraction / 100) << char('0' + fraction / 10 % 10) << char('0' + fraction % 10);
    }
    QByteArray Take()
    {
        m_bytes.truncate(m_at);
        return std::move(m_bytes);
    }

private:
    Writer& put(const char* data, size_t size)
    {
        if (m_at + qsizetype(size) > m_bytes.size()) {
            m_bytes.resize(2 * (m_at + qsizetype(size))); // beyond the estimate: never, but safe
        }
        std::memcpy(m_bytes.data() + m_at, data, size);
        m_at += qsizetype(size);
        return *this;
    }

    QByteArray m_bytes;
    qsizetype m_at = 0;
};

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

constexpr const char* kFamilies[][3] = {
    {"sentrel_file_last_modified_seconds", "gauge", "Last-modified time of the watched file, as last seen."},
    {"sentrel_file_age_seconds", "gauge", "Seconds from the file's last-modified time to the end of the last cycle."},
    {"sentrel_file_needs_attention", "gauge", "1 when the watch is changed, out of date or missing, else 0."},
    {"sentrel_file_state",
     "gauge",
     "The watch's state at the last check, as a label: ok, changed, out_of_date, missing, not_found, no_file or "
     "error."},
    {"sentrel_last_cycle_timestamp_seconds", "gauge", "When the last check cycle ended."},
    {"sentrel_last_cycle_duration_seconds", "gauge", "How long the last check cycle took."},
    {"sentrel_notifications_sent_total", "counter", "Notifications the server accepted."},
    {"sentrel_notifications_failed_total", "counter", "Notifications that could not be sent."},
};

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
    const qint32 count = qMax<qint32>(0, settings.NumberFiles());
    const QByteArray profile = "{profile=\"" + LabelValue(settings.ProfileName()) + '"';
    // Each watch's own labels, used by each of its lines, kept end to end in
    // one buffer; the position keeps two watches of one name apart.
    Writer labelText(qsizetype(count) * 96);
    std::vector<qsizetype> labelEnds(static_cast<size_t>(count));
    std::vector<const char*> states(static_cast<size_t>(count));
    for (qint32 i = 0; i < count; ++i) {
        const cMonitorFile& file = *settings.MonitorFile(static_cast<qint16>(i + 1));
        labelText << ",index=\"" << qint64(i + 1) << "\",file=\"";
        labelText.Escaped(file.DisplayName().toUtf8()) << '"';
        labelEnds[size_t(i)] = labelText.Size();
        states[size_t(i)] = stateOf(file);
    }
    const QByteArray labels = labelText.Take();
    // Four lines a watch, each a name, both label parts, perhaps a state label, a value and punctuation.
    Writer out(8192 + 4 * (labels.size() + qsizetype(count) * (profile.size() + 128)));
    const auto header = [&](int family) {
        const auto& [name, type, help] = kFamilies[family];
        out << "# HELP " << name << ' ' << help << "\n# TYPE " << name << ' ' << type << '\n';
    };
    const auto fileLine = [&](int family, qint32 i) -> Writer& {
        const qsizetype from = i == 0 ? 0 : labelEnds[size_t(i - 1)];
        return out << kFamilies[family][0] << profile
                   << QByteArrayView(labels).sliced(from, labelEnds[size_t(i)] - from);
    };

    header(0);
    for (qint32 i = 0; i < count; ++i) {
        const cMonitorFile& file = *settings.MonitorFile(static_cast<qint16>(i + 1));
        if (file.LastModifiedSD().Day > 0) {
            fileLine(0, i) << "} " << file.LastModifiedSecs() << '\n';
        }
    }
    header(1);
    for (qint32 i = 0; i < count; ++i) {
        const cMonitorFile& file = *settings.MonitorFile(static_cast<qint16>(i + 1));
        if (file.LastModifiedSD().Day > 0) {
            fileLine(1, i) << "} ";
            out.Seconds(cycle.endedMSecs - file.LastModifiedSecs() * 1000) << '\n';
        }
    }
    header(2);
    for (qint32 i = 0; i < count; ++i) {
        const QByteArrayView state(states[size_t(i)]);
        const bool attention = state == "changed" || state == "out_of_date" || state == "missing";
        fileLine(2, i) << "} " << (attention ? '1' : '0') << '\n';
    }
    header(3);
    for (qint32 i = 0; i < count; ++i) {
        fileLine(3, i) << ",state=\"" << states[size_t(i)] << "\"} 1\n";
    }

    header(4);
    out << kFamilies[4][0] << profile << "} ";
    out.Seconds(cycle.endedMSecs) << '\n';
    header(5);
    out << kFamilies[5][0] << profile << "} ";
    out.Seconds(cycle.tookMSecs) << '\n';
    header(6);
    out << kFamilies[6][0] << profile << "} " << qint64(cycle.sent) << '\n';
    header(7);
    out << kFamilies[7][0] << profile << "} " << qint64(cycle.failed) << '\n';
    return out.Take();
}
