#include "support/ProgramStart.h"

#include "SentrelConfig.h"
#include "support/DebugLog.h"
#include "support/GeneralUtility.h"
#include "support/InstanceLock.h"

#include <cstdio>

QStringList ProgramStart::Arguments(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return arguments;
}

bool ProgramStart::AnsweredVersion(const QStringList& arguments)
{
    // Answered before an application object exists, so it works without a display.
    if (!arguments.contains(QLatin1String("--version"))) {
        return false;
    }
    std::printf("sentrel %s\n", SENTREL_VERSION);
    return true;
}

bool ProgramStart::FirstCopy(const QStringList& arguments, const QString& profileName)
{
    GeneralUtility::SetAppFromArguments(arguments);
    InitDebugLevel();
    GeneralUtility::SetCommandLine(GeneralUtility::App().CommandLine.toUpper() + QLatin1Char(' '));
    // The switch is looked for in the upper-cased text, so any case works.
    if (GeneralUtility::CommandLine().contains(QLatin1String("/NOPREVCHECK"))) {
        return true;
    }
    DebugLog(QStringLiteral("Check if already running"), -1, LogIndentKeep);
    if (InstanceLock::PrevInstance(profileName)) {
        DebugLog(QStringLiteral("Exit as App already running"), 5, LogIndentDecrease);
        return false;
    }
    return true;
}
