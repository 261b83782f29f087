// The service program's way to the mail code: it links none of it, and loads
// the mail module the first time a notification is due. Until then the
// process holds no GMime, libcurl or TLS library, which is most of what an
// idle service would otherwise keep mapped.
#include "SentrelConfig.h"
#include "model/cSettings.h"
#include "notify/HistorySink.h"
#include "notify/MailModule.h"
#include "notify/NotificationComposer.h"
#include "notify/NotificationText.h"
#include "notify/cEmail.h"
#include "support/DateTimeUtility.h"
#include "support/DebugLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>
#include <dlfcn.h>

namespace {

const SentrelMailModule* g_module = nullptr;

// Beside the executable (a build folder, a copied program), then where an
// installation puts it relative to bin/.
QStringList moduleCandidates()
{
    const QString here = QCoreApplication::applicationDirPath();
    return {
        here + QLatin1Char('/') + QLatin1String(kMailModuleFile),
        QDir::cleanPath(here + QStringLiteral("/" SENTREL_MAIL_MODULE_FROM_BIN "/") + QLatin1String(kMailModuleFile))};
}

// The loaded module, or nullptr with the reason. A failure is not remembered,
// so a module put right is used from the next notification on.
const SentrelMailModule* mailModule(QString& error)
{
    if (g_module) {
        return g_module;
    }
    const QStringList candidates = moduleCandidates();
    for (const QString& path : candidates) {
        if (!QFileInfo::exists(path)) {
            continue;
        }
        void* handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* reason = ::dlerror();
            error = QStringLiteral("The mail module ") + path + QStringLiteral(" could not be loaded: ") +
                    QString::fromLocal8Bit(reason ? reason : "unknown error");
            return nullptr;
        }
        using Entry = const SentrelMailModule* (*)();
        const auto entry = reinterpret_cast<Entry>(::dlsym(handle, kMailModuleEntry));
        const SentrelMailModule* module = entry ? entry() : nullptr;
        if (!module || !module->version || std::strcmp(module->version, SENTREL_VERSION) != 0) {
            error = QStringLiteral("The mail module ") + path + QStringLiteral(" is not the one of Sentrel ") +
                    QStringLiteral(SENTREL_VERSION) +
                    (module && module->version
                         ? QStringLiteral(" (it is of ") + QString::fromUtf8(module->version) + QLatin1Char(')')
                         : QString());
            ::dlclose(handle);
            return nullptr;
        }
        DebugLog(QStringLiteral("Loaded the mail module ") + path, 5, LogIndentKeep);
        g_module = module; // kept loaded: its libraries do not unload cleanly
        return g_module;
    }
    error = QStringLiteral("The mail module ") + QLatin1String(kMailModuleFile) + QStringLiteral(" is in none of ") +
            candidates.join(QStringLiteral(", "));
    return nullptr;
}

} // namespace

bool NotificationComposer::SendNotification(const cSettings& settings, qint16 index, HistorySink& history)
{
    const cMonitorFile* file = NotificationText::FileToNotify(settings, index);
    if (!file) {
        return false; // nothing could be sent, so nothing is loaded
    }
    QString error;
    const SentrelMailModule* module = mailModule(error);
    if (!module) {
        DebugLog(error, 5, LogIndentKeep);
        history.AddHistory(DateTimeUtility::Now(), NotificationText::FailedLine(*file, error));
        return false;
    }
    return module->sendNotification(settings, index, history);
}

void cEmail::CancelSends()
{
    // Without the module no send can be in flight.
    if (g_module) {
        g_module->cancelSends();
    }
}
