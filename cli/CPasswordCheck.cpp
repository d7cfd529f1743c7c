#include "CPasswordCheck.h"

#include "WebConfig.h"

#include <QObject>
#include <QSocketNotifier>

#include <crypt.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>
#include <strings.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace cli {

namespace {

constexpr std::size_t kBcryptSettingLength = 29; // "$2b$10$" and 22 characters of salt
constexpr int kDefaultCost = 10;

// Whether password hashes to hash, in a time that does not depend on where they differ.
bool Matches(const std::string& password, const std::string& hash) {
    auto data = std::make_unique<crypt_data>();
    const char* result = ::crypt_rn(password.c_str(), hash.c_str(), data.get(), sizeof *data);
    if (result == nullptr)
        return false;
    const std::string_view computed(result);
    if (computed.size() != hash.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < hash.size(); ++i)
        difference |= static_cast<unsigned char>(computed[i] ^ hash[i]);
    return difference == 0;
}

// The cost most users' hashes have (the higher one on a tie).
int CommonCost(const std::map<std::string, std::string>& users) {
    std::map<int, int> counts;
    for (const auto& [name, hash] : users)
        ++counts[BcryptCost(hash)];
    int cost = kDefaultCost, count = 0;
    for (const auto& [each, n] : counts)
        if (n >= count)
            std::tie(cost, count) = std::tie(each, n);
    return cost;
}

} // namespace

std::optional<BasicCredentials> ParseBasicAuthorization(const char* header) {
    if (header == nullptr || ::strncasecmp(header, "Basic ", 6) != 0)
        return std::nullopt;
    std::string_view encoded(header + 6);
    encoded.remove_prefix(std::min(encoded.find_first_not_of(' '), encoded.size()));
    encoded = encoded.substr(0, encoded.find_last_not_of(' ') + 1);
    const gnutls_datum_t in{reinterpret_cast<unsigned char*>(const_cast<char*>(encoded.data())),
                            static_cast<unsigned>(encoded.size())};
    gnutls_datum_t out{};
    if (encoded.empty() || gnutls_base64_decode2(&in, &out) < 0)
        return std::nullopt;
    const std::string text(reinterpret_cast<const char*>(out.data), out.size);
    gnutls_free(out.data);
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos || text.find('\0') != std::string::npos)
        return std::nullopt;
    return BasicCredentials{text.substr(0, colon), text.substr(colon + 1)};
}

CPasswordCheck::CPasswordCheck(QObject* context) : m_done(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    gnutls_rnd(GNUTLS_RND_KEY, m_key.data(), m_key.size());
    if (!m_done)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_done.Get(), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, context, [this] { Deliver(); });
    // Started now, while descriptors and threads are to be had: a check must never need a new one.
    try {
        m_thread = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        m_notifier.reset(); // every check is refused
    }
}

CPasswordCheck::~CPasswordCheck() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
    m_notifier.reset(); // before the descriptor it watches
}

void CPasswordCheck::SetUsers(const std::map<std::string, std::string>& users) {
    std::erase_if(m_passed, [&](const auto& passed) {
        const auto now = users.find(passed.first), before = m_users.find(passed.first);
        return now == users.end() || before == m_users.end() || now->second != before->second;
    });
    m_users = users;
    if (m_users.empty())
        return; // no login asked, no stand-in needed
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (::crypt_gensalt_rn("$2b$", CommonCost(m_users), nullptr, 0, setting, sizeof setting) != nullptr)
        m_standIn = std::string(setting).substr(0, kBcryptSettingLength) + std::string(31, '.');
}

std::string CPasswordCheck::Digest(const std::string& name, const std::string& password,
                                   const std::string& hash) const {
    const std::string text = name + '\0' + password + '\0' + hash;
    std::array<unsigned char, 32> digest{};
    gnutls_hmac_fast(GNUTLS_MAC_SHA256, m_key.data(), m_key.size(), text.data(), text.size(), digest.data());
    return std::string(digest.begin(), digest.end());
}

bool CPasswordCheck::Remembered(const std::string& name, const std::string& password) const {
    const auto user = m_users.find(name);
    const auto passed = m_passed.find(name);
    return user != m_users.end() && passed != m_passed.end() &&
           passed->second.count(Digest(name, password, user->second)) != 0;
}

bool CPasswordCheck::Check(const std::string& peer, const std::string& name, const std::string& password, Done done) {
    std::size_t& ofPeer = m_perPeer[peer];
    if (!m_notifier || m_pending.size() >= kMaxPendingChecks || ofPeer >= kMaxChecksPerPeer) {
        if (ofPeer == 0)
            m_perPeer.erase(peer);
        return false;
    }
    const auto user = m_users.find(name);
    const bool known = user != m_users.end();
    const std::uint64_t id = m_nextId++;
    m_pending.emplace(
        id, Pending{peer, name, known ? Digest(name, password, user->second) : std::string(), std::move(done)});
    ++ofPeer;
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back({id, known ? user->second : m_standIn, password});
    }
    m_wake.notify_one();
    return true;
}

void CPasswordCheck::Work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_stopping)
            return;
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        const bool accepted = Matches(job.password, job.hash);
        lock.lock();
        m_results.emplace_back(job.id, accepted);
        const std::uint64_t one = 1;
        while (::write(m_done.Get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

void CPasswordCheck::Deliver() {
    std::uint64_t count = 0;
    while (::read(m_done.Get(), &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::vector<std::pair<std::uint64_t, bool>> results;
    {
        std::lock_guard lock(m_mutex);
        results.swap(m_results);
    }
    for (const auto& [id, accepted] : results) {
        const auto found = m_pending.find(id);
        Pending pending = std::move(found->second);
        m_pending.erase(found);
        if (--m_perPeer[pending.peer] == 0)
            m_perPeer.erase(pending.peer);
        // Only a known name has a digest: the stand-in never lets anyone in. A name whose hash
        // changed meanwhile is not remembered with the old one.
        const auto user = m_users.find(pending.name);
        const bool passed = accepted && !pending.digest.empty();
        if (passed && user != m_users.end())
            m_passed[pending.name].insert(pending.digest);
        pending.done(passed);
    }
}

} // namespace cli
