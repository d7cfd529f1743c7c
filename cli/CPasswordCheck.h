#pragma once

#include "CBackgroundTask.h"

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>

class QObject;

namespace cli {

// Checks the passwords of basic authentication against bcrypt hashes on a thread of its own, one
// check at a time: a check costs tens of milliseconds on purpose, and the event loop that answers
// the endpoint and takes the probes' results must not wait for it. A password that passed is
// remembered as a keyed digest (never in clear), so a scraper's next request costs no hash.
class CPasswordCheck {
public:
    using Done = std::function<void(bool accepted)>;

    explicit CPasswordCheck(QObject* context);
    ~CPasswordCheck();
    CPasswordCheck(const CPasswordCheck&) = delete;
    CPasswordCheck& operator=(const CPasswordCheck&) = delete;

    // Names and their bcrypt hashes; what passed before is forgotten.
    void SetUsers(std::map<std::string, std::string> users);
    bool HasUsers() const { return !m_users.empty(); }
    // Whether this name and password passed a check already.
    bool Remembered(const std::string& name, const std::string& password) const;
    // Checks on the thread; done comes later on the context's thread. An unknown name is checked
    // against a stand-in hash of the same cost, so the time taken does not tell which names exist.
    void Check(const std::string& name, const std::string& password, Done done);
    // Checks waiting or running.
    std::size_t Pending() const { return m_queue.size(); }

private:
    struct Job {
        std::string hash;
        std::string password;
        std::string digest; // remembered when it passes
        Done done;
    };

    std::string Digest(const std::string& name, const std::string& password, const std::string& hash) const;
    void StartNext();

    QObject* m_context;
    std::map<std::string, std::string> m_users;
    std::string m_standIn;
    std::array<unsigned char, 32> m_key{};
    std::set<std::string> m_passed;
    std::deque<Job> m_queue;
    std::unique_ptr<CBackgroundTask> m_running; // last: joined before the rest goes
};

} // namespace cli
