#include "app/WidgetUserInterface.h"
#include "app/frmMain.h"
#include "support/UserInterface.h"

#include <QApplication>
#include <QIcon>
#include <QScopeGuard>
#include <QStringList>

#include <cstdio>

namespace {

const char* const kUsage = "Usage: sentrel [/NOPREVCHECK] [/DEBUG[=MAX|NORMAL|NONE]] [--help] [--version]\n"
                           "Watches the files of profile \"Profile1\" and mails the operators when one\n"
                           "changes or goes stale. It runs as a window with a tray icon.\n"
                           "\n"
                           "  /NOPREVCHECK   start even when another copy already runs\n"
                           "  /DEBUG[=LEVEL] write the diagnostic log (MAX by default; NORMAL, NONE)\n"
                           "  --help         show this text and exit\n"
                           "  --version      show the version and exit\n";

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    // Answered before the application object exists, so they work without a display.
    if (arguments.contains(QLatin1String("--version"))) {
        std::printf("sentrel %s\n", SENTREL_VERSION);
        return 0;
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
