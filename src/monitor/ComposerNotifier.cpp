#include "monitor/ComposerNotifier.h"

#include "model/cSettings.h"
#include "notify/HistorySink.h"
#include "notify/NotificationComposer.h"
#include "notify/cEmail.h"

#include <QTimer>

namespace {

// Keeps the composer's outcome line for the Finished signal.
class LastLine : public HistorySink
{
public:
    void AddHistory(const QDateTime&, const QString& text) override { line = text; }
    QString line;
};

} // namespace

ComposerNotifier::ComposerNotifier(const cSettings& settings, QObject* parent)
    : Notifier(parent)
    , m_settings(settings)
{ }

void ComposerNotifier::Send(const Notification& notification)
{
    LastLine history;
    const bool sent =
        NotificationComposer::SendNotification(m_settings, static_cast<qint16>(notification.index), history);
    QTimer::singleShot(0, this, [this, sent, line = history.line] { Q_EMIT Finished(sent, line); });
}

void ComposerNotifier::Cancel()
{
    cEmail::CancelSends();
}
