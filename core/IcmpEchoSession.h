#pragma once

#include "HostAddress.h"
#include "IcmpProbe.h"
#include "ProbeFailure.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <unordered_map>

#include <sys/socket.h>
#include <vector>

// The Internet checksum of an ICMP message, ready to be stored in it.
std::uint16_t InternetChecksum(const unsigned char* data, std::size_t length);

// Many ICMP echo probes over a few sockets per address family, opened as needed. Each request
// gets an identifier and a sequence number of its own; a reply is credited to the probe whose
// identifier, sequence, data and source address it carries, and to no other. Each echo waits at
// most kIcmpTimeoutMs from its request.
//
// One identifier holds 65,536 echoes in flight. A raw socket carries up to kMaxIdentifiers of them;
// a ping socket has the one the kernel gives it, so each further 65,536 echoes get a ping socket
// of their own, up to kMaxIdentifiers per family whatever the number of entries. Past that, Send
// says busy until an echo ends.
//
// Other processes see the same replies (every raw socket does, and a process with our pid would
// send the very same echoes), so each session draws its identifiers and a token that follows the
// request data at random: a reply without both is someone else's. Each request's data also ends
// with its own serial, so that a late reply cannot be credited to a later echo that reuses its
// identifier and sequence.
class IcmpEchoSession {
public:
    using Clock = std::chrono::steady_clock;
    // The kernel stamps a reply's arrival with the wall clock.
    using WallClock = std::chrono::system_clock;
    using Key = std::size_t;
    // One socket of the session: its family's and its own place among that family's sockets.
    using SocketId = std::size_t;
    static constexpr std::size_t kMaxIdentifiers = 16; // per family
    static constexpr std::size_t kSocketIds = 2 * kMaxIdentifiers;

    enum class Sent {
        waiting,      // the request is out; the answer or the time-out will tell
        failed,       // the request could not be sent: see failure
        noDescriptor, // no socket could be opened for want of a descriptor: try again later
        busy,         // no room for now (every identifier's sequences in use, or a full send
                      // buffer): try again once an echo has ended or the socket is writable
    };
    struct SendResult {
        Sent status = Sent::failed;
        ProbeFailure failure = ProbeFailure::unknown;
        SocketId socket = 0; // the socket it went out on (waiting), or whose send buffer is full (busy)
    };
    struct Answer {
        Key key;
        std::int64_t roundTripUs;
    };

    IcmpEchoSession();
    IcmpEchoSession(const IcmpEchoSession&) = delete;
    IcmpEchoSession& operator=(const IcmpEchoSession&) = delete;

    // Sends the echo request of the probe `key` to destination.
    SendResult Send(Key key, const HostAddress& destination);

    // Reads every reply waiting on socket; the probes they answer are appended to answered and end.
    void Drain(SocketId socket, std::vector<Answer>& answered);

    // The earliest end of an echo still waiting, if any.
    std::optional<Clock::time_point> NextDeadline() const;
    // Ends every echo whose time is up by now, appending its key to expired.
    void Expire(Clock::time_point now, std::vector<Key>& expired);

    // The descriptor of socket, -1 while it is not open.
    int Fd(SocketId socket) const;
    // Closes socket (when it cannot be watched); its echoes expire as usual.
    void Close(SocketId socket);
    // True when the last Send on socket found its send buffer full.
    bool IsBlocked(SocketId socket) const;
    void ClearBlocked(SocketId socket);

    std::size_t InFlight() const;

private:
    struct Pending {
        Key key;
        HostAddress destination;
        Clock::time_point start;
        WallClock::time_point wallStart;
        std::uint64_t serial; // in the request's data too
    };
    struct Expiry {
        Clock::time_point deadline;
        std::uint64_t serial;
        std::uint16_t sequence;
        std::uint8_t family; // slot
        std::uint8_t lane;
    };
    // One identifier and its sequences.
    struct Lane {
        std::size_t socket = 0; // its place among the family's sockets
        std::uint16_t identifier = 0;
        std::uint16_t nextSequence = 1;
        bool bound = false; // the identifier is known (a ping socket's comes with its first request)
        std::unordered_map<std::uint16_t, Pending> pending; // by sequence
    };
    struct Socket {
        IcmpSocket socket;
        bool blocked = false;
    };
    struct Family {
        std::vector<Socket> sockets;
        std::vector<Lane> lanes;
    };
    static constexpr std::size_t kSequences = 65536;
    static constexpr unsigned kReplyBatch = 64;
    // When a reply was read, and when the kernel says it arrived.
    struct ReadTimes {
        Clock::time_point now;
        std::optional<WallClock::time_point> arrived;
    };

    static std::size_t Slot(sa_family_t family) { return family == AF_INET6 ? 1 : 0; }
    const Socket& SocketOf(SocketId id) const { return m_families[id / kMaxIdentifiers].sockets[id % kMaxIdentifiers]; }
    Socket& SocketOf(SocketId id) { return m_families[id / kMaxIdentifiers].sockets[id % kMaxIdentifiers]; }
    // The first lane with a sequence free, a new one when every lane is full; failed or busy when
    // no lane can be had.
    SendResult PickLane(sa_family_t family, std::size_t& lane);
    SendResult AddLane(sa_family_t family);
    SendResult Open(Socket& socket, sa_family_t family);
    bool IsWaiting(const Expiry& expiry) const;
    // Ends the echo a datagram read from a socket answers, if it answers one of that socket's lanes.
    void Match(sa_family_t family, std::size_t socket, const unsigned char* buffer, std::size_t length,
               const sockaddr_storage& from, socklen_t fromLength, const ReadTimes& read,
               std::vector<Answer>& answered);

    std::array<Family, 2> m_families;
    std::deque<Expiry> m_expiries; // every echo waits as long, so they end in the order they began
    std::uint64_t m_nextSerial = 0;
    std::array<unsigned char, kIcmpRequestData.size() + kIcmpTokenSize> m_data{}; // the text, then the token
};
