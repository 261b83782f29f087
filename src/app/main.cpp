#include "model/cSettings.h"
#include "support/DateTimeUtility.h"
#include "support/DebugLog.h"
#include "support/GeneralUtility.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

// Reads profile "Profile1" and prints every monitored file with its
// last-modified time and status.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sentrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));

    QStringList arguments = QCoreApplication::arguments();
    arguments.removeFirst();
    QTextStream out(stdout);
    if (arguments.contains(QLatin1String("--version"))) {
        out << "sentrel " << SENTREL_VERSION << Qt::endl;
        return 0;
    }
    if (arguments.contains(QLatin1String("--help"))) {
        out << "Usage: sentrel [/DEBUG[=MAX|NORMAL|NONE]] [--help] [--version]\n"
               "Prints the monitored files of profile \"Profile1\" with their last-modified time and status."
            << Qt::endl;
        return 0;
    }

    GeneralUtility::SetAppFromArguments(arguments);
    InitDebugLevel();

    cSettings settings;
    if (!settings.ReadSettings(QStringLiteral("Profile1"))) {
        std::fprintf(stderr, "sentrel: the profile could not be read\n");
        return 1;
    }
    out << "Profile: " << settings.ProfilePath() << '\n';
    out << settings.NumberFiles() << (settings.NumberFiles() == 1 ? " monitored file" : " monitored files") << '\n';
    for (qint16 i = 1; i <= settings.NumberFiles(); ++i) {
        const cMonitorFile* file = settings.MonitorFile(i);
        const QDateTime modified = file->LastModifiedVB();
        const QString when = DateTimeUtility::IsPositiveDate(modified) ? DateTimeUtility::GeneralDate(modified)
                                                                       : QStringLiteral("(Unknown)");
        out << file->DisplayName() << '\t' << when << '\t' << file->Status() << '\n';
    }
    out.flush();
    return 0;
}
