#include "support/FolderHandles.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// No handle: stat the whole path (the folder cannot be opened, or the handles are used up).
constexpr int kNoHandle = -1;
// Seen once in this round: a folder with a single file gains nothing from a handle.
constexpr int kSeenOnce = -2;

// A quarter of the process's descriptors at most, so mail, profile and log files still open.
int handleLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 256;
    }
    return static_cast<int>(std::clamp<rlim_t>(limit.rlim_cur / 4, 16, 65536));
}

} // namespace

FolderHandles::FolderHandles()
    : m_maxOpen(handleLimit())
{ }

FolderHandles::~FolderHandles()
{
    Clear();
}

FolderHandles::FolderHandles(const FolderHandles& other)
    : m_maxOpen(other.m_maxOpen)
{ }

FolderHandles& FolderHandles::operator=(const FolderHandles& other)
{
    if (this != &other) {
        Clear();
        m_maxOpen = other.m_maxOpen;
    }
    return *this;
}

void FolderHandles::Clear()
{
    for (const int fd : std::as_const(m_handles)) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    m_handles.clear();
    m_lastFolder.clear();
    m_lastHandle = kNoHandle;
    m_open = 0;
}

const char* FolderHandles::Encode(QStringView text)
{
    const qsizetype needed = m_encoder.requiredSpace(text.size()) + 1;
    if (m_name.size() < needed) {
        m_name.resize(needed);
    }
    char* const bytes = m_name.data();
    *m_encoder.appendToBuffer(bytes, text) = '\0';
    return bytes;
}

int FolderHandles::HandleFor(QStringView folder)
{
    if (folder != m_lastFolder) {
        m_lastFolder = folder.toString();
        const auto it = m_handles.constFind(m_lastFolder);
        if (it == m_handles.cend()) {
            m_handles.insert(m_lastFolder, kSeenOnce);
            m_lastHandle = kSeenOnce;
            return kNoHandle;
        }
        m_lastHandle = it.value();
    }
    if (m_lastHandle != kSeenOnce) {
        return m_lastHandle;
    }
    // Its second file: from here on the folder's files are stat-ed relative to a handle.
    // A NUL ends the path a stat reads, so a folder name holding one gets none.
    int fd = kNoHandle;
    if (m_open < m_maxOpen && !folder.contains(QChar::Null)) {
        fd = ::open(Encode(folder), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            ++m_open;
        } else {
            fd = kNoHandle;
        }
    }
    m_handles.insert(m_lastFolder, fd);
    m_lastHandle = fd;
    return fd;
}

bool FolderHandles::LastModified(const QString& path, std::time_t& secs)
{
    if (path.isEmpty()) {
        return false;
    }
    // Split before encoding: a folder met before needs only its file's name encoded.
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const int fd = slash < 0 ? kNoHandle : HandleFor(QStringView(path).first(slash == 0 ? 1 : slash));
    struct stat st
    { };
    const int result =
        fd >= 0 ? ::fstatat(fd, Encode(QStringView(path).sliced(slash + 1)), &st, 0) : ::stat(Encode(path), &st);
    if (result != 0 || !S_ISREG(st.st_mode)) {
        return false;
    }
    secs = st.st_mtim.tv_sec;
    return true;
}
