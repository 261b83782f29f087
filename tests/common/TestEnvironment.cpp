#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <ctime>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define SENTREL_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SENTREL_TEST_ASAN 1
#endif
#endif

namespace {
QString g_root;
int g_counter = 0;

struct Cleanup
{
    ~Cleanup()
    {
        if (!g_root.isEmpty() && qEnvironmentVariableIsEmpty("SENTREL_KEEP_TEST_DIRS")) {
            QDir(g_root).removeRecursively();
        }
    }
} g_cleanup;

void onDeadline(int)
{
    static const char text[] = "The call did not finish in time: it blocks or reads without end\n";
    (void)!::write(STDERR_FILENO, text, sizeof text - 1);
    ::_exit(EXIT_FAILURE);
}

// The process's address space now, in bytes.
[[maybe_unused]] rlim_t addressSpace()
{
    unsigned long pages = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%lu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(statm);
    }
    return static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
}

} // namespace

namespace TestEnvironment {

void Isolate()
{
    const char* base = std::getenv("TMPDIR");
    QByteArray templ = QByteArray(base && *base ? base : "/tmp") + "/sentrel-test-XXXXXX";
    if (!mkdtemp(templ.data())) {
        std::abort();
    }
    g_root = QString::fromLocal8Bit(templ);
    const auto place = [](const char* var, const char* sub) {
        const QByteArray path = QFile::encodeName(g_root) + "/" + sub;
        ::mkdir(path.constData(), 0700);
        ::setenv(var, path.constData(), 1);
    };
    place("XDG_DATA_HOME", "data");
    place("XDG_CONFIG_HOME", "config");
    place("XDG_CONFIG_DIRS", "etc-xdg");
    place("XDG_STATE_HOME", "state");
    place("XDG_CACHE_HOME", "cache");
    place("XDG_RUNTIME_DIR", "runtime");
    place("HOME", "home");

    // A pinned zone (with summer time, so its changes are covered), locale and
    // display, whatever the caller's are; set here because CTest's discovered
    // tests take only one environment variable from a property.
    ::setenv("TZ", "Europe/Berlin", 1);
    // A test run in several locales names its own (SENTREL_TEST_LOCALE=de_DE.UTF-8).
    const char* chosen = std::getenv("SENTREL_TEST_LOCALE");
    const char* locale = chosen && *chosen ? chosen : "C.UTF-8";
    ::setenv("LC_ALL", locale, 1);
    ::setenv("LANG", locale, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::tzset();
}

QString Root()
{
    return g_root;
}

QString NewFolder(const QString& name)
{
    const QString path = g_root + QStringLiteral("/work/") + QString::number(++g_counter) + QLatin1Char('-') + name;
    QDir().mkpath(path);
    return path;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    return file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

bool SetModified(const QString& path, qint64 secsSinceEpoch)
{
    struct timeval times[2];
    times[0].tv_sec = static_cast<time_t>(secsSinceEpoch);
    times[0].tv_usec = 0;
    times[1] = times[0];
    return ::utimes(QFile::encodeName(path).constData(), times) == 0;
}

QList<std::pair<QString, QString>> NonRegularFiles()
{
    const QString dir = NewFolder(QStringLiteral("non-regular"));
    const QString fifo = dir + QStringLiteral("/pipe.bin");
    const QString zero = dir + QStringLiteral("/zero.bin");
    const QString folder = dir + QStringLiteral("/folder.bin");
    if (::mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0 || !QFile::link(QStringLiteral("/dev/zero"), zero) ||
        !QDir().mkdir(folder)) {
        std::abort();
    }
    return {{fifo, QStringLiteral("a FIFO")},
            {zero, QStringLiteral("a character device")},
            {folder, QStringLiteral("a folder")}};
}

Deadline::Deadline(unsigned seconds)
{
    ::getrlimit(RLIMIT_AS, &m_memory);
#ifndef SENTREL_TEST_ASAN // ASan reserves terabytes of address space up front
    const rlimit bounded {addressSpace() + (rlim_t(512) << 20), m_memory.rlim_max};
    if (bounded.rlim_cur < m_memory.rlim_cur) {
        ::setrlimit(RLIMIT_AS, &bounded);
    }
#endif
    std::signal(SIGALRM, onDeadline);
    ::alarm(seconds);
}

Deadline::~Deadline()
{
    ::alarm(0);
    std::signal(SIGALRM, SIG_DFL);
    ::setrlimit(RLIMIT_AS, &m_memory);
}

bool WaitFor(const std::function<bool()>& condition, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

QString DataFolder()
{
    return QStringLiteral(SENTREL_TEST_DATA_DIR);
}

} // namespace TestEnvironment
