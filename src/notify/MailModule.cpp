// The entry of the mail module. Everything else in the module is hidden, so
// its calls stay inside it; what it needs of the rest of the program (the
// profile, the log, the dates) it takes from the program that loaded it.
#include "notify/MailModule.h"

#include "SentrelConfig.h"
#include "notify/NotificationComposer.h"
#include "notify/cEmail.h"

namespace {

bool sendNotification(const cSettings& settings, qint16 index, HistorySink& history)
{
    return NotificationComposer::SendNotification(settings, index, history);
}

void cancelSends()
{
    cEmail::CancelSends();
}

const SentrelMailModule kModule {SENTREL_VERSION, &sendNotification, &cancelSends};

} // namespace

extern "C" __attribute__((visibility("default"))) const SentrelMailModule* sentrel_mail_module()
{
    return &kModule;
}
