#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <string>

struct sockaddr;

namespace cli {

// A peer's address without its port, as the key its budgets are counted by.
std::string PeerKey(const sockaddr& address);

// How many new connections each peer address may open: kBurst at once, then kPerSecond. A TLS
// handshake makes the server sign, which for an RSA key costs milliseconds of the thread that also
// answers scrapes; a client that opens connections only to start handshakes is held to this rate,
// while a scraper (one connection a scrape, or one kept open) never meets it.
class PeerRate {
public:
    static constexpr double kPerSecond = 8;
    static constexpr double kBurst = 16;
    // Peers remembered at most; beyond it, those whose budget is full again are forgotten.
    static constexpr std::size_t kMaxPeers = 4096;

    // Whether peer may open one more connection now; counts it when so.
    bool Admit(const std::string& peer, std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now());

private:
    struct Budget {
        double tokens;
        std::chrono::steady_clock::time_point at;
    };
    static double Refilled(const Budget& budget, std::chrono::steady_clock::time_point now);

    std::map<std::string, Budget> m_peers;
};

} // namespace cli
