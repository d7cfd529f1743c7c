#include "IcmpEchoSession.h"

#include "Probe.h"

#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>

namespace {

// Replies arrive while a long list is still being sent; a bigger receive buffer keeps a burst
// of them from being dropped (the kernel caps what an unprivileged process may ask for).
constexpr int kReceiveBufferBytes = 4 << 20;

// Each request's data ends with its serial; a reply behind the longest IPv4 header still fits.
static_assert(60 + sizeof(icmphdr) + kIcmpRequestData.size() + kIcmpTokenSize + sizeof(std::uint64_t) <=
              kIcmpReplyBufferSize);

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

// When the kernel received the datagram, if it says.
std::optional<IcmpEchoSession::WallClock::time_point> ArrivalTime(const msghdr& message) {
    for (const cmsghdr* control = CMSG_FIRSTHDR(&message); control;
         control = CMSG_NXTHDR(const_cast<msghdr*>(&message), const_cast<cmsghdr*>(control))) {
        if (control->cmsg_level != SOL_SOCKET || control->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec at;
        std::memcpy(&at, CMSG_DATA(control), sizeof at);
        return IcmpEchoSession::WallClock::time_point(std::chrono::duration_cast<IcmpEchoSession::WallClock::duration>(
            std::chrono::seconds(at.tv_sec) + std::chrono::nanoseconds(at.tv_nsec)));
    }
    return std::nullopt;
}

// Unpredictable bytes from the kernel; std::random_device only where getrandom is missing.
void FillRandom(unsigned char* out, std::size_t length) {
    while (length > 0) {
        const ssize_t got = ::getrandom(out, length, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        out += got;
        length -= static_cast<std::size_t>(got);
    }
    std::random_device device;
    for (; length > 0; --length)
        *out++ = static_cast<unsigned char>(device());
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

IcmpEchoSession::IcmpEchoSession() {
    std::memcpy(m_data.data(), kIcmpRequestData.data(), kIcmpRequestData.size());
    FillRandom(m_data.data() + kIcmpRequestData.size(), kIcmpTokenSize);
}

IcmpEchoSession::SendResult IcmpEchoSession::Open(Socket& socket, sa_family_t family) {
    socket = {IcmpSocket::Open(family)};
    if (!socket.socket) {
        if (IsOutOfDescriptors(errno))
            return {Sent::noDescriptor};
        return {Sent::failed, IsIcmpPrivilegeMissing() ? ProbeFailure::noPermission : ProbeFailure::unknown};
    }
    const int fd = socket.socket.Get();
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    // The kernel notes when each reply arrived: a reply read after others still has its own time.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    return {Sent::waiting};
}

IcmpEchoSession::SendResult IcmpEchoSession::AddLane(sa_family_t family) {
    Family& side = m_families[Slot(family)];
    Lane lane;
    // A raw socket sees every reply, so one carries every identifier; a ping socket has its own.
    if (side.sockets.empty() || side.sockets.front().socket.GetKind() != IcmpSocket::Kind::raw) {
        Socket socket;
        const SendResult opened = Open(socket, family);
        if (opened.status != Sent::waiting)
            return opened;
        lane.socket = side.sockets.size();
        side.sockets.push_back(std::move(socket));
    }
    if (side.sockets[lane.socket].socket.GetKind() == IcmpSocket::Kind::raw) {
        const auto taken = [&side](std::uint16_t identifier) {
            return std::any_of(side.lanes.begin(), side.lanes.end(),
                               [identifier](const Lane& other) { return other.identifier == identifier; });
        };
        do {
            FillRandom(reinterpret_cast<unsigned char*>(&lane.identifier), sizeof lane.identifier);
        } while (taken(lane.identifier));
        lane.bound = true;
    }
    side.lanes.push_back(std::move(lane));
    return {Sent::waiting};
}

IcmpEchoSession::SendResult IcmpEchoSession::PickLane(sa_family_t family, std::size_t& picked) {
    const std::size_t slot = Slot(family);
    Family& side = m_families[slot];
    for (picked = 0; picked < side.lanes.size(); ++picked) {
        if (side.lanes[picked].pending.size() < kSequences)
            break;
    }
    if (picked == side.lanes.size()) {
        if (picked == kMaxIdentifiers)
            return {Sent::busy, ProbeFailure::unknown, slot * kMaxIdentifiers};
        const SendResult added = AddLane(family);
        if (added.status == Sent::failed && picked > 0)
            return {Sent::busy, ProbeFailure::unknown, slot * kMaxIdentifiers}; // the lanes there are will do
        if (added.status != Sent::waiting)
            return added;
    }
    Lane& lane = side.lanes[picked];
    Socket& socket = side.sockets[lane.socket];
    if (!socket.socket) {
        // Closed since (it could not be watched): a new one, whose echoes are new too.
        const SendResult opened = Open(socket, family);
        if (opened.status != Sent::waiting)
            return opened;
        lane.bound = socket.socket.GetKind() == IcmpSocket::Kind::raw;
    }
    return {Sent::waiting, ProbeFailure::unknown, slot * kMaxIdentifiers + lane.socket};
}

IcmpEchoSession::SendResult IcmpEchoSession::Send(Key key, const HostAddress& destination) {
    const sa_family_t family = destination.Family();
    std::size_t laneIndex = 0;
    const SendResult picked = PickLane(family, laneIndex);
    if (picked.status != Sent::waiting)
        return picked;
    Lane& lane = m_families[Slot(family)].lanes[laneIndex];
    Socket& socket = SocketOf(picked.socket);
    if (socket.blocked)
        return {Sent::busy, ProbeFailure::unknown, picked.socket};
    // Sequences go round, so a late reply to an echo that has ended meets no new echo soon.
    std::uint16_t sequence = lane.nextSequence++;
    while (lane.pending.count(sequence))
        sequence = lane.nextSequence++;
    const std::uint64_t serial = m_nextSerial;

    const bool v6 = destination.IsIPv6();
    unsigned char request[sizeof(icmphdr) + sizeof m_data + sizeof serial] = {};
    icmphdr header{};
    // An ICMPv6 echo has the same layout; its checksum covers addresses the kernel picks, so
    // the kernel fills it in. A ping socket puts its own identifier in.
    header.type = static_cast<std::uint8_t>(v6 ? int{ICMP6_ECHO_REQUEST} : int{ICMP_ECHO});
    header.un.echo.id = htons(lane.identifier);
    header.un.echo.sequence = htons(sequence);
    std::memcpy(request, &header, sizeof header);
    std::memcpy(request + sizeof header, m_data.data(), m_data.size());
    std::memcpy(request + sizeof header + m_data.size(), &serial, sizeof serial);
    if (!v6) {
        header.checksum = InternetChecksum(request, sizeof request);
        std::memcpy(request, &header, sizeof header);
    }

    sockaddr_storage to;
    const socklen_t toLength = destination.ToSockaddr(0, to);
    const auto start = Clock::now();
    const auto wallStart = WallClock::now();
    if (::sendto(socket.socket.Get(), request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), toLength) <
        0) {
        const int error = errno;
        if (IsSendBufferFull(error) && InFlight() > 0) {
            socket.blocked = true;
            return {Sent::busy, ProbeFailure::unknown, picked.socket};
        }
        return {Sent::failed, ProbeFailureFromErrno(error), picked.socket};
    }
    if (!lane.bound) {
        // The kernel bound the ping socket to its identifier with the first request.
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        if (::getsockname(socket.socket.Get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0)
            return {Sent::failed, ProbeFailure::unknown, picked.socket};
        // The port field sits at the same place in both families.
        lane.identifier = ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
        lane.bound = true;
    }
    ++m_nextSerial;
    lane.pending.emplace(sequence, Pending{key, destination, start, wallStart, serial});
    m_expiries.push_back({start + std::chrono::milliseconds(kIcmpTimeoutMs), serial, sequence,
                          static_cast<std::uint8_t>(Slot(family)), static_cast<std::uint8_t>(laneIndex)});
    return picked;
}

void IcmpEchoSession::Drain(SocketId id, std::vector<Answer>& answered) {
    const int fd = Fd(id);
    if (fd < 0)
        return;
    const sa_family_t family = id / kMaxIdentifiers ? AF_INET6 : AF_INET;
    const std::size_t index = id % kMaxIdentifiers;
    // Replies come in bursts: a call takes up to kReplyBatch of them.
    unsigned char buffers[kReplyBatch][kIcmpReplyBufferSize];
    sockaddr_storage froms[kReplyBatch];
    iovec vectors[kReplyBatch];
    alignas(cmsghdr) unsigned char controls[kReplyBatch][CMSG_SPACE(sizeof(timespec))];
    mmsghdr messages[kReplyBatch];
    for (;;) {
        for (unsigned i = 0; i < kReplyBatch; ++i) {
            vectors[i] = {buffers[i], sizeof buffers[i]};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = &froms[i];
            messages[i].msg_hdr.msg_namelen = sizeof froms[i];
            messages[i].msg_hdr.msg_iov = &vectors[i];
            messages[i].msg_hdr.msg_iovlen = 1;
            messages[i].msg_hdr.msg_control = controls[i];
            messages[i].msg_hdr.msg_controllen = sizeof controls[i];
        }
        const int got = ::recvmmsg(fd, messages, kReplyBatch, MSG_DONTWAIT, nullptr);
        if (got < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EBADF || errno == EFAULT || errno == EINVAL ||
                errno == ENOTSOCK || errno == ENOMEM)
                break;
            continue; // an ICMP error reported on the socket, or an interrupted call: no answer
        }
        const auto now = Clock::now();
        for (int i = 0; i < got; ++i)
            Match(family, index, buffers[i], messages[i].msg_len, froms[i], messages[i].msg_hdr.msg_namelen,
                  {now, ArrivalTime(messages[i].msg_hdr)}, answered);
        // A short batch emptied the socket, or stopped at an error the next call reports; the
        // socket is watched level-triggered, so whatever came meanwhile wakes the pass again.
        if (static_cast<unsigned>(got) < kReplyBatch)
            break;
    }
    // Answered echoes leave their place in the queue; the front must be one still waiting.
    while (!m_expiries.empty() && !IsWaiting(m_expiries.front()))
        m_expiries.pop_front();
}

void IcmpEchoSession::Match(sa_family_t family, std::size_t socket, const unsigned char* buffer, std::size_t length,
                            const sockaddr_storage& from, socklen_t fromLength, const ReadTimes& read,
                            std::vector<Answer>& answered) {
    Family& side = m_families[Slot(family)];
    Received reply;
    if (!Parse(side.sockets[socket].socket.GetKind(), buffer, length, from, fromLength, reply) ||
        reply.length < sizeof(icmphdr))
        return;
    icmphdr echo;
    std::memcpy(&echo, reply.icmp, sizeof echo);
    const int replyType = family == AF_INET6 ? ICMP6_ECHO_REPLY : ICMP_ECHOREPLY;
    if (echo.type != replyType)
        return;
    const auto lane = std::find_if(side.lanes.begin(), side.lanes.end(), [&](const Lane& candidate) {
        return candidate.socket == socket && candidate.bound && candidate.identifier == ntohs(echo.un.echo.id);
    });
    if (lane == side.lanes.end())
        return;
    const auto found = lane->pending.find(ntohs(echo.un.echo.sequence));
    if (found == lane->pending.end() || !reply.source.SameAddress(found->second.destination))
        return;
    // A reply echoes our data with our token and that echo's serial; a stray packet, the reply to
    // another process's echo that happens to match the numbers, or a late reply to an earlier echo
    // that had the same numbers, does not.
    const Pending& waiting = found->second;
    const unsigned char* data = reply.icmp + sizeof echo;
    if (reply.length < sizeof echo + m_data.size() + sizeof waiting.serial ||
        std::memcmp(data, m_data.data(), m_data.size()) != 0 ||
        std::memcmp(data + m_data.size(), &waiting.serial, sizeof waiting.serial) != 0)
        return;
    // The kernel's arrival time, unless the wall clock was set meanwhile: then it is not between
    // the request and the reading.
    auto roundTrip = read.now - waiting.start;
    if (read.arrived) {
        const auto kernel = *read.arrived - waiting.wallStart;
        if (kernel >= kernel.zero() && kernel <= roundTrip)
            roundTrip = std::chrono::duration_cast<Clock::duration>(kernel);
    }
    answered.push_back({waiting.key, std::chrono::duration_cast<std::chrono::microseconds>(roundTrip).count()});
    lane->pending.erase(found);
}

bool IcmpEchoSession::IsWaiting(const Expiry& expiry) const {
    const auto& pending = m_families[expiry.family].lanes[expiry.lane].pending;
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
        auto& pending = m_families[expiry.family].lanes[expiry.lane].pending;
        const auto found = pending.find(expiry.sequence);
        expired.push_back(found->second.key);
        pending.erase(found);
    }
}

int IcmpEchoSession::Fd(SocketId id) const {
    if (id >= kSocketIds)
        return -1;
    const Family& side = m_families[id / kMaxIdentifiers];
    const std::size_t index = id % kMaxIdentifiers;
    return index < side.sockets.size() ? side.sockets[index].socket.Get() : -1;
}

void IcmpEchoSession::Close(SocketId id) {
    if (Fd(id) >= 0)
        SocketOf(id) = {};
}

bool IcmpEchoSession::IsBlocked(SocketId id) const {
    return Fd(id) >= 0 && SocketOf(id).blocked;
}

void IcmpEchoSession::ClearBlocked(SocketId id) {
    if (Fd(id) >= 0)
        SocketOf(id).blocked = false;
}

std::size_t IcmpEchoSession::InFlight() const {
    std::size_t count = 0;
    for (const Family& side : m_families)
        for (const Lane& lane : side.lanes)
            count += lane.pending.size();
    return count;
}
