#include "SentrelConfig.h"
#include "app/WidgetUserInterface.h"
#include "app/frmMain.h"
#include "support/ProgramStart.h"
#include "support/UserInterface.h"

#include <QApplication>
#include <QIcon>
#include <QScopeGuard>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

const char* const kUsage = "Usage: sentrel [/NOPREVCHECK] [/DEBUG[=MAX|NORMAL|NONE]] [--help] [--version]\n"
                           "       sentrel --headless [--profile NAME] [/NOPREVCHECK] [/DEBUG[=LEVEL]]\n"
                           "Watches the files of profile \"Profile1\" and mails the operators when one\n"
                           "changes or goes stale. It runs as a window with a tray icon.\n"
                           "\n"
                           "  /NOPREVCHECK   start even when another copy already runs\n"
                           "  /DEBUG[=LEVEL] write the diagnostic log (MAX by default; NORMAL, NONE)\n"
                           "  --headless     run without a window (see sentrel --headless --help)\n"
                           "  --help         show this text and exit\n"
                           "  --version      show the version and exit\n";

// The service runs as its own executable beside this one, which links no
// widgets: replacing this process keeps its id (for systemd and for whoever
// started it) and leaves none of the widget libraries mapped.
int runHeadless(char** argv)
{
    char self[PATH_MAX + 1] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, PATH_MAX);
    std::string service = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string(argv[0]);
    const size_t slash = service.rfind('/');
    service = (slash == std::string::npos ? std::string() : service.substr(0, slash + 1)) + "sentrel-headless";
    ::execv(service.c_str(), argv);
    std::fprintf(stderr, "sentrel: could not start %s: %s\n", service.c_str(), std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList arguments = ProgramStart::Arguments(argc, argv);
    if (ProgramStart::AnsweredVersion(arguments)) {
        return 0;
    }
    if (arguments.contains(QLatin1String("--headless"))) {
        return runHeadless(argv);
    }
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sentrel"));
    QApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/sentrel/sentrel.svg")));
    // Hidden in the tray, the window is not "last": closing a message box must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    WidgetUserInterface ui;
    UserInterface::Install(&ui);
    const auto uninstall = qScopeGuard([] { UserInterface::Install(nullptr); });

    frmMain window;
    QObject::connect(&window, &frmMain::Unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    if (!window.Load(arguments)) {
        return 0;
    }
    return QApplication::exec();
}
