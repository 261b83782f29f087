#include "support/FileSystemUtility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString withoutTrailingSeparator(QString path)
{
    while (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator()))) {
        path.chop(1);
    }
    return path;
}

// $XDG_STATE_HOME, or ~/.local/state when it is unset or not absolute.
QString stateHome()
{
    const QString env = qEnvironmentVariable("XDG_STATE_HOME");
    if (!env.isEmpty() && QDir::isAbsolutePath(env)) {
        return withoutTrailingSeparator(env);
    }
    return QDir::homePath() + QStringLiteral("/.local/state");
}

// Why a path that is there is not a file to read, or nothing for a regular file.
QString notRegular(mode_t mode)
{
    if (S_ISREG(mode)) {
        return {};
    }
    const char* kind = S_ISDIR(mode)    ? "a folder"
                       : S_ISFIFO(mode) ? "a FIFO"
                       : S_ISSOCK(mode) ? "a socket"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                                        : "no regular file";
    return QStringLiteral("it is ") + QLatin1String(kind) + QStringLiteral(", not a regular file");
}

QString tooLarge(qint64 maxBytes)
{
    return QStringLiteral("the file is larger than %1 MB").arg(maxBytes / (1024 * 1024));
}

} // namespace

QString FileSystemUtility::SpecialFolder(int folder)
{
    switch (folder) {
    case 35:
        return QDir::toNativeSeparators(
            withoutTrailingSeparator(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)));
    case 36:
        return QDir::toNativeSeparators(stateHome());
    default:
        return {};
    }
}

QString FileSystemUtility::DefaultLogFolder()
{
    return SpecialFolder(36) + QDir::separator() + QStringLiteral("DebugFiles");
}

QString FileSystemUtility::ParentFolder(const QString& path)
{
    const QString clean = QDir::fromNativeSeparators(path);
    const qsizetype slash = clean.lastIndexOf(QLatin1Char('/'));
    if (slash < 0) {
        return {};
    }
    if (slash == 0) {
        return QStringLiteral("/");
    }
    return QDir::toNativeSeparators(clean.left(slash));
}

bool FileSystemUtility::CreateFolderPath(const QString& folder)
{
    if (folder.isEmpty()) {
        return false;
    }
    const QFileInfo info(folder);
    if (info.isDir()) {
        return true;
    }
    return QDir().mkpath(folder) && QFileInfo(folder).isDir();
}

bool FileSystemUtility::FileExists(const QString& path)
{
    std::time_t ignored = 0;
    return LastModified(path, ignored);
}

qint64 FileSystemUtility::FileSize(const QString& path)
{
    if (path.isEmpty()) {
        return 0;
    }
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return 0;
    }
    return static_cast<qint64>(st.st_size);
}

bool FileSystemUtility::LastModified(const QString& path, std::time_t& secs)
{
    if (path.isEmpty()) {
        return false;
    }
    struct stat st
    { };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    secs = st.st_mtim.tv_sec;
    return true;
}

bool FileSystemUtility::ReadRegularFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString& error)
{
    bytes.clear();
    const QByteArray native = QFile::encodeName(path);
    struct stat st
    { };
    // Checked first so that no device is even opened, and again on the descriptor, which is what is read.
    if (::stat(native.constData(), &st) != 0) {
        error = qt_error_string(errno);
        return false;
    }
    error = notRegular(st.st_mode);
    if (!error.isEmpty()) {
        return false;
    }
    // Non-blocking: a FIFO swapped in after the check must not hang the open.
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = qt_error_string(errno);
        return false;
    }
    const auto closeFd = qScopeGuard([fd] { ::close(fd); });
    if (::fstat(fd, &st) != 0) {
        error = qt_error_string(errno);
        return false;
    }
    error = notRegular(st.st_mode);
    if (!error.isEmpty()) {
        return false;
    }
    // The bound is kept while reading (one byte past it tells "larger"), whatever size was reported.
    const qint64 limit = maxBytes + 1;
    bytes.resize(qBound<qint64>(1, static_cast<qint64>(st.st_size) + 1, limit));
    qint64 used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used >= limit) {
                bytes.clear();
                error = tooLarge(maxBytes);
                return false;
            }
            bytes.resize(qMin(limit, 2 * used));
        }
        const ssize_t got = ::read(fd, bytes.data() + used, static_cast<size_t>(bytes.size() - used));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            error = qt_error_string(errno);
            bytes.clear();
            return false;
        }
        if (got == 0) {
            break;
        }
        used += got;
    }
    bytes.truncate(used);
    error.clear();
    return true;
}

QString FileSystemUtility::FileTitle(const QString& path)
{
    const QString name = FileNamePart(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot (".profile") names the file; it is no extension.
    return dot > 0 ? name.left(dot) : name;
}

QString FileSystemUtility::FileNamePart(const QString& path)
{
    const QString clean = QDir::fromNativeSeparators(path);
    return clean.mid(clean.lastIndexOf(QLatin1Char('/')) + 1);
}

bool FileSystemUtility::WriteAll(int fd, const QByteArray& bytes)
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

bool FileSystemUtility::SwapInFile(const QString& path, const QByteArray& bytes, QString& error)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray next = target + ".next";
    // A FIFO or device at the path is not swapped out of its place.
    struct stat current = {};
    if (::lstat(target.constData(), &current) == 0 && !S_ISREG(current.st_mode) && !S_ISLNK(current.st_mode)) {
        error = path + QStringLiteral(" is not a regular file");
        return false;
    }
    // Not through a FIFO, device or link left in its place: only a regular file is rewritten.
    // Written over in place and cut to its new length after: the pages it holds are used again, not freed and taken
    // anew.
    const int fd = ::open(next.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) {
        // A FIFO no one reads refuses a writer that will not wait with ENXIO.
        error = errno == ENXIO ? QFile::decodeName(next) + QStringLiteral(" is not a regular file")
                               : QStringLiteral("cannot create ") + QFile::decodeName(next) + QStringLiteral(": ") +
                                     QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st = {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool written = regular && WriteAll(fd, bytes) && ::ftruncate(fd, bytes.size()) == 0;
    const int writeError = errno;
    ::close(fd);
    if (!regular) {
        error = QFile::decodeName(next) + QStringLiteral(" is not a regular file");
        return false;
    }
    if (!written) {
        error = QStringLiteral("cannot write ") + QFile::decodeName(next) + QStringLiteral(": ") +
                QString::fromLocal8Bit(std::strerror(writeError));
        return false;
    }
    if (::renameat2(AT_FDCWD, next.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
        return true;
    }
    // The first time there is nothing to swap with; some file systems cannot swap.
    if ((errno == ENOENT || errno == EINVAL || errno == ENOSYS) &&
        ::rename(next.constData(), target.constData()) == 0) {
        return true;
    }
    error = QStringLiteral("cannot put the new file in place: ") + QString::fromLocal8Bit(std::strerror(errno));
    return false;
}
