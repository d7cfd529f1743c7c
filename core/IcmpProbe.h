#pragma once

#include "Probe.h"
#include "UniqueFd.h"

#include <cstdint>
#include <string_view>

inline constexpr int kIcmpTimeoutMs = 10000;
inline constexpr std::string_view kIcmpRequestData{"Hi there!", 10}; // the text and its zero byte
inline constexpr std::size_t kIcmpReplyBufferSize = 100;

// One socket for ICMP echo (AF_INET) or ICMPv6 echo (AF_INET6): the unprivileged ping socket when
// the system allows it (net.ipv4.ping_group_range, which rules both), else a raw socket (root or
// CAP_NET_RAW).
class IcmpSocket {
public:
    enum class Kind { none, datagram, raw };

    static IcmpSocket Open(sa_family_t family = AF_INET);

    Kind GetKind() const { return m_kind; }
    int Get() const { return m_fd.Get(); }
    UniqueFd Release() {
        m_kind = Kind::none;
        return std::move(m_fd);
    }
    explicit operator bool() const { return m_kind != Kind::none; }

private:
    Kind m_kind = Kind::none;
    UniqueFd m_fd;
};

// The ICMP probe as a state machine: one echo request (ICMP, or ICMPv6 for an IPv6 address) on a
// socket of its own, then replies are read as they come until ours arrives or kIcmpTimeoutMs
// have passed since the request. Only an echo reply from the probed address with our identifier
// and sequence counts: an ICMP error (unreachable, time exceeded) is no answer.
class IcmpEchoProbe final : public AsyncProbe {
public:
    Step Begin(const HostAddress& destination) override;
    Step OnReady(short revents) override;

private:
    IcmpSocket::Kind m_kind = IcmpSocket::Kind::none;
    HostAddress m_destination;
    std::uint16_t m_identifier = 0;
    std::uint16_t m_sequence = 0;
};

// True once an ICMP probe of this process found that neither socket may be opened for lack of
// privilege; the probe then answers 0 and the caller may explain how to grant it.
bool IsIcmpPrivilegeMissing();

// How to grant it, for people: a few lines naming the three ways.
extern const char* const kIcmpPrivilegeHelp;
