// Starts the main window on the profile that the environment points at, runs
// one check, and saves a picture of the window: docs/main-window.png is made
// with scripts/screenshot.sh, which prepares the profile and runs this under Xvfb.
#include "app/frmMain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: sentrel_screenshot OUTPUT.png [WIDTH HEIGHT]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    frmMain window;
    if (!window.Load({QStringLiteral("/NOPREVCHECK")})) {
        std::fprintf(stderr, "sentrel_screenshot: the window did not start\n");
        return 1;
    }
    if (argc >= 4) {
        window.resize(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt());
    }
    window.Cycle().CheckNow();
    // Let the window settle: layout, fonts and the first paint.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    if (!window.grab().save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "sentrel_screenshot: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
