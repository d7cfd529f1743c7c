#include "Probe.h"

#include "AbortableThread.h"
#include "AddressResolver.h"
#include "CItem.h"
#include "IcmpProbe.h"
#include "TcpProbe.h"

#include <poll.h>

#include <cerrno>
#include <ctime>

AsyncProbe::Step AsyncProbe::Finish(ProbeOutcome outcome) {
    m_outcome = outcome;
    m_fd.Reset();
    m_deadline.reset();
    return Step::done;
}

AsyncProbe::Step AsyncProbe::Answered() {
    const auto elapsed = Clock::now() - m_start;
    return Finish({1, std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()});
}

bool IsOutOfDescriptors(int error) {
    return error == EMFILE || error == ENFILE;
}

bool CanAttempt(std::int32_t bConnect, std::int32_t port) {
    // A port outside the 16-bit range cannot be attempted; truncating it would probe another port.
    return bConnect == 0 || (port >= 0 && port <= 65535);
}

std::unique_ptr<AsyncProbe> MakeProbe(std::int32_t bConnect, std::int32_t port, std::int32_t tcpTimeoutS) {
    if (!CanAttempt(bConnect, port))
        return nullptr;
    if (bConnect == 0)
        return std::make_unique<IcmpEchoProbe>();
    return std::make_unique<TcpConnectProbe>(static_cast<std::uint16_t>(port), tcpTimeoutS);
}

ProbeOutcome RunProbeAlone(AsyncProbe& probe, const HostAddress& destination) {
    AsyncProbe::Step step = probe.Begin(destination);
    while (step == AsyncProbe::Step::waiting) {
        int timeoutMs = -1;
        if (probe.Deadline()) {
            const auto left = *probe.Deadline() - AsyncProbe::Clock::now();
            timeoutMs =
                static_cast<int>(std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
        }
        pollfd wait{probe.Fd(), probe.Events(), 0};
        const int ready = AbortablePoll(&wait, 1, timeoutMs);
        if (ready < 0)
            return {};
        step = ready == 0 ? probe.OnDeadline() : probe.OnReady(wait.revents);
    }
    return probe.Outcome();
}

ProbeOutcome ProbeConnection(std::int32_t bConnect, const std::string& address, std::int32_t port) {
    const std::unique_ptr<AsyncProbe> probe = MakeProbe(bConnect, port);
    if (!probe)
        return {0, -1, ProbeFailure::badPort};
    const auto destination = ResolveHost(address);
    if (!destination)
        return {0, -1, ProbeFailure::hostNotFound};
    return RunProbeAlone(*probe, *destination);
}

int CItem::Check() {
    const ProbeOutcome outcome = ProbeConnection(m_bConnect, m_strAddress, m_nPort);
    m_bResult = outcome.result;
    m_nLastRoundTripUs = outcome.roundTripUs;
    m_nLastFailure = outcome.failure;
    m_tLastProbe = std::time(nullptr);
    return m_bResult;
}
