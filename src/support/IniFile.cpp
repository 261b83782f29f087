#include "support/IniFile.h"

#include "support/DebugLog.h"
#include "support/IniDocument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

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

struct CachedFile
{
    IniDocument document;
    // The bytes the file holds as far as we know, so a net-zero change writes nothing.
    QByteArray onDisk;
    FileIdentity identity;
    // False when the file exists but could not be read: writing would destroy it.
    bool readable = true;
    // Why it could not be read.
    QString problem;
    bool pending = false;
    // Unique for each reading of the file, so section versions of two readings never compare equal.
    quint64 load = 0;
    // The writes of the open transaction, in order: if someone else saves the
    // file meanwhile, they are made again on the file as it is then.
    struct Write
    {
        QString section;
        QString key;
        std::optional<QString> value;
    };
    std::vector<Write> journal;
};

// The profile functions run on one thread (the GUI thread), so the cache has no lock.
struct Cache
{
    std::unordered_map<QString, CachedFile> files;
    std::unordered_map<QString, int> transactionDepth;
    std::unordered_map<QString, quint64> outsideChanges;
    // Why the last replacement of a file failed, until one succeeds.
    std::unordered_map<QString, QString> writeProblems;
    quint64 replacements = 0;
    IniFile::FaultInjector faults = nullptr;
};

Cache& cache()
{
    static Cache instance;
    return instance;
}

// The file of the transaction in progress, found without hashing its path for
// each of the many keys an operation writes. Cleared whenever an entry of
// either map goes away, so the pointers never dangle.
struct HotFile
{
    QString key;
    CachedFile* file = nullptr;
    const int* depth = nullptr;
};

HotFile& hot()
{
    static HotFile instance;
    return instance;
}

void forgetHot()
{
    hot() = HotFile {};
}

// The profile's path arrives with every key; the last one's absolute form is
// kept so that a run of writes to one file does not resolve it again each
// time. A relative path depends on the working folder, so only absolute ones are kept.
[[nodiscard]] QString cacheKey(const QString& file)
{
    static QString lastFile;
    static QString lastKey;
    // The same string object arrives for every key of an operation: compare its data first.
    if (!lastFile.isEmpty() &&
        (file.constData() == lastFile.constData() ? file.size() == lastFile.size() : file == lastFile)) {
        return lastKey;
    }
    QString key = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    if (QDir::isAbsolutePath(file)) {
        lastFile = file;
        lastKey = key;
    }
    return key;
}

[[nodiscard]] bool inTransaction(const QString& key)
{
    const auto& depths = cache().transactionDepth;
    const auto it = depths.find(key);
    return it != depths.end() && it->second > 0;
}

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

[[nodiscard]] CachedFile load(const QString& key)
{
    static quint64 loads = 0;
    CachedFile file;
    file.load = ++loads;
    const QByteArray native = QFile::encodeName(key);
    // Non-blocking, so that a FIFO at the path cannot hang the program.
    const FileDescriptor fd(::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0) {
        const int error = errno;
        file.identity = currentIdentity(native);
        file.readable = error == ENOENT;
        file.problem = file.readable ? QString() : systemError(error);
        return file;
    }
    struct stat st = {};
    QByteArray bytes;
    if (::fstat(fd.get(), &st) != 0 || (S_ISREG(st.st_mode) && !readAll(fd.get(), st.st_size, bytes))) {
        file.problem = systemError(errno);
    } else if (S_ISDIR(st.st_mode)) {
        file.problem = QStringLiteral("it is a folder");
    } else if (!S_ISREG(st.st_mode)) {
        file.problem = QStringLiteral("it is not a regular file");
    } else {
        file.document = IniDocument::Parse(bytes);
        if (!file.document.LooksLikeIni()) {
            file.document = IniDocument();
            file.problem = QStringLiteral("it is not an INI file");
        }
    }
    file.identity = st.st_mode ? identityOf(st) : currentIdentity(native);
    file.readable = file.problem.isEmpty();
    if (file.readable) {
        file.onDisk = std::move(bytes);
    }
    return file;
}

// Outside a transaction every call looks at the file again, so edits by others are seen.
CachedFile& remember(const QString& key, CachedFile& file)
{
    const auto& depths = cache().transactionDepth;
    const auto depth = depths.find(key);
    hot() = HotFile {key, &file, depth == depths.end() ? nullptr : &depth->second};
    return file;
}

CachedFile& cachedFile(const QString& key)
{
    const HotFile& current = hot();
    if (current.file && current.depth && *current.depth > 0 && key == current.key) {
        return *current.file;
    }
    auto& files = cache().files;
    auto it = files.find(key);
    if (it != files.end()) {
        if (inTransaction(key) || it->second.identity == currentIdentity(QFile::encodeName(key))) {
            return remember(key, it->second);
        }
        it->second = load(key);
        ++cache().outsideChanges[key];
        return remember(key, it->second);
    }
    return remember(key, files.emplace(key, load(key)).first->second);
}

bool fail(const QString& key, const QString& reason)
{
    forgetHot();
    cache().files.erase(key);
    cache().writeProblems[key] = reason;
    DebugLog(QStringLiteral("Profile %1 was not written: %2").arg(key, reason), 5);
    return false;
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

// Writes past QIODevice's buffer: QSaveFile::commit flushes that buffer and
// syncs without looking at the outcome, and renames all the same.
[[nodiscard]] bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += wrote;
    }
    return true;
}

// The error of a step of a replacement: the system's when it failed, else one a test injects.
[[nodiscard]] int stepError(bool done, IniFile::Step step)
{
    if (!done) {
        return errno ? errno : EIO;
    }
    return cache().faults ? cache().faults(step) : 0;
}

bool replaceFile(const QString& key, CachedFile& entry)
{
    entry.pending = false;
    const QByteArray bytes = entry.document.Serialize();
    if (bytes == entry.onDisk) {
        return true;
    }
    const QByteArray native = QFile::encodeName(key);
    struct stat st = {};
    const bool existed = ::stat(native.constData(), &st) == 0;
    QSaveFile out(key);
    if (!out.open(QIODevice::WriteOnly)) {
        return fail(key, QStringLiteral("cannot create the new file: ") + out.errorString());
    }
    // Any failed step leaves the old file as it was: the new one is dropped unnamed.
    const auto abandon = [&](const char* step, int error) {
        out.cancelWriting();
        return fail(key, QLatin1String(step) + QStringLiteral(": ") + systemError(error));
    };
    if (const int error = stepError(true, IniFile::Step::Open)) {
        return abandon("cannot create the new file", error);
    }
    // QSaveFile makes a new file 0666 less the umask and maps an old file's mode
    // through QFile::Permissions; set it exactly: profiles hold passwords.
    const mode_t mode = existed ? (st.st_mode & 07777) : (S_IRUSR | S_IWUSR);
    if (::fchmod(out.handle(), mode) != 0) {
        return abandon("cannot set the permissions of the new file", errno);
    }
    if (const int error = stepError(writeAll(out.handle(), bytes), IniFile::Step::Write)) {
        return abandon("cannot write the new file", error);
    }
    if (const int error = stepError(::fdatasync(out.handle()) == 0, IniFile::Step::Sync)) {
        return abandon("cannot save the new file to disk", error);
    }
    if (const int error = stepError(true, IniFile::Step::Commit)) {
        return abandon("cannot put the new file in place", error);
    }
    if (!out.commit()) {
        return fail(key, QStringLiteral("cannot put the new file in place: ") + out.errorString());
    }
    syncFolder(key);
    ++cache().replacements;
    cache().writeProblems.erase(key);
    entry.onDisk = bytes;
    entry.identity = currentIdentity(native);
    return true;
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

} // namespace

QString
IniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue, const QString& file)
{
    return cachedFile(cacheKey(file)).document.Value(section, key).value_or(defaultValue);
}

qint32 IniFile::ReadInt(const QString& section, const QString& key, qint32 defaultValue, const QString& file)
{
    const std::optional<QString> value = cachedFile(cacheKey(file)).document.Value(section, key);
    return value ? leadingNumber(*value) : defaultValue;
}

bool IniFile::WriteString(const QString& section,
                          const QString& key,
                          const std::optional<QString>& value,
                          const QString& file)
{
    const QString path = cacheKey(file);
    CachedFile& entry = cachedFile(path);
    if (!entry.readable) {
        return fail(path, QStringLiteral("the file on disk cannot be read: ") + entry.problem);
    }
    if (value && !IniDocument::CanWrite(section, key)) {
        DebugLog(QStringLiteral("Profile %1: no line can hold key \"%2\" of section \"%3\"").arg(path, key, section),
                 5);
        return false;
    }
    const bool inside = inTransaction(path);
    if (inside) {
        entry.journal.push_back({section, key, value});
    }
    const bool changed = value ? entry.document.SetValue(section, key, *value) : entry.document.RemoveKey(section, key);
    if (!changed) {
        return true;
    }
    if (inside) {
        entry.pending = true;
        return true;
    }
    return replaceFile(path, entry);
}

IniFile::Transaction::Transaction(const QString& file)
    : m_file(cacheKey(file))
{
    int& depth = cache().transactionDepth[m_file];
    if (depth == 0) {
        (void)cachedFile(m_file);
    }
    ++depth;
}

IniFile::Transaction::~Transaction()
{
    if (m_open) {
        (void)Commit();
    }
}

bool IniFile::Transaction::Commit()
{
    if (!m_open) {
        return true;
    }
    m_open = false;
    auto& depths = cache().transactionDepth;
    const auto depth = depths.find(m_file);
    if (depth == depths.end() || --depth->second > 0) {
        return true;
    }
    forgetHot();
    depths.erase(depth);
    auto& files = cache().files;
    const auto it = files.find(m_file);
    if (it == files.end()) {
        return true;
    }
    CachedFile& entry = it->second;
    const std::vector<CachedFile::Write> journal = std::exchange(entry.journal, {});
    if (!journal.empty() && !(entry.identity == currentIdentity(QFile::encodeName(m_file)))) {
        // Saved by someone else while the transaction was open: their file is
        // kept, with this transaction's writes made on it in turn.
        entry = load(m_file);
        ++cache().outsideChanges[m_file];
        if (!entry.readable) {
            return fail(m_file, QStringLiteral("the file on disk cannot be read: ") + entry.problem);
        }
        for (const CachedFile::Write& write : journal) {
            if (write.value) {
                (void)entry.document.SetValue(write.section, write.key, *write.value);
            } else {
                (void)entry.document.RemoveKey(write.section, write.key);
            }
        }
        entry.pending = true;
    }
    if (!entry.pending) {
        return true;
    }
    return replaceFile(m_file, entry);
}

std::optional<IniFile::SectionState> IniFile::StateOf(const QString& section, const QString& file)
{
    const CachedFile& entry = cachedFile(cacheKey(file));
    if (!entry.readable) {
        return std::nullopt;
    }
    const std::optional<IniDocument::SectionMark> mark = entry.document.FindSection(section);
    if (!mark) {
        return std::nullopt;
    }
    return SectionState {entry.load, mark->Place, mark->Version};
}

bool IniFile::Unchanged(const SectionState& state, const QString& file)
{
    // A new reading of the file (an edit by someone else, a failed write) has a
    // new load number; within one reading a section keeps its place.
    const CachedFile& entry = cachedFile(cacheKey(file));
    return entry.readable && entry.load == state.Load &&
           entry.document.SectionVersionAt(state.Place) == std::optional<quint64>(state.Version);
}

quint64 IniFile::OutsideChanges(const QString& file)
{
    const auto& counts = cache().outsideChanges;
    const auto it = counts.find(cacheKey(file));
    return it == counts.end() ? 0 : it->second;
}

bool IniFile::ChangedOnDisk(const QString& file)
{
    const QString key = cacheKey(file);
    const auto& files = cache().files;
    const auto it = files.find(key);
    return it != files.end() && !(it->second.identity == currentIdentity(QFile::encodeName(key)));
}

QString IniFile::ReadProblem(const QString& file)
{
    return cachedFile(cacheKey(file)).problem;
}

QString IniFile::WriteProblem(const QString& file)
{
    const auto& problems = cache().writeProblems;
    const auto it = problems.find(cacheKey(file));
    return it == problems.end() ? QString() : it->second;
}

void IniFile::SetFaultInjector(FaultInjector injector)
{
    cache().faults = injector;
}

quint64 IniFile::Replacements()
{
    return cache().replacements;
}

void IniFile::ForgetAll()
{
    forgetHot();
    cache().files.clear();
}
