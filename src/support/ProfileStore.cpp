#include "support/ProfileStore.h"

#include "support/FileSystemUtility.h"

#include "support/DebugLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

using FileIdentity = ProfileStore::FileIdentity;

[[nodiscard]] FileIdentity identityOf(const struct stat& st)
{
    FileIdentity id;
    id.exists = true;
    id.size = st.st_size;
    id.modifiedSeconds = st.st_mtim.tv_sec;
    id.modifiedNanoseconds = st.st_mtim.tv_nsec;
    id.changedSeconds = st.st_ctim.tv_sec;
    id.changedNanoseconds = st.st_ctim.tv_nsec;
    id.inode = st.st_ino;
    id.device = st.st_dev;
    return id;
}

[[nodiscard]] FileIdentity currentIdentity(const QByteArray& nativePath)
{
    struct stat st = {};
    return ::stat(nativePath.constData(), &st) == 0 ? identityOf(st) : FileIdentity();
}

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    { }
    ~FileDescriptor()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    [[nodiscard]] int get() const { return m_fd; }

private:
    int m_fd;
};

[[nodiscard]] bool readAll(int fd, qint64 sizeHint, QByteArray& bytes)
{
    bytes.resize(qMax<qint64>(sizeHint, 0) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == bytes.size()) {
            bytes.resize(bytes.size() * 2);
        }
        const ssize_t got = ::read(fd, bytes.data() + used, size_t(bytes.size() - used));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        used += got;
    }
    bytes.truncate(used);
    return true;
}

[[nodiscard]] QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void syncFolder(const QString& file)
{
    const QString target = QFileInfo(file).canonicalFilePath();
    const QByteArray folder = QFile::encodeName(QFileInfo(target.isEmpty() ? file : target).absolutePath());
    const FileDescriptor fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0 || ::fsync(fd.get()) != 0) {
        DebugLog(QStringLiteral("Folder of profile %1 was not flushed to disk").arg(file), 5);
    }
}

// The error of a step of a replacement: the system's when it failed, else one a test injects.
[[nodiscard]] int stepError(bool done, ProfileStore::Step step, ProfileStore::FaultInjector faults)
{
    if (!done) {
        return errno ? errno : EIO;
    }
    return faults ? faults(step) : 0;
}

[[nodiscard]] qint32 leadingNumber(QStringView text)
{
    constexpr qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 number = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        number = qMin(number * 10 + (text[i].unicode() - u'0'), limit);
    }
    if (negative) {
        number = -number;
    }
    constexpr qint64 lowest = std::numeric_limits<qint32>::min();
    constexpr qint64 highest = std::numeric_limits<qint32>::max();
    return qint32(qBound(lowest, number, highest));
}

[[nodiscard]] QString cleanPath(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

ProfileStore::ProfileStore(const QString& path)
    : m_path(path)
    , m_cleanPath(cleanPath(path))
    , m_native(QFile::encodeName(m_cleanPath))
{ }

bool ProfileStore::IsFor(const QString& path) const
{
    return path == m_path || cleanPath(path) == m_cleanPath;
}

void ProfileStore::Load()
{
    m_loaded = true;
    ++m_load;
    m_document = IniDocument();
    m_onDisk.clear();
    m_pending = false;
    m_readProblem.clear();
    // Non-blocking, so that a FIFO at the path cannot hang the program.
    const FileDescriptor fd(::open(m_native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        m_identity = currentIdentity(m_native);
        m_readable = error == ENOENT;
        m_readProblem = m_readable ? QString() : systemError(error);
        return;
    }
    struct stat st = {};
    QByteArray bytes;
    if (::fstat(fd.get(), &st) != 0 || (S_ISREG(st.st_mode) && !readAll(fd.get(), st.st_size, bytes))) {
        m_readProblem = systemError(errno);
    } else if (S_ISDIR(st.st_mode)) {
        m_readProblem = QStringLiteral("it is a folder");
    } else if (!S_ISREG(st.st_mode)) {
        m_readProblem = QStringLiteral("it is not a regular file");
    } else {
        m_document = IniDocument::Parse(bytes);
        if (!m_document.LooksLikeIni()) {
            m_document = IniDocument();
            m_readProblem = QStringLiteral("it is not an INI file");
        }
    }
    m_identity = st.st_mode ? identityOf(st) : currentIdentity(m_native);
    m_readable = m_readProblem.isEmpty();
    if (m_readable) {
        m_onDisk = std::move(bytes);
    }
}

// Outside a transaction every call looks at the file again, so edits by others are seen.
IniDocument& ProfileStore::Current()
{
    if (m_loaded && (m_depth > 0 || m_identity == currentIdentity(m_native))) {
        return m_document;
    }
    // After a failed save the file is still the one last read: reading it again is no edit.
    const bool edited = m_load > 0 && !(m_identity == currentIdentity(m_native));
    Load();
    m_editSeen = m_editSeen || edited;
    return m_document;
}

bool ProfileStore::Fail(const QString& reason)
{
    // What was not saved must not be served: the next call reads the file again.
    m_loaded = false;
    m_pending = false;
    m_writeProblem = reason;
    ++m_failedWrites;
    DebugLog(QStringLiteral("Profile %1 was not written: %2").arg(m_cleanPath, reason), 5);
    return false;
}

bool ProfileStore::Replace()
{
    m_pending = false;
    const QByteArray bytes = m_document.Serialize();
    if (bytes == m_onDisk) {
        return true;
    }
    struct stat st = {};
    const bool existed = ::stat(m_native.constData(), &st) == 0;
    QSaveFile out(m_cleanPath);
    if (!out.open(QIODevice::WriteOnly)) {
        return Fail(QStringLiteral("cannot create the new file: ") + out.errorString());
    }
    // Any failed step leaves the old file as it was: the new one is dropped unnamed.
    const auto abandon = [&](const char* step, int error) {
        out.cancelWriting();
        return Fail(QLatin1String(step) + QStringLiteral(": ") + systemError(error));
    };
    if (const int error = stepError(true, Step::Open, s_faultInjector)) {
        return abandon("cannot create the new file", error);
    }
    // QSaveFile makes a new file 0666 less the umask and maps an old file's mode
    // through QFile::Permissions; set it exactly: profiles hold passwords.
    const mode_t mode = existed ? (st.st_mode & 07777) : (S_IRUSR | S_IWUSR);
    if (::fchmod(out.handle(), mode) != 0) {
        return abandon("cannot set the permissions of the new file", errno);
    }
    if (const int error = stepError(FileSystemUtility::WriteAll(out.handle(), bytes), Step::Write, s_faultInjector)) {
        return abandon("cannot write the new file", error);
    }
    if (const int error = stepError(::fdatasync(out.handle()) == 0, Step::Sync, s_faultInjector)) {
        return abandon("cannot save the new file to disk", error);
    }
    if (const int error = stepError(true, Step::Commit, s_faultInjector)) {
        return abandon("cannot put the new file in place", error);
    }
    if (!out.commit()) {
        return Fail(QStringLiteral("cannot put the new file in place: ") + out.errorString());
    }
    syncFolder(m_cleanPath);
    ++m_replacements;
    m_writeProblem.clear();
    m_onDisk = bytes;
    m_identity = currentIdentity(m_native);
    return true;
}

QString ProfileStore::ReadString(const QString& section, const QString& key, const QString& defaultValue)
{
    return Current().Value(section, key).value_or(defaultValue);
}

qint32 ProfileStore::ReadInt(const QString& section, const QString& key, qint32 defaultValue)
{
    const std::optional<QString> value = Current().Value(section, key);
    return value ? leadingNumber(*value) : defaultValue;
}

bool ProfileStore::WriteString(const QString& section, const QString& key, const std::optional<QString>& value)
{
    IniDocument& document = Current();
    if (!m_readable) {
        return Fail(QStringLiteral("the file on disk cannot be read: ") + m_readProblem);
    }
    if (value && !IniDocument::CanWrite(section, key)) {
        DebugLog(
            QStringLiteral("Profile %1: no line can hold key \"%2\" of section \"%3\"").arg(m_cleanPath, key, section),
            5);
        return false;
    }
    if (m_depth > 0) {
        m_journal.push_back({section, key, value});
    }
    const bool changed = value ? document.SetValue(section, key, *value) : document.RemoveKey(section, key);
    if (!changed) {
        return true;
    }
    if (m_depth > 0) {
        m_pending = true;
        return true;
    }
    return Replace();
}

bool ProfileStore::EndTransaction()
{
    if (m_depth == 0 || --m_depth > 0) {
        return true;
    }
    const std::vector<Write> journal = std::exchange(m_journal, {});
    if (!m_loaded) {
        return false; // a write inside it failed
    }
    if (!journal.empty() && !(m_identity == currentIdentity(m_native))) {
        // Saved by someone else while the transaction was open: their file is
        // kept, with this transaction's writes made on it in turn.
        Load();
        m_editSeen = true;
        if (!m_readable) {
            return Fail(QStringLiteral("the file on disk cannot be read: ") + m_readProblem);
        }
        for (const Write& write : journal) {
            if (write.value) {
                (void)m_document.SetValue(write.section, write.key, *write.value);
            } else {
                (void)m_document.RemoveKey(write.section, write.key);
            }
        }
        m_pending = true;
    }
    if (!m_pending) {
        return true;
    }
    return Replace();
}

ProfileStore::Transaction::Transaction(ProfileStore& store)
    : m_store(store)
{
    if (m_store.m_depth == 0) {
        (void)m_store.Current();
    }
    ++m_store.m_depth;
}

ProfileStore::Transaction::~Transaction()
{
    if (m_open) {
        (void)Commit();
    }
}

bool ProfileStore::Transaction::Commit()
{
    if (!m_open) {
        return true;
    }
    m_open = false;
    return m_store.EndTransaction();
}

std::optional<ProfileStore::SectionState> ProfileStore::StateOf(const QString& section)
{
    const IniDocument& document = Current();
    if (!m_readable) {
        return std::nullopt;
    }
    const std::optional<IniDocument::SectionMark> mark = document.FindSection(section);
    if (!mark) {
        return std::nullopt;
    }
    return SectionState {m_load, mark->Place, mark->Version};
}

bool ProfileStore::Unchanged(const SectionState& state)
{
    // A new reading of the file (an edit by someone else, a failed write) has a
    // new load number; within one reading a section keeps its place.
    const IniDocument& document = Current();
    return m_readable && m_load == state.Load &&
           document.SectionVersionAt(state.Place) == std::optional<quint64>(state.Version);
}

void ProfileStore::Reload()
{
    if (m_depth == 0) {
        Load();
    }
    m_editSeen = false;
}

bool ProfileStore::EditedElsewhere() const
{
    return m_editSeen || (m_load > 0 && !(m_identity == currentIdentity(m_native)));
}

QString ProfileStore::ReadProblem()
{
    (void)Current();
    return m_readProblem;
}

ProfileStore::FaultInjector ProfileStore::s_faultInjector = nullptr;

void ProfileStore::SetFaultInjector(FaultInjector injector)
{
    s_faultInjector = injector;
}
