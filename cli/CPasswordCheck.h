#pragma once

#include "UniqueFd.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

class QObject;
class QSocketNotifier;

namespace cli {

struct BasicCredentials {
    std::string name;
    std::string password;
};

// The name and password of an Authorization header of the Basic scheme (its name in any case, as
// HTTP has it); none for another scheme, bad base64, no ':', or a NUL byte, which no hash could
// check (crypt stops at it).
std::optional<BasicCredentials> ParseBasicAuthorization(const char* header);

// Checks the passwords of basic authentication against bcrypt hashes on one thread of its own,
// started with the endpoint, one check at a time: a check costs tens of milliseconds on purpose,
// and the event loop that answers the endpoint and takes the probes' results must not wait for it.
// A password that passed is remembered as a keyed digest (never in clear), so a scraper's next
// request costs no hash. Each peer may have only kMaxChecksPerPeer checks waiting, so a flood of
// guesses from one address cannot keep another's scraper out.
class CPasswordCheck {
public:
    using Done = std::function<void(bool accepted)>;

    static constexpr std::size_t kMaxPendingChecks = 16;
    static constexpr std::size_t kMaxChecksPerPeer = 2;

    explicit CPasswordCheck(QObject* context);
    ~CPasswordCheck();
    CPasswordCheck(const CPasswordCheck&) = delete;
    CPasswordCheck& operator=(const CPasswordCheck&) = delete;

    // Names and their bcrypt hashes; what passed before is kept for the names whose hash is the same.
    void SetUsers(const std::map<std::string, std::string>& users);
    bool HasUsers() const { return !m_users.empty(); }
    // Whether this name and password passed a check already.
    bool Remembered(const std::string& name, const std::string& password) const;
    // Queues a check for peer (its address); done comes later on the context's thread. False, and
    // done never called, when it cannot be taken now: too many checks wait (from this peer or in
    // all), or the thread could not be started. An unknown name is checked against a stand-in hash
    // of the cost most users have, so the time taken does not tell which names exist.
    bool Check(const std::string& peer, const std::string& name, const std::string& password, Done done);

private:
    struct Pending {
        std::string peer;
        std::string name;
        std::string digest; // remembered when it passes; empty for an unknown name
        Done done;
    };
    struct Job {
        std::uint64_t id;
        std::string hash;
        std::string password;
    };

    std::string Digest(const std::string& name, const std::string& password, const std::string& hash) const;
    void Work();
    void Deliver(); // on the context's thread

    std::map<std::string, std::string> m_users;
    std::string m_standIn;
    std::array<unsigned char, 32> m_key{};
    std::map<std::string, std::set<std::string>> m_passed; // name -> digests of passwords that passed
    std::map<std::uint64_t, Pending> m_pending;
    std::map<std::string, std::size_t> m_perPeer;
    std::uint64_t m_nextId = 0;

    // Shared with the thread.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    std::vector<std::pair<std::uint64_t, bool>> m_results;
    bool m_stopping = false;

    UniqueFd m_done; // the thread's results reach the context's thread through it
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::thread m_thread; // last: joined before the rest goes
};

} // namespace cli
