#include "support/GeneralUtility.h"

#include "support/DebugLog.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct State
{
    AppInfo app;
    QString commandLine;
    qint32 debugLevel = 0;
    QString debugPath;
    int instanceSocket = -1; // bound to the instance name for the life of the process
};

State& state()
{
    static State s;
    return s;
}

QString runningExecutable()
{
    if (QCoreApplication::instance()) {
        return QCoreApplication::applicationFilePath();
    }
    // No application object yet (tests, fuzzers): ask the kernel.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

// Key characters of the stored-secret transform: a reflection of the printable
// ASCII range (33..126) about a key that changes with the position.
constexpr int kFirst = 33;
constexpr int kSpan = 94;
constexpr int kKey[] = {17, 62, 5, 88, 41, 29, 73, 11, 56, 90, 3, 47, 68, 24, 81, 35};

} // namespace

void GeneralUtility::SetApp(const AppInfo& app)
{
    state().app = app;
}

void GeneralUtility::SetAppFromArguments(const QStringList& arguments)
{
    const QFileInfo exe(runningExecutable());
    AppInfo app;
    app.Title = QStringLiteral(SENTREL_PRODUCT_NAME);
    app.ProductName = QStringLiteral(SENTREL_PRODUCT_NAME);
    app.ExeName = exe.fileName();
    app.ExePath = exe.absolutePath();
    app.Version = QStringLiteral(SENTREL_VERSION);
    app.CommandLine = JoinCommandLine(arguments);
    SetApp(app);
}

const AppInfo& GeneralUtility::App()
{
    if (state().app.ExeName.isEmpty()) {
        // Nothing set yet: describe the running executable, without arguments.
        SetAppFromArguments({});
    }
    return state().app;
}

QString GeneralUtility::JoinCommandLine(const QStringList& arguments)
{
    QString line;
    for (const QString& arg : arguments) {
        if (!line.isEmpty()) {
            line += QLatin1Char(' ');
        }
        if (arg.contains(QLatin1Char(' ')) || arg.contains(QLatin1Char('\t'))) {
            line += QLatin1Char('"') + arg + QLatin1Char('"');
        } else {
            line += arg;
        }
    }
    return line;
}

void GeneralUtility::SetCommandLine(const QString& text)
{
    state().commandLine = text;
}

QString GeneralUtility::CommandLine()
{
    return state().commandLine;
}

QString GeneralUtility::InstanceLockName(const QString& profileName)
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

bool GeneralUtility::PrevInstance(const QString& profileName)
{
    State& s = state();
    if (s.instanceSocket >= 0) {
        return false;
    }
    // An abstract name: a NUL byte, then the name without its "@". The kernel frees it when the process ends.
    const QByteArray name = InstanceLockName(profileName).toUtf8().mid(1);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.constData(), static_cast<size_t>(name.size()));
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + static_cast<size_t>(name.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
        s.instanceSocket = fd;
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
    DebugLog(QStringLiteral("The single-instance name ") + InstanceLockName(profileName) +
                 QStringLiteral(" could not be bound (") + QString::fromLocal8Bit(std::strerror(error)) +
                 QStringLiteral("); not checking for another copy"),
             5);
    return false;
}

void GeneralUtility::EnableDisplay(const QString&) { }

QString
GeneralUtility::ExtractToken(const QString& text, qsizetype start, QStringView delimiter, qsizetype* nextPosition)
{
    const qsizetype from = qMax<qsizetype>(start, 1) - 1;
    if (from >= text.size()) {
        if (nextPosition) {
            *nextPosition = 0;
        }
        return {};
    }
    const qsizetype at = delimiter.isEmpty() ? -1 : text.indexOf(delimiter, from);
    if (nextPosition) {
        *nextPosition = at < 0 ? 0 : at + 1;
    }
    return at < 0 ? text.mid(from) : text.mid(from, at - from);
}

QString GeneralUtility::TransformSecret(const QString& text, bool enable)
{
    if (!enable || text.isEmpty()) {
        return text;
    }
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const char16_t c = out.at(i).unicode();
        if (c >= kFirst && c < kFirst + kSpan) {
            const int key = kKey[i % std::size(kKey)];
            const int reflected = ((key - (c - kFirst)) % kSpan + kSpan) % kSpan;
            out[i] = QChar(static_cast<char16_t>(kFirst + reflected));
        }
    }
    return out;
}

int GeneralUtility::FilterKeyPress(int keyCode, int mode)
{
    if (mode != 1) {
        return keyCode;
    }
    constexpr int backspace = 8;
    if ((keyCode >= '0' && keyCode <= '9') || keyCode == backspace) {
        return keyCode;
    }
    return 0;
}

QString GeneralUtility::PadText(const QString& text, int width, QChar fill)
{
    return text.rightJustified(width, fill);
}

qint32 GeneralUtility::DebugLevel()
{
    return state().debugLevel;
}

void GeneralUtility::SetDebugLevel(qint32 level)
{
    state().debugLevel = level;
}

QString GeneralUtility::DebugPath()
{
    return state().debugPath;
}

void GeneralUtility::SetDebugPath(const QString& path)
{
    state().debugPath = path;
}
