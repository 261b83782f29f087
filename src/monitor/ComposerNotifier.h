#pragma once

#include "notify/Notifier.h"

class cSettings;

// A notifier over the blocking notification composer: sends at once and
// reports from the event loop. Stands in until the asynchronous senders come.
class ComposerNotifier : public Notifier
{
    Q_OBJECT

public:
    explicit ComposerNotifier(const cSettings& settings, QObject* parent = nullptr);

    void Send(const Notification& notification) override;
    void Cancel() override;

private:
    const cSettings& m_settings;
};
