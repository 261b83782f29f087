// The mail module of the service program: its own copies of the program's
// classes, all hidden, behind MailPlugin; only Qt's plugin entry is exported.
#include "notify/MailNotifier.h"
#include "notify/MailPlugin.h"
#include "support/DebugLog.h"
#include "support/FileSystemUtility.h"
#include "support/GeneralUtility.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QObject>

#include <deque>
#include <memory>

class MailModule : public QObject, public MailPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID SENTREL_MAIL_PLUGIN_IID)
    Q_INTERFACES(MailPlugin)

public:
    void Configure(int debugLevel, const QString& debugPath, const QStringList& templateFolders) override
    {
        // This module's log and program details are its own; they follow the program's.
        GeneralUtility::SetAppFromArguments(QCoreApplication::arguments());
        SetDebugPath(debugPath);
        // A log folder that cannot be made was reported by the program already; this copy stays quiet about it.
        const bool writable =
            debugLevel <= 0 || FileSystemUtility::CreateFolderPath(QFileInfo(DebugLogFilePath()).absolutePath());
        SetDebugLevel(writable ? debugLevel : 0);
        m_notifier = std::make_unique<MailNotifier>(templateFolders);
        connect(m_notifier.get(), &Notifier::Finished, this, [this](bool sent, const QString& line) {
            const auto finished = std::move(m_finished.front());
            m_finished.pop_front();
            finished(sent, line);
        });
    }

    void Send(const Notification& notification, std::function<void(bool, const QString&)> finished) override
    {
        if (!m_notifier) {
            Configure(DebugLevel(), DebugPath(), {});
        }
        m_finished.push_back(std::move(finished));
        m_notifier->Send(notification);
    }

    void Cancel() override
    {
        if (m_notifier) {
            m_notifier->Cancel();
        }
    }

private:
    std::unique_ptr<MailNotifier> m_notifier;
    std::deque<std::function<void(bool, const QString&)>> m_finished; // in the order of the sends
};

#include "MailModule.moc"
