#pragma once

#include "SilentHostNamespace.h"

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// Hosts behind a link that loses, delays, duplicates and reorders, as the kernel's netem would
// (these kernels have none): a TUN device in a network namespace, served by a thread that answers
// each ICMP echo request routed to it as a rule says. Everything else that reaches the device (a
// TCP connect, say) is dropped unanswered.
class ImpairedLink {
public:
    using Clock = std::chrono::steady_clock;
    struct Verdict {
        bool drop = false;
        std::chrono::microseconds delay{0};
        int copies = 1; // more than one: duplicates
    };
    // nth: how many echo requests to destination came before this one.
    using Rule = std::function<Verdict(in_addr_t destination, std::uint64_t nth)>;
    struct Request {
        in_addr_t destination;
        Clock::time_point at;
    };

    // Routes network (e.g. "10.219.0.0/16") in ns to a TUN device named device.
    ImpairedLink(const SilentHostNamespace& ns, const std::string& device, const std::string& network, Rule rule);
    ~ImpairedLink();
    ImpairedLink(const ImpairedLink&) = delete;
    ImpairedLink& operator=(const ImpairedLink&) = delete;

    bool IsOk() const { return m_ok; }
    // The echo requests seen so far, in the order they came, and how many of them were dropped.
    std::vector<Request> Requests() const;
    std::uint64_t Dropped() const { return m_dropped; }
    // How late each reply went out after its request came, as written (a duplicate once).
    std::vector<std::chrono::nanoseconds> Delays() const;

private:
    void Serve();

    Rule m_rule;
    int m_tun = -1;
    bool m_ok = false;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_dropped{0};
    mutable std::mutex m_mutex;
    std::vector<Request> m_requests;
    std::vector<std::chrono::nanoseconds> m_delays;
    std::thread m_thread;
};

} // namespace testsupport
