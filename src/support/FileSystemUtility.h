#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <ctime>

// Folders and file facts.
class FileSystemUtility
{
public:
    // 35: the machine-wide application-data folder ($XDG_DATA_HOME on Linux);
    // 36: the folder that stands for the operating system's folder (only its use
    // for the default log folder is kept: $XDG_STATE_HOME on Linux). No trailing separator.
    [[nodiscard]] static QString SpecialFolder(int folder);
    // The default folder for the diagnostic log.
    [[nodiscard]] static QString DefaultLogFolder();

    [[nodiscard]] static QString ParentFolder(const QString& path);
    // Creates the folder and its missing parents; true when it exists afterwards.
    static bool CreateFolderPath(const QString& folder);
    // True for a regular file, symlinks followed; folders, FIFOs, sockets and devices are no files to watch.
    [[nodiscard]] static bool FileExists(const QString& path);
    // Size in bytes; 0 or less when the file is missing or empty.
    [[nodiscard]] static qint64 FileSize(const QString& path);
    // The last-modified time of a regular file, in seconds since the epoch; false when there is none.
    [[nodiscard]] static bool LastModified(const QString& path, std::time_t& secs);
    // Reads a whole regular file of at most maxBytes without ever blocking: FIFOs,
    // sockets, devices and folders are refused, and the bound holds while reading.
    // False with the reason (for "...: " + reason) when nothing usable was read.
    [[nodiscard]] static bool ReadRegularFile(const QString& path, qint64 maxBytes, QByteArray& bytes, QString& error);
    // Writes all the bytes to a descriptor, past interruptions and short writes.
    [[nodiscard]] static bool WriteAll(int fd, const QByteArray& bytes);
    // Replaces a file rewritten at every turn, so that a reader sees the old or
    // the new contents, never a part: the new contents go into
    // "<path>.next", which then swaps names with the file, so the old contents
    // become the next turn's file and no file is created or deleted. A reader
    // that holds the file open longer than a turn may see it rewritten. Not
    // synced to disk: for files whose loss in a power cut costs nothing.
    // False with the reason when the old file, if any, stays.
    [[nodiscard]] static bool SwapInFile(const QString& path, const QByteArray& bytes, QString& error);
    [[nodiscard]] static QString FileTitle(const QString& path);
    [[nodiscard]] static QString FileNamePart(const QString& path);
};
