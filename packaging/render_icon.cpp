// Renders the program's scalable icon at the sizes of the hicolor icon theme:
//   sentrel_render_icon ICON.svg OUTPUT-FOLDER SIZE...
// writes OUTPUT-FOLDER/SIZExSIZE/apps/com.brackwell.Sentrel.png for each size.
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: sentrel_render_icon ICON.svg OUTPUT-FOLDER SIZE...\n");
        return 2;
    }
    // No display is needed to draw into an image.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QIcon icon(QString::fromLocal8Bit(argv[1]));
    if (icon.isNull() || icon.pixmap(QSize(16, 16)).isNull()) {
        std::fprintf(stderr, "sentrel_render_icon: cannot read %s (is the SVG icon plugin installed?)\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = QString::fromLocal8Bit(argv[i]).toInt();
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        const QPixmap pixmap = icon.pixmap(QSize(size, size));
        if (size <= 0 || pixmap.size() != QSize(size, size) || !QDir().mkpath(folder) ||
            !pixmap.save(folder + QStringLiteral("/com.brackwell.Sentrel.png"))) {
            std::fprintf(stderr, "sentrel_render_icon: cannot write the %s pixel icon\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
