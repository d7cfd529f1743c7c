#pragma once

#include "NameLookupBatch.h"
#include "Probe.h"
#include "UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <queue>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// What a pass needs to know of one entry: a copy, so that the entry itself is never touched.
struct PassEntry {
    std::int32_t connect = 1; // 0: ICMP echo, otherwise TCP connect to port
    std::string address;
    std::int32_t port = 0;
};

// Probes a whole list with many probes in flight at once, on the calling thread: one wait on
// every socket (through AbortablePoll, so a stopped worker leaves at once and the unwinding
// closes every socket), name lookups on helper threads, and each probe with exactly the
// semantics it has on its own. A pass takes about as long as its slowest probe.
//
// At most maxInFlight probes hold a socket at a time, and never more than the descriptors
// left under the process's limit: the others wait for a free slot, none fails for want of one.
class ProbePass {
public:
    static constexpr std::size_t kDefaultMaxInFlight = 4096;
    // Descriptors left for everything else meanwhile (log lines, lookups, the window).
    static constexpr std::size_t kReservedDescriptors = 64;
    // How long to wait before trying again when descriptors ran out with nothing in flight.
    static constexpr int kDescriptorRetryMs = 100;
    // Echo requests in flight to one address. Each raw ICMP socket gets a copy of every reply
    // of its peer, so many echoes to one host cost the square of their number; distinct hosts
    // are not limited by this.
    static constexpr std::size_t kMaxEchoesPerHost = 8;

    // Called for each entry once its probe has ended, in the order they end.
    using DoneFn = std::function<void(std::size_t index, const ProbeOutcome& outcome)>;

    ProbePass(std::vector<PassEntry> entries, std::size_t maxInFlight, DoneFn onDone);
    ~ProbePass();
    ProbePass(const ProbePass&) = delete;
    ProbePass& operator=(const ProbePass&) = delete;

    // Returns once every entry is done.
    void Run();

private:
    using Clock = AsyncProbe::Clock;
    using Deadline = std::pair<Clock::time_point, std::size_t>;

    void Prepare();
    void RunOneAtATime();
    void StartReady();
    void Wait();
    void OnLookups();
    void Launch(std::size_t index);
    void Land(std::size_t index);
    // Takes the outcome by value: it frees the probe, which may be where the outcome lives.
    void Done(std::size_t index, ProbeOutcome outcome);
    int WaitTimeoutMs() const;

    std::vector<PassEntry> m_entries;
    std::size_t m_maxInFlight;
    DoneFn m_onDone;

    std::vector<std::unique_ptr<AsyncProbe>> m_probes; // per entry; null once done
    std::vector<HostAddress> m_destinations;
    std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>> m_ready; // lowest row first
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> m_deadlines;
    std::vector<std::vector<std::size_t>> m_waitingForName; // per submitted name: its entries
    std::unordered_map<HostAddress, std::size_t, HostAddress::Hash> m_echoesInFlight;
    // For a host at its limit: the entries waiting for an echo slot.
    std::unordered_map<HostAddress, std::deque<std::size_t>, HostAddress::Hash> m_echoesWaiting;
    NameLookupBatchGuard m_lookups;

    UniqueFd m_epoll;
    std::size_t m_remaining = 0;
    std::size_t m_inFlight = 0;
    std::size_t m_limit = 0;     // probes in flight at most, for now
    std::size_t m_fullLimit = 0; // and when descriptors do not run short
    Clock::time_point m_retryAt{};
};
