#include "CMailAccount.h"

#include "UserSettings.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <qt6keychain/keychain.h>

namespace {

const QString kPortKey = QStringLiteral("mail/port");
const QString kSecurityKey = QStringLiteral("mail/security");
const QString kUserKey = QStringLiteral("mail/user");
const QString kCaFileKey = QStringLiteral("mail/caFile");

// The secret store's service and the entry per user name.
const QString kKeychainService = QStringLiteral("pulsewick");
const QString kSecretService = QStringLiteral("org.freedesktop.secrets"); // its name on the session bus
QString KeychainKey(const std::string& user) {
    return QStringLiteral("smtp-login/") + QString::fromStdString(user);
}

// A value that equals its default is removed, so the file holds only what the user changed.
void Put(QSettings& settings, const QString& key, const QVariant& value, const QVariant& fallback) {
    if (value == fallback)
        settings.remove(key);
    else
        settings.setValue(key, value);
}

CMailAccount::SecretStore StateAfter(const QKeychain::Job& job) {
    switch (job.error()) {
    case QKeychain::NoError:
    case QKeychain::EntryNotFound:
        return CMailAccount::SecretStore::Available;
    default:
        return CMailAccount::SecretStore::Unavailable;
    }
}

} // namespace

CMailAccount::CMailAccount(QObject* parent) : QObject(parent) {
    const QSettings settings = ui::UserSettings();
    const int port = settings.value(kPortKey, SmtpOptions::kDefaultPort).toInt();
    if (port > 0 && port <= 65535)
        m_options.port = static_cast<std::uint16_t>(port);
    m_options.user = settings.value(kUserKey).toString().toStdString();
    // No value is the dialog's None, but only without a login: a login goes out in clear only
    // after None was chosen. A value that names no security is never taken for one.
    if (!settings.contains(kSecurityKey) && !m_options.user.empty())
        m_options.unusable = "the mail settings have a user but no security (none, starttls or tls): no e-mail is "
                             "sent until one is chosen";
    if (settings.contains(kSecurityKey)) {
        const QString name = settings.value(kSecurityKey).toString();
        if (const auto security = SmtpSecurityFromName(name.toStdString()))
            m_options.security = *security;
        else
            m_options.unusable = QStringLiteral("the mail setting security=%1 is not none, starttls or tls: no e-mail "
                                                "is sent until one is chosen")
                                     .arg(name)
                                     .toStdString();
    }
    m_options.caFile = settings.value(kCaFileKey).toString().toStdString();
    // Read even without a user name: the answer tells whether there is a store at all.
    ReadPassword(m_options.user);
    // A store that starts later (a keyring unlocked after the program) is asked again then.
    auto* watcher = new QDBusServiceWatcher(kSecretService, QDBusConnection::sessionBus(),
                                            QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (m_store != SecretStore::Available)
            ReadPassword(Options().user);
    });
}

SmtpOptions CMailAccount::Options() const {
    std::lock_guard lock(m_mutex);
    return m_options;
}

void CMailAccount::Store(const SmtpOptions& options) {
    SmtpOptions old;
    {
        std::lock_guard lock(m_mutex);
        old = std::exchange(m_options, options);
    }
    QSettings settings = ui::UserSettings();
    Put(settings, kPortKey, options.port, SmtpOptions::kDefaultPort);
    // With a login even None is written: a missing value is no choice.
    Put(settings, kSecurityKey, QString::fromLatin1(SmtpSecurityName(options.security)),
        options.user.empty() ? QString::fromLatin1(SmtpSecurityName(SmtpSecurity::None)) : QString());
    Put(settings, kUserKey, QString::fromStdString(options.user), QString());
    Put(settings, kCaFileKey, QString::fromStdString(options.caFile), QString());

    if (!old.user.empty() && old.user != options.user)
        DeletePassword(old.user);
    if (!options.user.empty() && (old.user != options.user || old.password != options.password))
        WritePassword(options.user, options.password);
}

void CMailAccount::SetStoreState(SecretStore state) {
    if (state == m_store)
        return;
    m_store = state;
    emit StoreStateChanged();
}

void CMailAccount::ReadPassword(const std::string& user) {
    auto* job = new QKeychain::ReadPasswordJob(kKeychainService, this); // deletes itself when done
    job->setKey(KeychainKey(user));
    connect(job, &QKeychain::Job::finished, this, [this, job, user] {
        SetStoreState(StateAfter(*job));
        if (job->error() != QKeychain::NoError || user.empty())
            return;
        std::lock_guard lock(m_mutex);
        // A password typed meanwhile is newer than the stored one.
        if (m_options.user == user && m_options.password.empty())
            m_options.password = job->textData().toStdString();
    });
    job->start();
}

void CMailAccount::WritePassword(const std::string& user, const std::string& password) {
    auto* job = new QKeychain::WritePasswordJob(kKeychainService, this);
    job->setKey(KeychainKey(user));
    job->setTextData(QString::fromStdString(password));
    connect(job, &QKeychain::Job::finished, this, [this, job] { SetStoreState(StateAfter(*job)); });
    job->start();
}

void CMailAccount::DeletePassword(const std::string& user) {
    auto* job = new QKeychain::DeletePasswordJob(kKeychainService, this);
    job->setKey(KeychainKey(user));
    job->start();
}
