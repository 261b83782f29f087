#include "app/KeyringNotifier.h"

#include "model/cSettings.h"
#include "notify/NotificationText.h"
#include "support/DebugLog.h"

#include <QTimer>

#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Sentrel");

// Jobs own themselves and go once finished: libsecret calls back a job even after its owner has gone.
template<typename T>
T* newJob(const QString& profileName)
{
    auto* job = new T(kService);
    job->setKey(profileName);
    return job;
}

} // namespace

KeyringNotifier::KeyringNotifier(QStringList templateFolders, QObject* parent)
    : Notifier(parent)
    , m_mail(std::move(templateFolders))
{
    connect(&m_mail, &Notifier::Finished, this, &Notifier::Finished);
}

void KeyringNotifier::Follow(const cSettings& settings)
{
    if (settings.SMTPPasswordStore() != cSettings::PasswordStore::Keyring) {
        m_state = State::Unused;
        m_password.clear();
        flush();
        return;
    }
    if (m_state == State::Unused || settings.ProfileName() != m_profileName) {
        m_profileName = settings.ProfileName();
        read();
    }
}

std::optional<QString> KeyringNotifier::Password() const
{
    return m_state == State::Known ? std::optional<QString>(m_password) : std::nullopt;
}

void KeyringNotifier::read()
{
    m_state = State::Reading;
    auto* job = newJob<QKeychain::ReadPasswordJob>(m_profileName);
    connect(job, &QKeychain::Job::finished, this, [this, job, profile = m_profileName] {
        if (m_state != State::Reading || profile != m_profileName) {
            return; // the profile moved on meanwhile
        }
        const bool read = job->error() == QKeychain::NoError;
        m_state = read ? State::Known : State::Failed;
        m_password = read ? job->textData() : QString();
        m_failure = QStringLiteral("The SMTP password could not be read from the desktop's keyring (") +
                    job->errorString() + QLatin1Char(')');
        if (!read && m_waiting.empty()) {
            Q_EMIT ReadFailed(m_failure);
        }
        flush();
    });
    job->start();
}

void KeyringNotifier::Send(const Notification& notification)
{
    if (m_state == State::Failed) {
        read(); // unlocked since, perhaps
    }
    if (m_state == State::Reading) {
        m_waiting.push_back(notification);
        return;
    }
    forward(notification);
}

void KeyringNotifier::flush()
{
    for (; !m_waiting.empty(); m_waiting.pop_front()) {
        forward(m_waiting.front());
    }
}

void KeyringNotifier::forward(const Notification& notification)
{
    if (m_state == State::Failed) {
        const QString line = NotificationText::FailedLine(notification, m_failure);
        QTimer::singleShot(0, this, [this, line] { Q_EMIT Finished(false, line); });
        return;
    }
    Notification withPassword = notification;
    if (m_state == State::Known) {
        withPassword.password = m_password;
    }
    m_mail.Send(withPassword);
}

void KeyringNotifier::Cancel()
{
    for (; !m_waiting.empty(); m_waiting.pop_front()) {
        const QString line = NotificationText::FailedLine(
            m_waiting.front(),
            QStringLiteral("Waiting for the SMTP password from the desktop's keyring was cancelled"));
        QTimer::singleShot(0, this, [this, line] { Q_EMIT Finished(false, line); });
    }
    m_mail.Cancel();
}

void KeyringNotifier::Store(const QString& profileName, const QString& password)
{
    auto* job = newJob<QKeychain::WritePasswordJob>(profileName);
    job->setTextData(password);
    connect(job, &QKeychain::Job::finished, this, [this, job, profileName, password] {
        if (job->error() != QKeychain::NoError) {
            Q_EMIT Stored(false, job->errorString());
            return;
        }
        m_profileName = profileName;
        m_password = password;
        m_state = State::Known;
        flush();
        Q_EMIT Stored(true, QString());
    });
    job->start();
}

void KeyringNotifier::Forget(const QString& profileName)
{
    auto* job = newJob<QKeychain::DeletePasswordJob>(profileName);
    connect(job, &QKeychain::Job::finished, job, [job] {
        if (job->error() != QKeychain::NoError && job->error() != QKeychain::EntryNotFound) {
            DebugLog(QStringLiteral("The old SMTP password stays in the desktop's keyring: ") + job->errorString(), 5);
        }
    });
    job->start();
}
