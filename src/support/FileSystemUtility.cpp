#include "support/FileSystemUtility.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

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
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        return false;
    }
    secs = st.st_mtim.tv_sec;
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
