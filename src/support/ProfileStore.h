#pragma once

#include "support/IniDocument.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <optional>
#include <vector>

// One profile (INI) file: its lossless document, checked against the file's
// identity on disk so that an edit by hand or by another program is seen.
// Every save replaces the file atomically; a write that would change nothing
// does not touch it. For one thread.
class ProfileStore
{
public:
    explicit ProfileStore(const QString& path);
    ProfileStore(const ProfileStore&) = delete;
    ProfileStore& operator=(const ProfileStore&) = delete;

    // The path as given.
    [[nodiscard]] const QString& Path() const { return m_path; }
    // Whether a path names this store's file (spelt the same or not).
    [[nodiscard]] bool IsFor(const QString& path) const;

    // The key's text, or the default when the key (or the file) is absent.
    [[nodiscard]] QString ReadString(const QString& section, const QString& key, const QString& defaultValue);
    // The default when the key is absent; otherwise the number formed by the
    // value's leading digits with an optional sign (no digits reads as 0),
    // clamped to the 32-bit range.
    [[nodiscard]] qint32 ReadInt(const QString& section, const QString& key, qint32 defaultValue);
    // Writes key=value, or deletes the key when value is nothing. False when the
    // file could not be replaced (the old file stays whole).
    bool WriteString(const QString& section, const QString& key, const std::optional<QString>& value);

    // Groups the writes: they reach the disk as one replacement when the
    // outermost transaction ends (or Commit is called), with exactly the result
    // that writing each key in turn would give. The store must outlive it.
    class Transaction
    {
    public:
        explicit Transaction(ProfileStore& store);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        // Ends the transaction early; false when the file could not be replaced.
        bool Commit();

    private:
        ProfileStore& m_store;
        bool m_open = true;
    };

    // Where a section's keys stand: while Unchanged holds, nobody (through this
    // store or, through the file, another) has changed them since StateOf was read.
    struct SectionState
    {
        quint64 Load = 0;
        qsizetype Place = -1;
        quint64 Version = 0;
    };
    // Nothing when the file cannot be read or has no such section.
    [[nodiscard]] std::optional<SectionState> StateOf(const QString& section);
    [[nodiscard]] bool Unchanged(const SectionState& state);

    // Reads the file again now (not during a transaction); edits made elsewhere
    // before are no longer reported by EditedElsewhere.
    void Reload();
    // Whether someone else edited the file since Reload (or since the store
    // first read it): the file on disk is not what the store last read or
    // wrote, or the store found such an edit and read it again (merged into
    // one of its own saves or not). Its own saves are no edits.
    [[nodiscard]] bool EditedElsewhere() const;

    // Why the file is there but cannot serve as a profile (a folder, an error
    // reading it, not an INI file at all): it then reads as empty and is never
    // replaced. Empty when it was read or does not exist.
    [[nodiscard]] QString ReadProblem();
    // Why the last replacement of the file failed; empty once one succeeded.
    [[nodiscard]] const QString& WriteProblem() const { return m_writeProblem; }
    // For a caller that wrote all it holds and found the file already held it.
    void ClearWriteProblem() { m_writeProblem.clear(); }
    // How many replacements have failed so far.
    [[nodiscard]] quint64 FailedWrites() const { return m_failedWrites; }
    // Number of file replacements made by this store (for tests and benchmarks).
    [[nodiscard]] quint64 Replacements() const { return m_replacements; }

    // The steps of a replacement. A test may fail one: the injector is asked
    // after each of the first three and before the commit, and an error number
    // other than 0 fails that step as the system would. Process-wide test seam.
    enum class Step { Open, Write, Sync, Commit };
    using FaultInjector = int (*)(Step step);
    static void SetFaultInjector(FaultInjector injector);

    // What tells one state of a file from another without reading it.
    struct FileIdentity
    {
        bool exists = false;
        qint64 size = 0;
        qint64 modifiedSeconds = 0;
        qint64 modifiedNanoseconds = 0;
        qint64 changedSeconds = 0;
        qint64 changedNanoseconds = 0;
        quint64 inode = 0;
        quint64 device = 0;

        friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
    };

private:
    struct Write
    {
        QString section;
        QString key;
        std::optional<QString> value;
    };

    // The document, read again when the file changed on disk (not during a transaction).
    IniDocument& Current();
    void Load();
    bool Fail(const QString& reason);
    bool Replace();
    bool EndTransaction();

    QString m_path;
    // Absolute and clean, so that other spellings of the path find this store.
    QString m_cleanPath;
    QByteArray m_native;
    IniDocument m_document;
    // The bytes the file holds as far as we know, so a net-zero change writes nothing.
    QByteArray m_onDisk;
    FileIdentity m_identity;
    bool m_loaded = false;
    // False when the file exists but could not be read: writing would destroy it.
    bool m_readable = true;
    QString m_readProblem;
    QString m_writeProblem;
    quint64 m_failedWrites = 0;
    bool m_pending = false;
    // Unique for each reading of the file, so section versions of two readings never compare equal.
    quint64 m_load = 0;
    int m_depth = 0;
    // The writes of the open transaction, in order: if someone else saves the
    // file meanwhile, they are made again on the file as it is then.
    std::vector<Write> m_journal;
    quint64 m_replacements = 0;
    bool m_editSeen = false;
    static FaultInjector s_faultInjector;
};
