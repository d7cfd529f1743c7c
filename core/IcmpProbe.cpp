#include "IcmpProbe.h"

#include "IcmpEchoSession.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <vector>

const char* const kIcmpPrivilegeHelp =
    "ICMP echo needs a privilege that this process lacks, so every ICMP entry reads \"No\".\n"
    "Grant it in one of these ways:\n"
    "  - run as root;\n"
    "  - give the program the raw-socket capability:  sudo setcap cap_net_raw+ep PROGRAM\n"
    "  - allow unprivileged ping sockets (this range admits every group):\n"
    "      sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n";

namespace {

// From <linux/icmp.h>, which clashes with <netinet/ip_icmp.h>: the raw-socket option that
// drops the ICMP types whose bits are set.
constexpr int kIcmpFilterOption = 1; // ICMP_FILTER
struct IcmpFilter {
    std::uint32_t data;
};

std::atomic<bool> g_icmpPrivilegeMissing{false};

bool IsPrivilegeError(int error) {
    return error == EPERM || error == EACCES;
}

} // namespace

IcmpSocket IcmpSocket::Open(sa_family_t family) {
    const int protocol = family == AF_INET6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP};
    IcmpSocket sock;
    sock.m_fd.Reset(::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol));
    if (sock.m_fd) {
        sock.m_kind = Kind::datagram;
        return sock;
    }
    const int pingError = errno;
    sock.m_fd.Reset(::socket(family, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol));
    if (!sock.m_fd) {
        if (IsPrivilegeError(pingError) && IsPrivilegeError(errno))
            g_icmpPrivilegeMissing = true;
        return sock;
    }
    // Let the kernel drop everything but echo replies, so errors and other traffic never wake us.
    if (family == AF_INET6) {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        ICMP6_FILTER_SETPASS(ICMP6_ECHO_REPLY, &filter);
        ::setsockopt(sock.m_fd.Get(), IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    } else {
        const IcmpFilter filter{~(1U << ICMP_ECHOREPLY)};
        ::setsockopt(sock.m_fd.Get(), SOL_RAW, kIcmpFilterOption, &filter, sizeof filter);
    }
    sock.m_kind = Kind::raw;
    return sock;
}

bool IsIcmpPrivilegeMissing() {
    return g_icmpPrivilegeMissing;
}

IcmpEchoProbe::IcmpEchoProbe() = default;
IcmpEchoProbe::~IcmpEchoProbe() = default;

int IcmpEchoProbe::Fd() const {
    return m_session ? m_session->Fd(m_socket) : -1;
}

AsyncProbe::Step IcmpEchoProbe::Begin(const HostAddress& destination) {
    m_session = std::make_unique<IcmpEchoSession>();
    const IcmpEchoSession::SendResult sent = m_session->Send(0, destination);
    m_socket = sent.socket;
    switch (sent.status) {
    case IcmpEchoSession::Sent::waiting:
        break;
    case IcmpEchoSession::Sent::noDescriptor:
        m_session.reset();
        return Step::noDescriptor;
    case IcmpEchoSession::Sent::busy:
        return FailedWith(EAGAIN);
    case IcmpEchoSession::Sent::failed:
        return Failed(sent.failure);
    }
    m_deadline = m_session->NextDeadline();
    m_events = POLLIN;
    // A near host (loopback above all) has often answered already: no need to wait for it.
    return OnReady(POLLIN);
}

AsyncProbe::Step IcmpEchoProbe::OnReady(short) {
    std::vector<IcmpEchoSession::Answer> answered;
    m_session->Drain(m_socket, answered);
    if (answered.empty())
        return Step::waiting;
    return Finish({1, answered.front().roundTripUs});
}
