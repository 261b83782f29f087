#pragma once

#include "notify/Notifier.h"

#include <QPluginLoader>
#include <QStringList>

#include <memory>
#include <optional>

class MailPlugin;

// The service program's notifier: it links none of the mail code and loads
// the mail module with the first notification. Until then the process holds
// no GMime, libcurl or TLS library, which is most of what an idle service
// would otherwise keep mapped.
class PluginNotifier : public Notifier
{
    Q_OBJECT

public:
    // moduleFiles: where the module is looked for, in order; by default beside
    // the executable, then where an installation puts it relative to bin/.
    explicit PluginNotifier(QObject* parent = nullptr);
    PluginNotifier(QStringList moduleFiles, QObject* parent);

    void Send(const Notification& notification) override;
    void Cancel() override;

    // A password that every notification uses instead of the profile's (the
    // service's systemd credential); nullopt leaves the profile's.
    void SetPassword(std::optional<QString> password) { m_password = std::move(password); }

    [[nodiscard]] static QStringList DefaultModuleFiles();

private:
    // The loaded module, or nullptr with the reason. A failure is not
    // remembered, so a module put right is used from the next notification on.
    MailPlugin* load(QString& error);

    QStringList m_moduleFiles;
    std::unique_ptr<QPluginLoader> m_loader; // kept loaded: its libraries do not unload cleanly
    MailPlugin* m_plugin = nullptr;
    std::optional<QString> m_password;
};
