// Profile documents: bytes go back unchanged, and every write reads back
// exactly after a round trip through bytes without disturbing other keys.

#include "support/IniDocument.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <utility>

namespace {

void require(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// Choices come from the end of the input, so its start can stay a plausible profile.
class Tape
{
public:
    explicit Tape(QByteArrayView data)
        : m_data(data)
        , m_position(data.size())
    { }
    [[nodiscard]] unsigned next() { return m_position > 0 ? quint8(m_data[--m_position]) : 0u; }

private:
    QByteArrayView m_data;
    qsizetype m_position;
};

[[nodiscard]] QString fragment(QByteArrayView data, Tape& tape)
{
    if (data.isEmpty()) {
        return {};
    }
    const qsizetype start = qsizetype(tape.next() * 256 + tape.next()) % data.size();
    const qsizetype length = qMin(qsizetype(tape.next() % 24), data.size() - start);
    return QString::fromUtf8(data.sliced(start, length));
}

// Names as the input spells them, so that writes also hit existing lines.
void collectNames(QByteArrayView data, QList<QString>& sections, QList<QString>& keys)
{
    qsizetype start = 0;
    while (start < data.size() && (sections.size() < 8 || keys.size() < 8)) {
        qsizetype end = data.indexOf('\n', start);
        if (end < 0) {
            end = data.size();
        }
        const QByteArrayView line = data.sliced(start, end - start);
        const qsizetype open = line.indexOf('[');
        const qsizetype close = open < 0 ? -1 : line.indexOf(']', open);
        const qsizetype equals = line.indexOf('=');
        if (close > open && sections.size() < 8) {
            sections.append(QString::fromUtf8(line.sliced(open + 1, close - open - 1)));
        } else if (equals >= 0 && keys.size() < 8) {
            keys.append(QString::fromUtf8(line.first(equals)));
        }
        start = end + 1;
    }
}

[[nodiscard]] QString pick(const QList<QString>& names, QByteArrayView data, Tape& tape)
{
    const unsigned choice = tape.next();
    if (choice >= 192 || names.isEmpty()) {
        return fragment(data, tape);
    }
    const QString& name = names[qsizetype(choice) % names.size()];
    return choice & 1 ? name.toUpper() : name;
}

// What a written value reads back as: nothing can break its line.
[[nodiscard]] QString asWritten(QString value)
{
    for (QChar& c : value) {
        if (c == u'\r' || c == u'\n' || c == u'\0') {
            c = u' ';
        }
    }
    return value;
}

struct Probe
{
    QString section;
    QString key;
    std::optional<QString> value;
};

void checkRoundTrip(const IniDocument& doc,
                    const QString& section,
                    const QString& key,
                    const std::optional<QString>& expected)
{
    const QByteArray bytes = doc.Serialize();
    const IniDocument again = IniDocument::Parse(bytes);
    require(again.Serialize() == bytes);
    require(again.Value(section, key) == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    IniDocument doc = IniDocument::Parse(input);
    require(doc.Serialize() == input);

    QList<QString> sections;
    QList<QString> keys;
    collectNames(input, sections, keys);
    Tape tape(input);
    QList<Probe> probes;
    for (qsizetype s = 0; s < qMin<qsizetype>(sections.size(), 4); ++s) {
        for (qsizetype k = 0; k < qMin<qsizetype>(keys.size(), 4); ++k) {
            probes.append({sections[s], keys[k], doc.Value(sections[s], keys[k])});
        }
    }

    const unsigned operations = 1 + tape.next() % 6;
    for (unsigned i = 0; i < operations; ++i) {
        const bool remove = tape.next() % 3 == 0;
        const QString section = pick(sections, input, tape);
        const QString key = pick(keys, input, tape);
        const QByteArray before = doc.Serialize();
        const std::optional<QString> old = doc.Value(section, key);
        std::optional<QString> expected;
        if (remove) {
            bool removed = false;
            // Removing the first of duplicated keys reveals the next one.
            while (doc.RemoveKey(section, key)) {
                removed = true;
            }
            require(removed == old.has_value());
        } else {
            const QString value = fragment(input, tape);
            const bool changed = doc.SetValue(section, key, value);
            if (!IniDocument::CanWrite(section, key)) {
                require(!changed);
                require(doc.Serialize() == before);
                continue;
            }
            expected = asWritten(value);
            require(changed == (old != expected));
            require(changed || doc.Serialize() == before);
            require(!doc.SetValue(section, key, value));
        }
        require(doc.Value(section, key) == expected);
        checkRoundTrip(doc, section, key, expected);
        for (Probe& probe : probes) {
            std::optional<QString> now = doc.Value(probe.section, probe.key);
            // A probe may name the written key in other case or spacing.
            require(now == probe.value || now == expected);
            probe.value = std::move(now);
        }
    }
    return 0;
}
