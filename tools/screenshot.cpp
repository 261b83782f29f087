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
#include <QPalette>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <utility>

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

// SENTREL_SCREENSHOT_THEME=dark: the Fusion style in a dark palette, as a dark desktop theme gives it;
// the pictures are then named "*-dark.png".
bool darkTheme()
{
    return qEnvironmentVariable("SENTREL_SCREENSHOT_THEME") == QLatin1String("dark");
}

void useDarkPalette()
{
    QApplication::setStyle(QStringLiteral("Fusion"));
    QPalette dark;
    const QColor window(53, 53, 53);
    const QColor base(35, 35, 35);
    const QColor text(230, 230, 230);
    for (const auto& [role, colour] : {std::pair {QPalette::Window, window},
                                       std::pair {QPalette::WindowText, text},
                                       std::pair {QPalette::Base, base},
                                       std::pair {QPalette::AlternateBase, window},
                                       std::pair {QPalette::ToolTipBase, window},
                                       std::pair {QPalette::ToolTipText, text},
                                       std::pair {QPalette::Text, text},
                                       std::pair {QPalette::PlaceholderText, QColor(150, 150, 150)},
                                       std::pair {QPalette::Button, window},
                                       std::pair {QPalette::ButtonText, text},
                                       std::pair {QPalette::Link, QColor(110, 170, 255)},
                                       std::pair {QPalette::Highlight, QColor(42, 130, 218)},
                                       std::pair {QPalette::HighlightedText, QColor(255, 255, 255)},
                                       std::pair {QPalette::Light, QColor(90, 90, 90)},
                                       std::pair {QPalette::Mid, QColor(40, 40, 40)},
                                       std::pair {QPalette::Dark, QColor(25, 25, 25)}}) {
        dark.setColor(role, colour);
    }
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        dark.setColor(QPalette::Disabled, role, QColor(128, 128, 128));
    }
    dark.setColor(QPalette::Disabled, QPalette::Base, window);
    QApplication::setPalette(dark);
}

bool save(QWidget* widget, const QString& folder, const char* name)
{
    QString file = QLatin1String(name);
    if (darkTheme()) {
        file.replace(QStringLiteral(".png"), QStringLiteral("-dark.png"));
    }
    const QString path = folder + QLatin1Char('/') + file;
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
    if (darkTheme()) {
        useDarkPalette();
    }
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
