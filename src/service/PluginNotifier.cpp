#include "service/PluginNotifier.h"

#include "SentrelConfig.h"
#include "notify/MailPlugin.h"
#include "notify/NotificationText.h"
#include "support/DebugLog.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>

PluginNotifier::PluginNotifier(QObject* parent)
    : PluginNotifier(DefaultModuleFiles(), parent)
{ }

PluginNotifier::PluginNotifier(QStringList moduleFiles, QObject* parent)
    : Notifier(parent)
    , m_moduleFiles(std::move(moduleFiles))
{ }

QStringList PluginNotifier::DefaultModuleFiles()
{
    const QString here = QCoreApplication::applicationDirPath();
    return {
        here + QLatin1Char('/') + QLatin1String(kMailModuleFile),
        QDir::cleanPath(here + QStringLiteral("/" SENTREL_MAIL_MODULE_FROM_BIN "/") + QLatin1String(kMailModuleFile))};
}

MailPlugin* PluginNotifier::load(QString& error)
{
    if (m_plugin) {
        return m_plugin;
    }
    for (const QString& path : std::as_const(m_moduleFiles)) {
        if (!QFileInfo::exists(path)) {
            continue;
        }
        auto loader = std::make_unique<QPluginLoader>(path);
        // The interface's name carries the version the module was built for.
        const QString iid = loader->metaData().value(QLatin1String("IID")).toString();
        if (!iid.isEmpty() && iid != QLatin1String(SENTREL_MAIL_PLUGIN_IID)) {
            error = QStringLiteral("The mail module ") + path + QStringLiteral(" is not the one of Sentrel ") +
                    QStringLiteral(SENTREL_VERSION) + QStringLiteral(" (it is of ") +
                    iid.section(QLatin1Char('/'), -1) + QLatin1Char(')');
            return nullptr;
        }
        QObject* instance = loader->instance();
        if (!instance) {
            error = QStringLiteral("The mail module ") + path + QStringLiteral(" could not be loaded: ") +
                    loader->errorString();
            return nullptr;
        }
        MailPlugin* plugin = qobject_cast<MailPlugin*>(instance);
        if (!plugin) {
            error = QStringLiteral("The mail module ") + path + QStringLiteral(" is not the one of Sentrel ") +
                    QStringLiteral(SENTREL_VERSION);
            return nullptr;
        }
        DebugLog(QStringLiteral("Loaded the mail module ") + path, 5, LogIndentKeep);
        plugin->Configure(DebugLevel(), DebugPath(), NotificationText::TemplateFolders());
        m_loader = std::move(loader);
        m_plugin = plugin;
        return m_plugin;
    }
    error = QStringLiteral("The mail module ") + QLatin1String(kMailModuleFile) + QStringLiteral(" is in none of ") +
            m_moduleFiles.join(QStringLiteral(", "));
    return nullptr;
}

void PluginNotifier::Send(const Notification& notification)
{
    QString error;
    MailPlugin* plugin = load(error);
    if (!plugin) {
        DebugLog(error, 5, LogIndentKeep);
        const QString line = NotificationText::FailedLine(notification, error);
        QTimer::singleShot(0, this, [this, line] { Q_EMIT Finished(false, line); });
        return;
    }
    Notification withPassword = notification;
    if (m_password) {
        withPassword.password = *m_password;
    }
    plugin->Send(withPassword, [self = QPointer<PluginNotifier>(this)](bool sent, const QString& line) {
        if (self) {
            Q_EMIT self->Finished(sent, line);
        }
    });
}

void PluginNotifier::Cancel()
{
    if (m_plugin) {
        m_plugin->Cancel();
    }
}
