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

// Many ICMP echo probes over one socket per address family, opened on first use. Each request
// gets a sequence number of its own on its family's socket; a reply is credited to the probe
// whose identifier, sequence, data and source address it carries, and to no other. Each echo
// waits at most kIcmpTimeoutMs from its request.
//
// Other processes see the same replies (every raw socket does, and a process with our pid would
// send the very same echoes), so each session draws its identifier and a token that follows the
// request data at random: a reply without both is someone else's.
class IcmpEchoSession {
public:
    using Clock = std::chrono::steady_clock;
    // The kernel stamps a reply's arrival with the wall clock.
    using WallClock = std::chrono::system_clock;
    using Key = std::size_t;

    enum class Sent {
        waiting,      // the request is out; the answer or the time-out will tell
        failed,       // the request could not be sent: see failure
        noDescriptor, // no socket could be opened for want of a descriptor: try again later
        busy,         // the socket takes no more for now (every sequence in use, or a full send
                      // buffer): try again once an echo has ended or the socket is writable
    };
    struct SendResult {
        Sent status = Sent::failed;
        ProbeFailure failure = ProbeFailure::unknown;
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

    // Reads every reply waiting on family's socket; the probes they answer are appended to
    // answered and end.
    void Drain(sa_family_t family, std::vector<Answer>& answered);

    // The earliest end of an echo still waiting, if any.
    std::optional<Clock::time_point> NextDeadline() const;
    // Ends every echo whose time is up by now, appending its key to expired.
    void Expire(Clock::time_point now, std::vector<Key>& expired);

    // The socket of family, -1 while none is open.
    int Fd(sa_family_t family) const { return m_sockets[Slot(family)].socket.Get(); }
    // Closes family's socket (when it cannot be watched); its echoes expire as usual.
    void Close(sa_family_t family) { m_sockets[Slot(family)] = {}; }
    // True when family's last Send found its send buffer full.
    bool IsBlocked(sa_family_t family) const { return m_sockets[Slot(family)].blocked; }
    void ClearBlocked(sa_family_t family) { m_sockets[Slot(family)].blocked = false; }

    std::size_t InFlight() const { return m_sockets[0].pending.size() + m_sockets[1].pending.size(); }

private:
    struct Pending {
        Key key;
        HostAddress destination;
        Clock::time_point start;
        WallClock::time_point wallStart;
        std::uint64_t serial; // tells a reused sequence from the echo that held it before
    };
    struct Expiry {
        Clock::time_point deadline;
        std::uint64_t serial;
        std::uint16_t sequence;
        std::uint8_t slot;
    };
    struct FamilySocket {
        IcmpSocket socket;
        std::uint16_t identifier = 0;
        std::uint16_t nextSequence = 0;
        bool bound = false; // a ping socket has its identifier
        bool blocked = false;
        std::unordered_map<std::uint16_t, Pending> pending; // by sequence
    };
    static constexpr std::size_t kSequences = 65536;
    static constexpr unsigned kReplyBatch = 64;
    // When a reply was read, and when the kernel says it arrived.
    struct ReadTimes {
        Clock::time_point now;
        std::optional<WallClock::time_point> arrived;
    };

    static std::size_t Slot(sa_family_t family) { return family == AF_INET6 ? 1 : 0; }
    SendResult Open(FamilySocket& side, sa_family_t family);
    bool IsWaiting(const Expiry& expiry) const;
    // Ends the echo a datagram read from side's socket answers, if it answers one.
    void Match(FamilySocket& side, sa_family_t family, const unsigned char* buffer, std::size_t length,
               const sockaddr_storage& from, socklen_t fromLength, const ReadTimes& read,
               std::vector<Answer>& answered);

    std::array<FamilySocket, 2> m_sockets;
    std::deque<Expiry> m_expiries; // every echo waits as long, so they end in the order they began
    std::uint64_t m_nextSerial = 0;
    std::uint16_t m_rawIdentifier = 0;                                            // a ping socket's is the kernel's
    std::array<unsigned char, kIcmpRequestData.size() + kIcmpTokenSize> m_data{}; // the text, then the token
};
