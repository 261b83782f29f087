#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <memory>
#include <optional>

// An INI text kept as its lines, so that everything not written to (comments,
// unknown sections, lines it does not understand, binary bytes) goes back to
// disk byte for byte. Sections and keys match without regard to case; the
// first of duplicated sections or keys is the one read and written. Lookups
// build per-section indexes lazily, so even const use is for one thread.
class IniDocument
{
public:
    IniDocument();
    ~IniDocument();
    IniDocument(const IniDocument& other);
    IniDocument& operator=(const IniDocument& other);
    IniDocument(IniDocument&&) noexcept;
    IniDocument& operator=(IniDocument&&) noexcept;

    // Never fails: any bytes give a document.
    [[nodiscard]] static IniDocument Parse(QByteArrayView bytes);
    [[nodiscard]] QByteArray Serialize() const;
    // False for bytes that are surely no INI text: a NUL byte (binary data,
    // UTF-16), or lines of which none is a section, a key or a comment.
    [[nodiscard]] bool LooksLikeIni() const;

    // The key's value, or nothing when the section or key is absent.
    [[nodiscard]] std::optional<QString> Value(QStringView section, QStringView key) const;
    // Writes key=value, appending a new section at the end or a new key at the end
    // of its section. Returns true when the document changed.
    bool SetValue(QStringView section, QStringView key, QStringView value);
    // Deletes the key. Returns true when the document changed.
    bool RemoveKey(QStringView section, QStringView key);
    // Where a section stands in this document: its place, which stays the same
    // for as long as the document lives (sections are only ever appended), and
    // its version, which changes with every change to its keys and never returns
    // to an earlier value; 0 for an untouched section.
    struct SectionMark
    {
        qsizetype Place = -1;
        quint64 Version = 0;
    };
    // Nothing when there is no such section.
    [[nodiscard]] std::optional<SectionMark> FindSection(QStringView section) const;
    // The version of the section at a place FindSection gave; nothing for a place outside the document.
    [[nodiscard]] std::optional<quint64> SectionVersionAt(qsizetype place) const;
    // False for names no INI line can hold: a key with '=' or starting with
    // ';', '#' or '[', a section with ']'. SetValue ignores such names.
    [[nodiscard]] static bool CanWrite(QStringView section, QStringView key);

private:
    struct Data;
    std::unique_ptr<Data> d;
};
