#include "IcmpEchoSession.h"

#include "Probe.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// A raw socket sees every echo reply of the machine, so the requests of each session carry an
// identifier of their own; a ping socket gets its identifier from the kernel instead.
std::atomic<std::uint16_t> g_nextSession{1};

// Replies arrive while a long list is still being sent; a bigger receive buffer keeps a burst
// of them from being dropped (the kernel caps what an unprivileged process may ask for).
constexpr int kReceiveBufferBytes = 4 << 20;

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

bool IsSendBufferFull(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

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

IcmpEchoSession::IcmpEchoSession()
    : m_rawIdentifier(static_cast<std::uint16_t>(::getpid() * 31 + g_nextSession.fetch_add(1) * 7919)) {}

IcmpEchoSession::SendResult IcmpEchoSession::Open(FamilySocket& side, sa_family_t family) {
    side.socket = IcmpSocket::Open(family);
    if (!side.socket) {
        if (IsOutOfDescriptors(errno))
            return {Sent::noDescriptor};
        return {Sent::failed, IsIcmpPrivilegeMissing() ? ProbeFailure::noPermission : ProbeFailure::unknown};
    }
    const int fd = side.socket.Get();
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    side.identifier = m_rawIdentifier;
    side.nextSequence = 1;
    return {Sent::waiting};
}

IcmpEchoSession::SendResult IcmpEchoSession::Send(Key key, const HostAddress& destination) {
    const sa_family_t family = destination.Family();
    FamilySocket& side = m_sockets[Slot(family)];
    if (!side.socket) {
        const SendResult opened = Open(side, family);
        if (opened.status != Sent::waiting)
            return opened;
    }
    if (side.pending.size() >= kSequences)
        return {Sent::busy};
    // Sequences go round, so a late reply to an echo that has ended meets no new echo soon.
    std::uint16_t sequence = side.nextSequence++;
    while (side.pending.count(sequence))
        sequence = side.nextSequence++;

    const bool v6 = destination.IsIPv6();
    unsigned char request[sizeof(icmphdr) + kIcmpRequestData.size()] = {};
    icmphdr header{};
    // An ICMPv6 echo has the same layout; its checksum covers addresses the kernel picks, so
    // the kernel fills it in. A ping socket puts its own identifier in.
    header.type = static_cast<std::uint8_t>(v6 ? int{ICMP6_ECHO_REQUEST} : int{ICMP_ECHO});
    header.un.echo.id = htons(side.identifier);
    header.un.echo.sequence = htons(sequence);
    std::memcpy(request, &header, sizeof header);
    std::memcpy(request + sizeof header, kIcmpRequestData.data(), kIcmpRequestData.size());
    if (!v6) {
        header.checksum = InternetChecksum(request, sizeof request);
        std::memcpy(request, &header, sizeof header);
    }

    sockaddr_storage to;
    const socklen_t toLength = destination.ToSockaddr(0, to);
    const auto start = Clock::now();
    if (::sendto(side.socket.Get(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), toLength) < 0) {
        const int error = errno;
        if (IsSendBufferFull(error) && !side.pending.empty()) {
            side.blocked = true;
            return {Sent::busy};
        }
        return {Sent::failed, ProbeFailureFromErrno(error)};
    }
    if (side.socket.GetKind() == IcmpSocket::Kind::datagram && !side.bound) {
        // The kernel bound the socket to its identifier with the first request.
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::getsockname(side.socket.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
            return {Sent::failed};
        // The port field sits at the same place in both families.
        side.identifier = ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
        side.bound = true;
    }
    const std::uint64_t serial = m_nextSerial++;
    side.pending.emplace(sequence, Pending{key, destination, start, serial});
    m_expiries.push_back(
        {start + std::chrono::milliseconds(kIcmpTimeoutMs), serial, sequence, static_cast<std::uint8_t>(Slot(family))});
    return {Sent::waiting};
}

void IcmpEchoSession::Drain(sa_family_t family, std::vector<Answer>& answered) {
    FamilySocket& side = m_sockets[Slot(family)];
    if (!side.socket)
        return;
    const int replyType = family == AF_INET6 ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY;
    for (;;) {
        unsigned char buffer[kIcmpReplyBufferSize];
        sockaddr_storage from{};
        socklen_t fromLength = sizeof from;
        const ssize_t got =
            ::recvfrom(side.socket.Get(), buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EBADF || errno == EFAULT || errno == EINVAL ||
                errno == ENOTSOCK || errno == ENOMEM)
                break;
            continue; // an ICMP error reported on the socket, or an interrupted call: no answer
        }
        const auto now = Clock::now();
        Received reply;
        if (!Parse(side.socket.GetKind(), buffer, static_cast<std::size_t>(got), from, fromLength, reply) ||
            reply.length < sizeof(icmphdr))
            continue;
        icmphdr echo;
        std::memcpy(&echo, reply.icmp, sizeof echo);
        if (echo.type != replyType || ntohs(echo.un.echo.id) != side.identifier)
            continue;
        const auto found = side.pending.find(ntohs(echo.un.echo.sequence));
        if (found == side.pending.end() || !reply.source.SameAddress(found->second.destination))
            continue;
        // A reply echoes our data; a stray packet that happens to match the numbers does not.
        if (reply.length < sizeof echo + kIcmpRequestData.size() ||
            std::memcmp(reply.icmp + sizeof echo, kIcmpRequestData.data(), kIcmpRequestData.size()) != 0)
            continue;
        const auto roundTrip = std::chrono::duration_cast<std::chrono::microseconds>(now - found->second.start);
        answered.push_back({found->second.key, roundTrip.count()});
        side.pending.erase(found);
    }
    // Answered echoes leave their place in the queue; the front must be one still waiting.
    while (!m_expiries.empty() && !IsWaiting(m_expiries.front()))
        m_expiries.pop_front();
}

bool IcmpEchoSession::IsWaiting(const Expiry& expiry) const {
    const auto& pending = m_sockets[expiry.slot].pending;
    const auto found = pending.find(expiry.sequence);
    return found != pending.end() && found->second.serial == expiry.serial;
}

std::optional<IcmpEchoSession::Clock::time_point> IcmpEchoSession::NextDeadline() const {
    if (m_expiries.empty())
        return std::nullopt;
    return m_expiries.front().deadline;
}

void IcmpEchoSession::Expire(Clock::time_point now, std::vector<Key>& expired) {
    while (!m_expiries.empty() && m_expiries.front().deadline <= now) {
        const Expiry expiry = m_expiries.front();
        m_expiries.pop_front();
        if (!IsWaiting(expiry))
            continue; // answered meanwhile
        auto& pending = m_sockets[expiry.slot].pending;
        const auto found = pending.find(expiry.sequence);
        expired.push_back(found->second.key);
        pending.erase(found);
    }
}
