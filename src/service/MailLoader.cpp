// The service program's synchronous way to the mail module, for the check
// cycle that still waits for each send: a PluginNotifier, waited for.
#include "model/cSettings.h"
#include "notify/HistorySink.h"
#include "notify/NotificationComposer.h"
#include "notify/NotificationText.h"
#include "notify/cEmail.h"
#include "service/PluginNotifier.h"
#include "support/DateTimeUtility.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace {

PluginNotifier* g_notifier = nullptr;

} // namespace

bool NotificationComposer::SendNotification(const cSettings& settings, qint16 index, HistorySink& history)
{
    const std::optional<Notification> n = NotificationText::ToNotify(settings, index);
    if (!n) {
        return false; // nothing could be sent, so nothing is loaded
    }
    if (!g_notifier) {
        g_notifier = new PluginNotifier(QCoreApplication::instance());
    }
    bool finished = false;
    bool sent = false;
    QString line;
    QEventLoop loop;
    const auto connection =
        QObject::connect(g_notifier, &Notifier::Finished, &loop, [&](bool ok, const QString& historyLine) {
            finished = true;
            sent = ok;
            line = historyLine;
            loop.quit();
        });
    g_notifier->Send(*n);
    // Signals and timers keep being handled meanwhile, so a terminate signal can cancel the send.
    loop.exec();
    if (!finished) {
        // The program is quitting: the cancelled send ends at once, and its line is still written.
        g_notifier->Cancel();
        while (!finished) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }
    QObject::disconnect(connection);
    history.AddHistory(DateTimeUtility::Now(), line);
    return sent;
}

void cEmail::CancelSends()
{
    // Without the module no send can be in flight.
    if (g_notifier) {
        g_notifier->Cancel();
    }
}
