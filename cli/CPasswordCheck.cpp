#include "CPasswordCheck.h"

#include <crypt.h>
#include <gnutls/crypto.h>
#include <gnutls/gnutls.h>

#include <algorithm>

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

} // namespace

CPasswordCheck::CPasswordCheck(QObject* context) : m_context(context) {
    gnutls_rnd(GNUTLS_RND_KEY, m_key.data(), m_key.size());
}

CPasswordCheck::~CPasswordCheck() = default;

void CPasswordCheck::SetUsers(std::map<std::string, std::string> users) {
    m_users = std::move(users);
    m_passed.clear();
    if (m_users.empty())
        return; // no login asked, no stand-in needed
    // The stand-in has the cost of the dearest hash: an unknown name never answers sooner than
    // a known one.
    int cost = 0;
    for (const auto& [name, hash] : m_users)
        cost = std::max(cost, std::stoi(hash.substr(4, 2)));
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (::crypt_gensalt_rn("$2b$", cost > 0 ? cost : kDefaultCost, nullptr, 0, setting, sizeof setting) != nullptr)
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
    return user != m_users.end() && m_passed.count(Digest(name, password, user->second)) != 0;
}

void CPasswordCheck::Check(const std::string& name, const std::string& password, Done done) {
    const auto user = m_users.find(name);
    Job job{user != m_users.end() ? user->second : m_standIn, password, {}, std::move(done)};
    if (user != m_users.end())
        job.digest = Digest(name, password, user->second);
    m_queue.push_back(std::move(job));
    if (!m_running)
        StartNext();
}

void CPasswordCheck::StartNext() {
    if (m_queue.empty())
        return;
    auto accepted = std::make_shared<bool>(false);
    m_running = std::make_unique<CBackgroundTask>(
        m_context,
        [accepted, hash = m_queue.front().hash, password = m_queue.front().password](std::stop_token) {
            *accepted = Matches(password, hash);
        },
        [this, accepted](std::exception_ptr) {
            Job job = std::move(m_queue.front());
            m_queue.pop_front();
            m_running.reset();
            // Only a known name has a digest: the stand-in never lets anyone in.
            const bool passed = *accepted && !job.digest.empty();
            if (passed)
                m_passed.insert(job.digest);
            job.done(passed);
            StartNext();
        });
}

} // namespace cli
