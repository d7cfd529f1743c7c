#include "ProbePass.h"

#include "AbortableThread.h"
#include "AddressResolver.h"
#include "DescriptorLimit.h"
#include "IcmpProbe.h"

#include <poll.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>

namespace {

constexpr std::uint64_t kLookupKey = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kEchoKey = kLookupKey - 1; // minus the echo socket
constexpr int kEventsPerWake = 256;

bool IsDue(AsyncProbe::Clock::time_point retryAt) {
    return retryAt == AsyncProbe::Clock::time_point{} || AsyncProbe::Clock::now() >= retryAt;
}

} // namespace

ProbePass::ProbePass(std::vector<PassEntry> entries, std::size_t maxInFlight, DoneFn onDone, ProbeSettings settings)
    : m_entries(std::move(entries)), m_maxInFlight(std::max<std::size_t>(maxInFlight, 1)), m_onDone(std::move(onDone)),
      m_settings(settings),
      m_attempts(m_entries.size(), std::clamp(settings.echoes, ProbeSettings::kMinEchoes, ProbeSettings::kMaxEchoes)) {}

ProbePass::~ProbePass() = default;

void ProbePass::Run() {
    m_epoll.Reset(::epoll_create1(EPOLL_CLOEXEC));
    if (!m_epoll) {
        RunOneAtATime();
        return;
    }
    m_fullLimit = std::clamp<std::size_t>(SpareDescriptors(kReservedDescriptors), 1, m_maxInFlight);
    m_limit = m_fullLimit;
    Prepare();
    while (m_remaining > 0) {
        StartReady();
        if (m_remaining > 0)
            Wait();
    }
}

// Without an epoll descriptor: the same attempts, one entry after the other. As in the concurrent
// pass, an entry's name is looked up once for all its attempts, and each attempt starts an
// interval after the start of the one before.
void ProbePass::RunOneAtATime() {
    m_remaining = m_entries.size();
    for (std::size_t index = 0; index < m_entries.size(); ++index) {
        const PassEntry& entry = m_entries[index];
        if (!CanAttempt(entry.connect, entry.port)) {
            Done(index, {0, -1, ProbeFailure::badPort});
            continue;
        }
        const auto destination = ResolveHost(entry.address);
        if (!destination) {
            Done(index, {0, -1, ProbeFailure::hostNotFound});
            continue;
        }
        Clock::time_point due = Clock::now();
        for (std::int32_t attempt = 0; attempt < m_attempts.PerEntry(); ++attempt) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
            if (left > 0)
                AbortablePoll(nullptr, 0, static_cast<int>(left));
            due = Clock::now() + std::chrono::milliseconds(m_settings.echoIntervalMs);
            const std::unique_ptr<AsyncProbe> probe = MakeProbe(entry.connect, entry.port, m_settings.tcpTimeoutS);
            m_attempts.CountSent(index);
            AttemptEnded(index * kKeyStride + static_cast<Key>(attempt), RunProbeAlone(*probe, *destination));
        }
    }
}

void ProbePass::Prepare() {
    const std::size_t count = m_entries.size();
    m_remaining = count;
    m_destinations.assign(count, HostAddress{});
    std::unordered_map<std::string, std::size_t> submitted; // one lookup per distinct name
    for (std::size_t index = 0; index < count; ++index) {
        const PassEntry& entry = m_entries[index];
        if (!CanAttempt(entry.connect, entry.port)) {
            Done(index, {0, -1, ProbeFailure::badPort});
            continue;
        }
        if (const auto literal = ParseAddressLiteral(entry.address)) {
            MakeReady(index, *literal);
            continue;
        }
        if (!IsLookupName(entry.address)) {
            Done(index, {0, -1, ProbeFailure::hostNotFound});
            continue;
        }
        const auto [known, added] = submitted.try_emplace(entry.address, m_waitingForName.size());
        if (added) {
            if (!m_lookups.batch) {
                m_lookups.batch = NameLookupBatch::Create();
                epoll_event watch{EPOLLIN, {}};
                watch.data.u64 = kLookupKey;
                if (m_lookups.batch && ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, m_lookups.batch->NotifyFd(), &watch))
                    m_lookups.batch.reset();
            }
            if (!m_lookups.batch || !m_lookups.batch->Submit(m_waitingForName.size(), entry.address)) {
                // No helper to be had: look the name up here, still abortable.
                submitted.erase(known);
                const auto address = ResolveHost(entry.address);
                if (!address) {
                    Done(index, {0, -1, ProbeFailure::hostNotFound});
                    continue;
                }
                MakeReady(index, *address);
                continue;
            }
            m_waitingForName.emplace_back();
        }
        m_waitingForName[known->second].push_back(index);
    }
}

void ProbePass::MakeReady(std::size_t index, const HostAddress& destination) {
    m_destinations[index] = destination;
    (m_entries[index].connect == 0 ? m_readyEchoes : m_readyConnects).push(index);
}

void ProbePass::StartReady() {
    // The next attempts whose time has come join the first ones.
    const auto now = Clock::now();
    while (!m_due.empty() && m_due.front().first <= now) {
        const std::size_t index = m_due.front().second;
        m_due.pop_front();
        (m_entries[index].connect == 0 ? m_readyEchoes : m_readyConnects).push(index);
    }
    // Replies are read every kEchoesPerRead requests, many at a call: often enough that a long
    // burst does not overflow the socket; their arrival times are the kernel's, so a reply read
    // a little later still has its true round trip.
    // A burst sends without waiting: a stop is looked for before each request, so that nothing
    // more goes out once the pass is cancelled.
    std::size_t sent = 0;
    while (!m_readyEchoes.empty() && IsDue(m_echoRetryAt)) {
        AbortableCheckpoint();
        m_echoRetryAt = {};
        const std::size_t index = m_readyEchoes.top();
        m_readyEchoes.pop();
        SendEcho(index);
        if (++sent % kEchoesPerRead == 0)
            ReadEchoes();
    }
    if (sent % kEchoesPerRead != 0)
        ReadEchoes(); // a near host (loopback above all) has often answered already
    while (!m_readyConnects.empty() && m_inFlight < m_limit && IsDue(m_retryAt)) {
        AbortableCheckpoint();
        m_retryAt = {};
        const std::size_t index = m_readyConnects.top();
        m_readyConnects.pop();
        Launch(index);
    }
}

void ProbePass::Launch(std::size_t index) {
    const PassEntry& entry = m_entries[index];
    std::unique_ptr<AsyncProbe> probe = MakeProbe(entry.connect, entry.port, m_settings.tcpTimeoutS);
    switch (probe->Begin(m_destinations[index])) {
    case AsyncProbe::Step::waiting: {
        const Key key = Attempted(index);
        epoll_event watch{static_cast<std::uint32_t>(probe->Events()), {}};
        watch.data.u64 = key;
        if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, probe->Fd(), &watch) != 0) {
            // Only when kernel memory ran out: finish this one alone rather than lose it.
            AttemptEnded(key, RunProbeAlone(*probe, m_destinations[index]));
            return;
        }
        ++m_inFlight;
        if (probe->Deadline())
            m_deadlines.emplace(*probe->Deadline(), key);
        m_connects.emplace(key, std::move(probe));
        return;
    }
    case AsyncProbe::Step::noDescriptor:
        // Descriptors ran out below our estimate (something else took them): wait for a slot.
        m_readyConnects.push(index);
        m_limit = std::max<std::size_t>(m_inFlight, 1);
        if (m_inFlight == 0)
            m_retryAt = Clock::now() + std::chrono::milliseconds(kDescriptorRetryMs);
        return;
    case AsyncProbe::Step::done:
        AttemptEnded(Attempted(index), probe->Outcome());
        return;
    }
}

// A connect in flight has ended: its slot goes to the next.
void ProbePass::Land(Key key) {
    const auto found = m_connects.find(key);
    const ProbeOutcome outcome = found->second->Outcome();
    m_connects.erase(found);
    --m_inFlight;
    // After a shortage, one more slot with every probe that ends, until the next shortage.
    if (m_limit < m_fullLimit)
        ++m_limit;
    AttemptEnded(key, outcome);
}

ProbePass::Key ProbePass::Attempted(std::size_t index) {
    const std::int32_t attempt = m_attempts.Sent(index);
    m_attempts.CountSent(index);
    // Every attempt starts now and waits the same interval, so the queue stays in order.
    if (m_attempts.Sent(index) < m_attempts.PerEntry())
        m_due.emplace_back(Clock::now() + std::chrono::milliseconds(m_settings.echoIntervalMs), index);
    return index * kKeyStride + static_cast<Key>(attempt);
}

void ProbePass::AttemptEnded(Key key, const ProbeOutcome& outcome) {
    const std::size_t index = key / kKeyStride;
    if (m_attempts.End(index, static_cast<std::int32_t>(key % kKeyStride), outcome))
        Done(index, m_attempts.Outcome(index));
}

void ProbePass::SendEcho(std::size_t index) {
    const HostAddress& destination = m_destinations[index];
    const Key key = index * kKeyStride + static_cast<Key>(m_attempts.Sent(index));
    const IcmpEchoSession::SendResult sent = m_echoes.Send(key, destination);
    switch (sent.status) {
    case IcmpEchoSession::Sent::waiting:
        Attempted(index);
        if (!WatchEchoes(sent.socket, EPOLLIN)) {
            // Only when kernel memory ran out: finish this one alone rather than lose it (the
            // socket's other echoes expire as usual).
            m_echoes.Close(sent.socket);
            IcmpEchoProbe alone;
            AttemptEnded(key, RunProbeAlone(alone, destination));
            return;
        }
        return;
    case IcmpEchoSession::Sent::failed:
        AttemptEnded(Attempted(index), {0, -1, sent.failure});
        return;
    case IcmpEchoSession::Sent::noDescriptor:
        m_readyEchoes.push(index);
        m_echoRetryAt = Clock::now() + std::chrono::milliseconds(kDescriptorRetryMs);
        return;
    case IcmpEchoSession::Sent::busy:
        m_echoesParked.push_back(index);
        if (m_echoes.IsBlocked(sent.socket) && !WatchEchoes(sent.socket, EPOLLIN | EPOLLOUT))
            m_echoes.ClearBlocked(sent.socket); // retried when the next echo ends
        return;
    }
}

// Puts an echo socket into the epoll set, or changes whether it waits for room to send.
bool ProbePass::WatchEchoes(IcmpEchoSession::SocketId socket, std::uint32_t events) {
    std::uint32_t& watched = m_echoWatch[socket];
    if (watched == events)
        return true;
    epoll_event watch{events, {}};
    watch.data.u64 = kEchoKey - socket;
    const int operation = watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (::epoll_ctl(m_epoll.Get(), operation, m_echoes.Fd(socket), &watch) != 0)
        return false;
    watched = events;
    return true;
}

void ProbePass::OnEchoSocket(IcmpEchoSession::SocketId socket, std::uint32_t events) {
    if (events & EPOLLOUT) {
        m_echoes.ClearBlocked(socket);
        WatchEchoes(socket, EPOLLIN); // reading is all it waits for again
    }
    m_answered.clear();
    m_echoes.Drain(socket, m_answered);
    for (const IcmpEchoSession::Answer& answer : m_answered)
        AttemptEnded(answer.key, {1, answer.roundTripUs});
    if (!m_answered.empty() || (events & EPOLLOUT))
        EchoesEnded();
}

void ProbePass::ReadEchoes() {
    for (IcmpEchoSession::SocketId socket = 0; socket < m_echoWatch.size(); ++socket) {
        if (m_echoWatch[socket])
            OnEchoSocket(socket, EPOLLIN);
    }
}

// Room on an echo socket again: the parked echoes go back in line.
void ProbePass::EchoesEnded() {
    for (const std::size_t index : m_echoesParked)
        m_readyEchoes.push(index);
    m_echoesParked.clear();
}

int ProbePass::WaitTimeoutMs() const {
    std::optional<Clock::time_point> until;
    if (!m_deadlines.empty())
        until = m_deadlines.top().first;
    const auto echoDeadline = m_echoes.NextDeadline();
    if (echoDeadline && (!until || *echoDeadline < *until))
        until = echoDeadline;
    if (!m_due.empty() && (!until || m_due.front().first < *until))
        until = m_due.front().first;
    for (const auto retryAt : {m_retryAt, m_echoRetryAt})
        if (retryAt != Clock::time_point{} && (!until || retryAt < *until))
            until = retryAt;
    if (!until)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

void ProbePass::Wait() {
    pollfd wait{m_epoll.Get(), POLLIN, 0};
    AbortablePoll(&wait, 1, WaitTimeoutMs());

    epoll_event events[kEventsPerWake];
    const int ready = ::epoll_wait(m_epoll.Get(), events, kEventsPerWake, 0);
    for (int i = 0; i < ready; ++i) {
        const std::uint64_t key = events[i].data.u64;
        if (key == kLookupKey) {
            OnLookups();
            continue;
        }
        if (key <= kEchoKey && kEchoKey - key < IcmpEchoSession::kSocketIds) {
            OnEchoSocket(static_cast<IcmpEchoSession::SocketId>(kEchoKey - key), events[i].events);
            continue;
        }
        const auto connect = m_connects.find(static_cast<Key>(key));
        if (connect == m_connects.end())
            continue;
        if (connect->second->OnReady(static_cast<short>(events[i].events)) != AsyncProbe::Step::waiting)
            Land(connect->first);
    }

    const auto now = Clock::now();
    while (!m_deadlines.empty() && m_deadlines.top().first <= now) {
        const Key key = m_deadlines.top().second;
        m_deadlines.pop();
        const auto connect = m_connects.find(key);
        if (connect == m_connects.end() || !connect->second->Deadline())
            continue; // ended meanwhile
        connect->second->OnDeadline();
        Land(key);
    }
    m_expired.clear();
    m_echoes.Expire(now, m_expired);
    for (const IcmpEchoSession::Key key : m_expired)
        AttemptEnded(key, {0, -1, ProbeFailure::timedOut});
    if (!m_expired.empty())
        EchoesEnded();
}

void ProbePass::OnLookups() {
    for (const auto& [key, address] : m_lookups.batch->TakeResults()) {
        for (const std::size_t index : m_waitingForName[key]) {
            if (address) {
                MakeReady(index, *address);
            } else {
                Done(index, {0, -1, ProbeFailure::hostNotFound});
            }
        }
    }
}

// The outcome is a copy: the probe that held it is gone before the caller hears of it.
void ProbePass::Done(std::size_t index, ProbeOutcome outcome) {
    if (outcome.failure == ProbeFailure::tcpTimeLimit)
        outcome.stats.timeLimitS = m_settings.tcpTimeoutS;
    --m_remaining;
    m_onDone(index, outcome);
}
