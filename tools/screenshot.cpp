// Starts the main window on the profile that the environment points at, runs
// one check, and saves pictures of the window and of each dialog as a person
// sees them: docs/*.png are made with scripts/screenshot.sh, which prepares
// the profile and runs this under Xvfb.
#include "app/frmMain.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmMonitorFile.h"
#include "dialogs/frmSettings.h"
#include "model/cSettings.h"
#include "monitor/cMonitor.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

// Lets the windows settle: layout, fonts and the first paint.
void settle(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
}

bool save(QWidget* widget, const QString& folder, const char* name)
{
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "sentrel_screenshot: could not write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// Runs show, which opens a modal dialog; once it is up, shoot gets it, takes
// its pictures and the dialog is cancelled, so nothing is changed.
bool whileShown(const std::function<void()>& show, const std::function<bool(QDialog*)>& shoot)
{
    bool ok = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            std::fprintf(stderr, "sentrel_screenshot: the dialog did not open\n");
            return;
        }
        settle(400);
        ok = shoot(dialog);
        dialog->reject();
    });
    show();
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: sentrel_screenshot OUTPUT-FOLDER [WIDTH HEIGHT]\n");
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    frmMain window;
    if (!window.Load({QStringLiteral("/NOPREVCHECK")})) {
        std::fprintf(stderr, "sentrel_screenshot: the window did not start\n");
        return 1;
    }
    if (argc >= 4) {
        window.resize(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt());
    }
    window.Monitor().CheckNow();
    settle(500);
    bool ok = save(&window, folder, "main-window.png");

    ok &= whileShown(
        [&] {
            frmAbout about(&window);
            about.exec();
        },
        [&](QDialog* dialog) { return save(dialog, folder, "about.png"); });

    // The second file: a dated name under the staleness rule.
    cSettings* settings = &window.Monitor().Settings();
    ok &= whileShown([&] { frmMonitorFile::DisplaySettings(settings->MonitorFile(2), &window); },
                     [&](QDialog* dialog) { return save(dialog, folder, "monitor-file.png"); });

    ok &= whileShown([&] { frmSettings::DisplaySettings(settings, &window); },
                     [&](QDialog* dialog) {
                         auto* tabs = dialog->findChild<QTabWidget*>(QStringLiteral("tbsSettings"));
                         bool saved = save(dialog, folder, "settings-files.png");
                         tabs->setCurrentIndex(1);
                         settle(200);
                         return saved && save(dialog, folder, "settings-notification.png");
                     });
    return ok ? 0 : 1;
}
