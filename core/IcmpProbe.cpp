#include "IcmpProbe.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

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

// Identifies our requests among every echo that a raw socket sees; the sequence also tells
// apart the probes of one process.
std::atomic<std::uint16_t> g_nextSequence{1};

std::uint16_t InternetChecksum(const unsigned char* data, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2)
        sum += static_cast<std::uint32_t>(data[i] << 8 | data[i + 1]);
    if (length % 2)
        sum += static_cast<std::uint32_t>(data[length - 1] << 8);
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return htons(static_cast<std::uint16_t>(~sum));
}

bool IsPrivilegeError(int error) {
    return error == EPERM || error == EACCES;
}

// The ICMP part of a datagram read from the socket, and who sent it.
struct Received {
    const unsigned char* icmp = nullptr;
    std::size_t length = 0;
    HostAddress source;
};

bool Parse(IcmpSocket::Kind kind, const unsigned char* buffer, std::size_t length, const sockaddr_storage& from,
           socklen_t fromLength, Received& out) {
    if (kind == IcmpSocket::Kind::datagram || from.ss_family == AF_INET6) {
        // Both ICMPv6 sockets hand over the ICMPv6 message alone.
        const auto source = HostAddress::FromSockaddr(reinterpret_cast<const sockaddr*>(&from), fromLength);
        if (!source)
            return false;
        out = {buffer, length, *source};
        return true;
    }
    // A raw socket hands over the IP header too.
    if (length < sizeof(iphdr))
        return false;
    iphdr ip;
    std::memcpy(&ip, buffer, sizeof ip);
    const std::size_t headerLength = std::size_t{ip.ihl} * 4;
    if (headerLength < sizeof(iphdr) || length < headerLength)
        return false;
    out = {buffer + headerLength, length - headerLength, HostAddress::IPv4(ip.saddr)};
    return true;
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

AsyncProbe::Step IcmpEchoProbe::Begin(const HostAddress& destination) {
    const bool v6 = destination.IsIPv6();
    IcmpSocket sock = IcmpSocket::Open(destination.Family());
    if (!sock) {
        if (IsOutOfDescriptors(errno))
            return Step::noDescriptor;
        return Failed(IsIcmpPrivilegeMissing() ? ProbeFailure::noPermission : ProbeFailure::unknown);
    }
    m_kind = sock.GetKind();
    m_fd = sock.Release();
    m_destination = destination;

    m_sequence = g_nextSequence.fetch_add(1);
    // A ping socket gets its identifier from the kernel; a raw one shares every echo reply of
    // the machine, so ours must stand out.
    static const pid_t process = ::getpid();
    m_identifier = static_cast<std::uint16_t>(process * 31 + m_sequence * 7919);

    unsigned char request[sizeof(icmphdr) + kIcmpRequestData.size()] = {};
    icmphdr header{};
    // An ICMPv6 echo has the same layout; its checksum covers addresses the kernel picks, so
    // the kernel fills it in.
    header.type = static_cast<std::uint8_t>(v6 ? int{ICMP6_ECHO_REQUEST} : int{ICMP_ECHO});
    header.un.echo.id = htons(m_identifier);
    header.un.echo.sequence = htons(m_sequence);
    std::memcpy(request, &header, sizeof header);
    std::memcpy(request + sizeof header, kIcmpRequestData.data(), kIcmpRequestData.size());
    if (!v6) {
        header.checksum = InternetChecksum(request, sizeof request);
        std::memcpy(request, &header, sizeof header);
    }

    sockaddr_storage to;
    const socklen_t toLength = destination.ToSockaddr(0, to);
    if (m_kind == IcmpSocket::Kind::raw) {
        // A connected raw socket is handed only what comes from its peer: with many probes in
        // flight, the replies of other hosts are not even copied to it.
        if (::connect(m_fd.Get(), reinterpret_cast<const sockaddr*>(&to), toLength) != 0)
            return FailedWith(errno);
    }

    m_start = Clock::now();
    m_deadline = m_start + std::chrono::milliseconds(kIcmpTimeoutMs);
    if (::sendto(m_fd.Get(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), toLength) < 0)
        return FailedWith(errno);
    if (m_kind == IcmpSocket::Kind::datagram) {
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
            return Failed();
        // The port field sits at the same place in both families.
        m_identifier = ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    }
    m_events = POLLIN;
    // A near host (loopback above all) has often answered already: no need to wait for it.
    return OnReady(POLLIN);
}

AsyncProbe::Step IcmpEchoProbe::OnReady(short) {
    // Drain what arrived; on a raw socket some of it may be the replies of other probes or programs.
    for (;;) {
        unsigned char buffer[kIcmpReplyBufferSize];
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            ::recvfrom(m_fd.Get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return Step::waiting;
            if (errno == EBADF || errno == EFAULT || errno == EINVAL || errno == ENOTSOCK || errno == ENOMEM)
                return Failed();
            continue; // an ICMP error reported on the socket, or an interrupted call: no answer yet
        }
        Received reply;
        if (!Parse(m_kind, buffer, static_cast<std::size_t>(got), from, fromLength, reply) ||
            reply.length < sizeof(icmphdr))
            continue;
        icmphdr echo;
        std::memcpy(&echo, reply.icmp, sizeof echo);
        const int replyType = m_destination.IsIPv6() ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY;
        if (echo.type != replyType || !reply.source.SameAddress(m_destination) ||
            ntohs(echo.un.echo.id) != m_identifier || ntohs(echo.un.echo.sequence) != m_sequence)
            continue;
        // A reply echoes our data; a stray packet that happens to match the numbers does not.
        if (reply.length < sizeof echo + kIcmpRequestData.size() ||
            std::memcmp(reply.icmp + sizeof echo, kIcmpRequestData.data(), kIcmpRequestData.size()) != 0)
            continue;
        return Answered();
    }
}
