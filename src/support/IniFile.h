#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// The profile (INI) file functions: reads and writes of single keys of a file
// on disk. Documents are cached and checked against the file's identity on
// disk, so an edit by hand or by another program is seen. Every write replaces
// the file atomically; a write that would change nothing does not touch it.
// All calls come from one thread.
class IniFile
{
public:
    // The key's text, or the default when the key (or the file) is absent.
    [[nodiscard]] static QString
    ReadString(const QString& section, const QString& key, const QString& defaultValue, const QString& file);
    // The default when the key is absent; otherwise the number formed by the
    // value's leading digits with an optional sign (no digits reads as 0),
    // clamped to the 32-bit range.
    [[nodiscard]] static qint32
    ReadInt(const QString& section, const QString& key, qint32 defaultValue, const QString& file);
    // Writes key=value, or deletes the key when value is nothing. False when the
    // file could not be replaced (the old file stays whole).
    static bool
    WriteString(const QString& section, const QString& key, const std::optional<QString>& value, const QString& file);

    // Groups the writes to one file: they reach the disk as one replacement when
    // the outermost transaction ends (or Commit is called), with exactly the
    // result that writing each key in turn would give.
    class Transaction
    {
    public:
        explicit Transaction(const QString& file);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        // Ends the transaction early; false when the file could not be replaced.
        bool Commit();

    private:
        QString m_file;
        bool m_open = true;
    };

    // Where a section's keys stand: while Unchanged holds, nobody (this process
    // or, through the file, another) has changed them since StateOf was read.
    struct SectionState
    {
        quint64 Load = 0;
        qsizetype Place = -1;
        quint64 Version = 0;
    };
    // Nothing when the file cannot be read or has no such section.
    [[nodiscard]] static std::optional<SectionState> StateOf(const QString& section, const QString& file);
    [[nodiscard]] static bool Unchanged(const SectionState& state, const QString& file);

    // How often this process found the file changed by someone else since it
    // last read or wrote it, and read it again: a writer that merged such an
    // edit learns that its picture of the whole file is out of date.
    [[nodiscard]] static quint64 OutsideChanges(const QString& file);
    // Whether the file on disk is no longer what this process last read or
    // wrote; false when it has not read the file at all.
    [[nodiscard]] static bool ChangedOnDisk(const QString& file);

    // Why the file is there but cannot serve as a profile (a folder, an error
    // reading it, not an INI file at all): it then reads as empty and is never
    // replaced. Empty when it was read or does not exist.
    [[nodiscard]] static QString ReadProblem(const QString& file);
    // Why the last replacement of the file failed; empty once one succeeded.
    [[nodiscard]] static QString WriteProblem(const QString& file);

    // The steps of a replacement. A test may fail one: the injector is asked
    // after each of the first three and before the commit, and an error number
    // other than 0 fails that step as the system would.
    enum class Step { Open, Write, Sync, Commit };
    using FaultInjector = int (*)(Step step);
    static void SetFaultInjector(FaultInjector injector);

    // Number of file replacements made by this process (for tests and benchmarks).
    [[nodiscard]] static quint64 Replacements();
    // Drops every cached document.
    static void ForgetAll();
};
