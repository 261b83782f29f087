#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

class cSettings;

// The state of one profile's watches in the Prometheus text format, for the
// textfile collector of node_exporter: per watch its last-modified time, its
// age, whether it needs attention and its state; per profile the last cycle
// and the notifications sent and failed.
namespace MetricsText {

struct Cycle
{
    qint64 endedMSecs = 0; // wall clock, when the cycle ended
    qint64 tookMSecs = 0;
    quint64 sent = 0; // notifications since the program started
    quint64 failed = 0;
};

[[nodiscard]] QByteArray Render(const cSettings& settings, const Cycle& cycle);
// A label value as the format wants it: backslash, double quote and line feed escaped.
[[nodiscard]] QByteArray LabelValue(const QString& text);

} // namespace MetricsText
