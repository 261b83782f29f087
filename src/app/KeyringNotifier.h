#pragma once

#include "notify/MailNotifier.h"

#include <QString>

#include <deque>
#include <optional>

class cSettings;

// The window's notifier: mails through MailNotifier and, while the profile keeps its SMTP
// password in the desktop's keyring (Secret Service), gives every notification the password
// read from there under the profile's name. A send made before the password arrived waits for it.
class KeyringNotifier : public Notifier
{
    Q_OBJECT

public:
    explicit KeyringNotifier(QStringList templateFolders, QObject* parent = nullptr);

    void Send(const Notification& notification) override;
    void Cancel() override;

    // Follows the profile just read: starts reading its password from the keyring when the
    // profile keeps it there and it is not known yet; otherwise the profile's password is used.
    void Follow(const cSettings& settings);
    // The password read from or stored in the keyring; nullopt while none is known.
    [[nodiscard]] std::optional<QString> Password() const;
    // Stores the password in the keyring under the profile's name; Stored follows.
    void Store(const QString& profileName, const QString& password);
    // Removes the profile's password from the keyring, once the profile keeps it again.
    void Forget(const QString& profileName);

Q_SIGNALS:
    // A read found the keyring out of reach (no Secret Service, locked, refused) and no send waited.
    void ReadFailed(const QString& reason);
    void Stored(bool stored, const QString& reason);

private:
    enum class State { Unused, Reading, Known, Failed };
    void read();
    void forward(const Notification& notification);
    // Sends those that waited for the password, now that it is known or out of reach.
    void flush();

    MailNotifier m_mail;
    State m_state = State::Unused;
    QString m_profileName;
    QString m_password;
    QString m_failure;
    std::deque<Notification> m_waiting;
};
