#pragma once

#include "AttemptTally.h"
#include "IcmpEchoSession.h"
#include "NameLookupBatch.h"
#include "Probe.h"
#include "ProbeSettings.h"
#include "UniqueFd.h"

#include <array>
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
// Each entry gets settings.echoes attempts, settings.echoIntervalMs apart from one to its next;
// the attempts of all entries interleave, so a pass of N attempts takes about (N-1) intervals
// plus the slowest answer, whatever the number of entries. An entry is done when its last attempt
// has ended.
//
// Every ICMP echo of the pass goes through a few sockets per address family (see
// IcmpEchoSession: up to 16 identifiers of 65,536 echoes each), so any number of entries share
// them. Each TCP connect holds a socket of its own: at most
// maxInFlight of them at a time, and never more than the descriptors left under the process's
// limit; the others wait for a free slot, none fails for want of one.
class ProbePass {
public:
    static constexpr std::size_t kDefaultMaxInFlight = 4096;
    // Descriptors left for everything else meanwhile (log lines, lookups, the window).
    static constexpr std::size_t kReservedDescriptors = 64;
    // How long to wait before trying again when descriptors ran out with nothing in flight.
    static constexpr int kDescriptorRetryMs = 100;
    static constexpr std::size_t kEchoesPerRead = 32;

    // Called for each entry once its probe has ended, in the order they end.
    using DoneFn = std::function<void(std::size_t index, const ProbeOutcome& outcome)>;

    ProbePass(std::vector<PassEntry> entries, std::size_t maxInFlight, DoneFn onDone, ProbeSettings settings = {});
    ~ProbePass();
    ProbePass(const ProbePass&) = delete;
    ProbePass& operator=(const ProbePass&) = delete;

    // Returns once every entry is done.
    void Run();

private:
    using Clock = AsyncProbe::Clock;
    // One attempt: its entry times kKeyStride, plus its number.
    using Key = std::size_t;
    static constexpr Key kKeyStride = 128;
    static_assert(kKeyStride >= ProbeSettings::kMaxEchoes);
    using Deadline = std::pair<Clock::time_point, Key>;
    using ReadyQueue = std::priority_queue<std::size_t, std::vector<std::size_t>, std::greater<>>; // lowest row first

    void Prepare();
    void RunOneAtATime();
    void MakeReady(std::size_t index, const HostAddress& destination);
    void StartReady();
    void Wait();
    void OnLookups();
    void Launch(std::size_t index);
    void Land(Key key);
    void SendEcho(std::size_t index);
    // The next attempt of index has gone out: the one after it falls due an interval later.
    Key Attempted(std::size_t index);
    void AttemptEnded(Key key, const ProbeOutcome& outcome);
    bool WatchEchoes(IcmpEchoSession::SocketId socket, std::uint32_t events);
    void OnEchoSocket(IcmpEchoSession::SocketId socket, std::uint32_t events);
    // Reads the replies waiting on every echo socket open.
    void ReadEchoes();
    void EchoesEnded();
    void Done(std::size_t index, ProbeOutcome outcome);
    int WaitTimeoutMs() const;

    std::vector<PassEntry> m_entries;
    std::size_t m_maxInFlight;
    DoneFn m_onDone;
    ProbeSettings m_settings;
    AttemptTally m_attempts;

    std::unordered_map<Key, std::unique_ptr<AsyncProbe>> m_connects; // in flight
    std::vector<HostAddress> m_destinations;
    ReadyQueue m_readyConnects;
    ReadyQueue m_readyEchoes;
    std::deque<std::pair<Clock::time_point, std::size_t>> m_due; // next attempts, in the order they fall due
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> m_deadlines;
    std::vector<std::vector<std::size_t>> m_waitingForName; // per submitted name: its entries
    NameLookupBatchGuard m_lookups;

    IcmpEchoSession m_echoes;
    std::vector<std::size_t> m_echoesParked; // waiting until the echo socket takes more
    std::vector<IcmpEchoSession::Answer> m_answered;
    std::vector<IcmpEchoSession::Key> m_expired;
    // Per echo socket: what it is watched for in the epoll set; 0 while it is not in it.
    std::array<std::uint32_t, IcmpEchoSession::kSocketIds> m_echoWatch{};

    UniqueFd m_epoll;
    std::size_t m_remaining = 0;
    std::size_t m_inFlight = 0;  // connects
    std::size_t m_limit = 0;     // connects in flight at most, for now
    std::size_t m_fullLimit = 0; // and when descriptors do not run short
    Clock::time_point m_retryAt{};
    Clock::time_point m_echoRetryAt{};
};
