#include "support/InstanceLock.h"

#include "support/DebugLog.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

int g_socket = -1; // bound to the instance name for the life of the process

} // namespace

QString InstanceLock::Name(const QString& profileName)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    const QString profile = profileName.isEmpty() ? QStringLiteral("Profile1") : profileName;
    // The user's runtime folder is part of the key, so a session (or a test) with a folder of its own is apart.
    const QByteArray key = QFile::encodeName(folder) + '\0' + profile.toUtf8();
    const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("@sentrel-") + QString::number(::getuid()) + QLatin1Char('-') + QString::fromLatin1(hash);
}

bool InstanceLock::PrevInstance(const QString& profileName)
{
    if (g_socket >= 0) {
        return false;
    }
    // An abstract name: a NUL byte, then the name without its "@". The kernel frees it when the process ends.
    const QByteArray name = Name(profileName).toUtf8().mid(1);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        g_socket = fd;
        return false;
    }
    const int error = errno;
    if (fd >= 0) {
        ::close(fd);
    }
    if (error == EADDRINUSE) {
        return true;
    }
    // No name can be bound (no sockets allowed): run rather than refuse to start.
    DebugLog(QStringLiteral("The single-instance name ") + Name(profileName) + QStringLiteral(" could not be bound (") +
                 QString::fromLocal8Bit(std::strerror(error)) + QStringLiteral("); not checking for another copy"),
             5);
    return false;
}
