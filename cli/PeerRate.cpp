#include "PeerRate.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>

namespace cli {

std::string PeerKey(const sockaddr& address) {
    if (address.sa_family == AF_INET6) {
        const in6_addr& bytes = reinterpret_cast<const sockaddr_in6&>(address).sin6_addr;
        return std::string(reinterpret_cast<const char*>(&bytes), sizeof bytes);
    }
    const in_addr& bytes = reinterpret_cast<const sockaddr_in&>(address).sin_addr;
    return std::string(reinterpret_cast<const char*>(&bytes), sizeof bytes);
}

double PeerRate::Refilled(const Budget& budget, std::chrono::steady_clock::time_point now) {
    const std::chrono::duration<double> since = now - budget.at;
    return std::min(kBurst, budget.tokens + since.count() * kPerSecond);
}

bool PeerRate::Admit(const std::string& peer, std::chrono::steady_clock::time_point now) {
    if (m_peers.size() >= kMaxPeers && m_peers.count(peer) == 0)
        std::erase_if(m_peers, [now](const auto& entry) { return Refilled(entry.second, now) >= kBurst; });
    // A flood from more addresses than it remembers is not held back (its cost is bounded by the
    // connection limit): forgetting a budget that is not full would let its peer start over.
    const auto [found, added] = m_peers.try_emplace(peer, Budget{kBurst, now});
    if (added && m_peers.size() > kMaxPeers) {
        m_peers.erase(found);
        return true;
    }
    Budget& budget = found->second;
    budget.tokens = Refilled(budget, now);
    budget.at = now;
    if (budget.tokens < 1)
        return false;
    budget.tokens -= 1;
    return true;
}

} // namespace cli
