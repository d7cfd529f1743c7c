#pragma once

#include "Probe.h"
#include "UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

class IcmpEchoSession;

inline constexpr int kIcmpTimeoutMs = 10000;
inline constexpr std::string_view kIcmpRequestData{"Hi there!", 10}; // the text and its zero byte
inline constexpr std::size_t kIcmpTokenSize = 8;                     // random bytes after it, drawn per session
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

// One ICMP probe on its own: one echo request (ICMP, or ICMPv6 for an IPv6 address) over a
// session of its own, answered by the first reply that the session credits to it, or given up
// kIcmpTimeoutMs after the request. An ICMP error (unreachable, time exceeded) is no answer.
// A pass sends its echoes through one shared session instead.
class IcmpEchoProbe final : public AsyncProbe {
public:
    IcmpEchoProbe();
    ~IcmpEchoProbe() override;

    Step Begin(const HostAddress& destination) override;
    Step OnReady(short revents) override;
    int Fd() const override;

private:
    std::unique_ptr<IcmpEchoSession> m_session;
    std::size_t m_socket = 0; // the session's socket the echo went out on
};

// True once an ICMP probe of this process found that neither socket may be opened for lack of
// privilege; the probe then answers 0 and the caller may explain how to grant it.
bool IsIcmpPrivilegeMissing();

// How to grant it, for people: a few lines naming the three ways.
extern const char* const kIcmpPrivilegeHelp;
