#pragma once

#include "SentrelConfig.h"
#include "notify/Notification.h"

#include <QString>
#include <QStringList>
#include <QtPlugin>

#include <functional>

// The mail code as the service program sees it once it has loaded the mail
// module (GMime, libcurl and TLS live only there). A plain interface, not a
// QObject one: the module has its own copy of every class it is built from.
class MailPlugin
{
public:
    virtual ~MailPlugin() = default;

    // The program's log settings and where the templates are; before the first Send.
    virtual void Configure(int debugLevel, const QString& debugPath, const QStringList& templateFolders) = 0;
    // Composes and mails in the background; finished is called later, from
    // the event loop of the calling thread, once, with the history line.
    virtual void Send(const Notification& notification,
                      std::function<void(bool sent, const QString& historyLine)> finished) = 0;
    // Ends the send in flight at once; its finished still follows, as failed.
    virtual void Cancel() = 0;
};

// The interface of one program version; a module of another version is not used.
#define SENTREL_MAIL_PLUGIN_IID "com.brackwell.Sentrel.MailPlugin/" SENTREL_VERSION
Q_DECLARE_INTERFACE(MailPlugin, SENTREL_MAIL_PLUGIN_IID)

inline constexpr char kMailModuleFile[] = "sentrel-mail.so";
