#include "ProbePass.h"

#include "AbortableThread.h"
#include "AddressResolver.h"
#include "DescriptorLimit.h"

#include <poll.h>
#include <sys/epoll.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

constexpr std::uint64_t kLookupKey = std::numeric_limits<std::uint64_t>::max();
constexpr int kEventsPerWake = 256;

} // namespace

ProbePass::ProbePass(std::vector<PassEntry> entries, std::size_t maxInFlight, DoneFn onDone)
    : m_entries(std::move(entries)), m_maxInFlight(std::max<std::size_t>(maxInFlight, 1)), m_onDone(std::move(onDone)) {
}

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

// Without an epoll descriptor: the same probes, one after the other.
void ProbePass::RunOneAtATime() {
    m_remaining = m_entries.size();
    for (std::size_t index = 0; index < m_entries.size(); ++index) {
        const PassEntry& entry = m_entries[index];
        Done(index, ProbeConnection(entry.connect, entry.address, entry.port));
    }
}

void ProbePass::Prepare() {
    const std::size_t count = m_entries.size();
    m_remaining = count;
    m_probes.resize(count);
    m_destinations.assign(count, HostAddress{});
    std::unordered_map<std::string, std::size_t> submitted; // one lookup per distinct name
    for (std::size_t index = 0; index < count; ++index) {
        const PassEntry& entry = m_entries[index];
        m_probes[index] = MakeProbe(entry.connect, entry.port);
        if (!m_probes[index]) {
            Done(index, {0, -1, ProbeFailure::badPort});
            continue;
        }
        if (const auto literal = ParseAddressLiteral(entry.address)) {
            m_destinations[index] = *literal;
            m_ready.push(index);
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
                m_destinations[index] = *address;
                m_ready.push(index);
                continue;
            }
            m_waitingForName.emplace_back();
        }
        m_waitingForName[known->second].push_back(index);
    }
}

void ProbePass::StartReady() {
    while (!m_ready.empty() && m_inFlight < m_limit) {
        if (m_retryAt != Clock::time_point{} && Clock::now() < m_retryAt)
            return;
        m_retryAt = {};
        const std::size_t index = m_ready.top();
        m_ready.pop();
        if (m_entries[index].connect == 0 && m_echoesInFlight[m_destinations[index]] >= kMaxEchoesPerHost) {
            m_echoesWaiting[m_destinations[index]].push_back(index);
            continue;
        }
        Launch(index);
    }
}

void ProbePass::Launch(std::size_t index) {
    AsyncProbe& probe = *m_probes[index];
    switch (probe.Begin(m_destinations[index])) {
    case AsyncProbe::Step::waiting: {
        epoll_event watch{static_cast<std::uint32_t>(probe.Events()), {}};
        watch.data.u64 = index;
        if (::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, probe.Fd(), &watch) != 0) {
            // Only when kernel memory ran out: finish this one alone rather than lose it.
            Done(index, RunProbeAlone(probe, m_destinations[index]));
            return;
        }
        ++m_inFlight;
        if (m_entries[index].connect == 0)
            ++m_echoesInFlight[m_destinations[index]];
        if (probe.Deadline())
            m_deadlines.emplace(*probe.Deadline(), index);
        return;
    }
    case AsyncProbe::Step::noDescriptor:
        // Descriptors ran out below our estimate (something else took them): wait for a slot.
        m_ready.push(index);
        m_limit = std::max<std::size_t>(m_inFlight, 1);
        if (m_inFlight == 0)
            m_retryAt = Clock::now() + std::chrono::milliseconds(kDescriptorRetryMs);
        return;
    case AsyncProbe::Step::done:
        Done(index, probe.Outcome());
        return;
    }
}

// A probe in flight has ended: its slot, and its host's echo slot, go to the next.
void ProbePass::Land(std::size_t index) {
    --m_inFlight;
    // After a shortage, one more slot with every probe that ends, until the next shortage.
    if (m_limit < m_fullLimit)
        ++m_limit;
    if (m_entries[index].connect == 0) {
        const HostAddress& host = m_destinations[index];
        --m_echoesInFlight[host];
        const auto waiting = m_echoesWaiting.find(host);
        if (waiting != m_echoesWaiting.end()) {
            m_ready.push(waiting->second.front());
            waiting->second.pop_front();
            if (waiting->second.empty())
                m_echoesWaiting.erase(waiting);
        }
    }
    Done(index, m_probes[index]->Outcome());
}

int ProbePass::WaitTimeoutMs() const {
    std::optional<Clock::time_point> until;
    if (!m_deadlines.empty())
        until = m_deadlines.top().first;
    if (m_retryAt != Clock::time_point{} && (!until || m_retryAt < *until))
        until = m_retryAt;
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
        if (events[i].data.u64 == kLookupKey) {
            OnLookups();
            continue;
        }
        const std::size_t index = static_cast<std::size_t>(events[i].data.u64);
        if (!m_probes[index])
            continue;
        if (m_probes[index]->OnReady(static_cast<short>(events[i].events)) != AsyncProbe::Step::waiting)
            Land(index);
    }

    const auto now = Clock::now();
    while (!m_deadlines.empty() && m_deadlines.top().first <= now) {
        const std::size_t index = m_deadlines.top().second;
        m_deadlines.pop();
        if (!m_probes[index] || !m_probes[index]->Deadline())
            continue; // ended meanwhile
        m_probes[index]->OnDeadline();
        Land(index);
    }
}

void ProbePass::OnLookups() {
    for (const auto& [key, address] : m_lookups.batch->TakeResults()) {
        for (const std::size_t index : m_waitingForName[key]) {
            if (address) {
                m_destinations[index] = *address;
                m_ready.push(index);
            } else {
                Done(index, {0, -1, ProbeFailure::hostNotFound});
            }
        }
    }
}

void ProbePass::Done(std::size_t index, ProbeOutcome outcome) {
    if (index < m_probes.size())
        m_probes[index].reset();
    --m_remaining;
    m_onDone(index, outcome);
}
