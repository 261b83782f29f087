// The service program: the check cycle without a window, for servers and for
// a user's systemd session. It links no widgets, so it stays a small process.
#include "SentrelConfig.h"
#include "service/HeadlessService.h"
#include "support/DebugLog.h"
#include "support/ProgramStart.h"
#include "support/UserInterface.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QStringList>

#include <cstdio>

namespace {

const char* const kUsage = "Usage: sentrel --headless [--profile NAME] [/NOPREVCHECK] [/DEBUG[=MAX|NORMAL|NONE]]\n"
                           "Watches the files of a profile (\"Profile1\" by default) without a window and\n"
                           "mails the operators when one changes or goes stale. The history goes to\n"
                           "standard output, a line for each event.\n"
                           "\n"
                           "  --profile NAME  the profile to watch\n"
                           "  /NOPREVCHECK    start even when another copy already watches the profile\n"
                           "  /DEBUG[=LEVEL]  write the diagnostic log (MAX by default; NORMAL, NONE)\n"
                           "\n"
                           "SIGTERM and SIGINT stop it; SIGHUP reads the profile again, as does any\n"
                           "change to the profile file. $CREDENTIALS_DIRECTORY/smtp-password, systemd's\n"
                           "LoadCredential=smtp-password:FILE, replaces the profile's SMTP password.\n";

// Messages meant for a person go to standard error (the journal, under
// systemd); questions get their default answer, as nobody is there to give
// another. Notifications are sent without asking anything.
class ConsoleUserInterface final : public UserInterface
{
public:
    Answer ShowMessage(const QString& text, Icon, Buttons buttons, Answer defaultAnswer) override
    {
        const QString line = text.simplified();
        std::fprintf(stderr, "sentrel: %s\n", qUtf8Printable(ConsoleText(line)));
        DebugLog(line, 5, LogIndentKeep);
        return buttons == Buttons::Ok ? Answer::Ok : defaultAnswer;
    }
    Pointer CurrentPointer() const override { return Pointer::Normal; }
    void SetPointer(Pointer) override { }
};

struct Options
{
    QString profile = QStringLiteral("Profile1");
    QStringList passOn;
    QString error;
    bool help = false;
};

Options parse(const QStringList& arguments)
{
    Options options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--headless")) {
            continue;
        }
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            options.help = true;
        } else if (argument == QLatin1String("--profile")) {
            if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty()) {
                options.error = QStringLiteral("--profile needs a profile name");
                return options;
            }
            options.profile = arguments.at(++i);
        } else if (argument.startsWith(QLatin1String("--profile="))) {
            options.profile = argument.mid(10);
            if (options.profile.isEmpty()) {
                options.error = QStringLiteral("--profile needs a profile name");
                return options;
            }
        } else {
            // The window's switches (/NOPREVCHECK, /DEBUG) are read from the command line text.
            options.passOn << argument;
        }
    }
    if (options.profile.contains(QLatin1Char('/')) || options.profile == QLatin1String(".") ||
        options.profile == QLatin1String("..")) {
        options.error = QStringLiteral("The profile name '") + options.profile +
                        QStringLiteral("' is not a folder name; it may not hold '/'");
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const QStringList arguments = ProgramStart::Arguments(argc, argv);
    if (ProgramStart::AnsweredVersion(arguments)) {
        return 0;
    }
    const Options options = parse(arguments);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "sentrel: %s\n%s", qUtf8Printable(options.error), kUsage);
        return 2;
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sentrel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SENTREL_VERSION));

    ConsoleUserInterface ui;
    UserInterface::Install(&ui);
    const auto uninstall = qScopeGuard([] { UserInterface::Install(nullptr); });

    if (!ProgramStart::FirstCopy(arguments, options.profile)) {
        std::fprintf(stderr, "sentrel: another copy already watches profile \"%s\"\n", qUtf8Printable(options.profile));
        return 0;
    }

    HeadlessService service(options.profile);
    if (!service.HandleSignals()) {
        std::fprintf(stderr, "sentrel: could not install the signal handlers\n");
        return 1;
    }
    if (!service.Start()) {
        std::fprintf(stderr, "sentrel: could not read profile \"%s\"\n", qUtf8Printable(options.profile));
        return 1;
    }
    if (service.Settings().NumberFiles() == 0) {
        std::fprintf(stderr,
                     "sentrel: profile \"%s\" (%s) watches no files yet\n",
                     qUtf8Printable(options.profile),
                     qUtf8Printable(service.Settings().ProfilePath()));
    }
    return QCoreApplication::exec();
}
