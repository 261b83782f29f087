#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringEncoder>
#include <ctime>

// Reads last-modified times relative to open handles on the files' folders, so
// that files sharing a folder cost one walk of the folder's path, not one each.
// Handles stay open until Clear(): a folder replaced after that is seen afresh.
class FolderHandles
{
public:
    FolderHandles();
    ~FolderHandles();
    // A copy starts with no handles: each owner opens and closes its own.
    FolderHandles(const FolderHandles& other);
    FolderHandles& operator=(const FolderHandles& other);

    // As FileSystemUtility::LastModified: a regular file's time, symlinks
    // followed, relative names against the working folder; false when there is none.
    [[nodiscard]] bool LastModified(const QString& path, std::time_t& secs);
    // Closes every handle.
    void Clear();

private:
    // The handle for a folder, or -1 to stat the whole path instead.
    int HandleFor(QStringView folder);
    // The bytes QFile::encodeName gives for the text, valid until the next call.
    const char* Encode(QStringView text);

    // Folder names to their handles, or to one of the markers in the source.
    QHash<QString, int> m_handles;
    // The folder of the previous call and its entry: lists tend to keep a folder's files together.
    QString m_lastFolder;
    int m_lastHandle = -1;
    int m_open = 0;
    int m_maxOpen = 0;
    // UTF-8, which is what encodeName gives on Unix, written straight into a
    // buffer that is kept: the system encoder would build and copy a temporary.
    QStringEncoder m_encoder {QStringEncoder::Utf8, QStringEncoder::Flag::Stateless};
    QByteArray m_name;
};
