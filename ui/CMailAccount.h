#pragma once

#include "SmtpOptions.h"

#include <QObject>

#include <mutex>

// How the window's e-mail alert reaches a provider: port, security, user name and extra trusted
// certificate in the user's settings file, the password in the desktop's secret store (Secret
// Service, through QtKeychain) and never in a file. The password is read once at start and kept
// in memory, so that an alert never waits for the store.
//
// Lives on the user-interface thread; Options may be called from any thread.
class CMailAccount : public QObject {
    Q_OBJECT
public:
    enum class SecretStore {
        Unknown,     // still asking
        Available,   // the password is kept there
        Unavailable, // no secret store: the password lasts until the program ends
    };

    explicit CMailAccount(QObject* parent = nullptr);

    // Everything the alert needs, the password included.
    SmtpOptions Options() const;
    // Keeps new settings: the file gets only what differs from the defaults, the secret store
    // the password (or loses it when the user name is cleared).
    void Store(const SmtpOptions& options);

    SecretStore StoreState() const { return m_store; }

signals:
    void StoreStateChanged();

private:
    void ReadPassword(const std::string& user);
    void WritePassword(const std::string& user, const std::string& password);
    void DeletePassword(const std::string& user);
    void SetStoreState(SecretStore state);

    mutable std::mutex m_mutex; // guards m_options
    SmtpOptions m_options;
    SecretStore m_store = SecretStore::Unknown;
};
