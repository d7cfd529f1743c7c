#pragma once

#include <string>

namespace testsupport {

// A network namespace of the test's own, so that hosts which never answer exist without a
// single packet leaving the machine. Inside it:
//   - lo is up (127.0.0.1 answers);
//   - kSilentAddress lies behind one end of a veth pair, with a permanent neighbour entry to a
//     MAC that nobody has, so the other end drops every frame;
//   - kUnreachableAddress lies behind another veth pair where nobody answers the neighbour
//     query, so the stack itself reports "host unreachable" by ICMP;
//   - kSilentAddress6 and kUnreachableAddress6 are the same over IPv6 (on the same links; duplicate
//     address detection is off, so their networks are usable at once);
//   - no route leads anywhere else, so even a name lookup cannot reach the outside.
// Needs root (or CAP_SYS_ADMIN); check IsAvailable() and skip otherwise.
class SilentHostNamespace {
public:
    static constexpr const char* kSilentAddress = "10.213.0.2";
    static constexpr const char* kUnreachableAddress = "10.213.1.2";
    static constexpr const char* kSilentAddress6 = "fd00:213::2";
    static constexpr const char* kUnreachableAddress6 = "fd00:213:1::2";

    // pingSockets: also let every group open unprivileged ping sockets inside.
    explicit SilentHostNamespace(bool pingSockets = false);
    ~SilentHostNamespace();
    SilentHostNamespace(const SilentHostNamespace&) = delete;
    SilentHostNamespace& operator=(const SilentHostNamespace&) = delete;

    // Sends whatever goes to address (e.g. the resolver's name server), or to the whole network
    // address/prefixLength, to the silent host too: every such address is silent then.
    bool RouteToSilence(const std::string& address, int prefixLength = 32) const;

    bool IsAvailable() const { return m_available; }
    // The IPv6 hosts exist too (not on a system without IPv6).
    bool HasIPv6() const { return m_ipv6; }
    const std::string& Reason() const { return m_reason; }
    const std::string& Name() const { return m_name; }

    // While it lives, the calling thread, and every thread it starts, is inside the namespace.
    class Inside {
    public:
        explicit Inside(const SilentHostNamespace& ns);
        ~Inside();
        Inside(const Inside&) = delete;
        Inside& operator=(const Inside&) = delete;

    private:
        int m_previous = -1;
    };

private:
    std::string m_name;
    bool m_available = false;
    bool m_ipv6 = false;
    std::string m_reason;
};

// Counters of the calling thread's network namespace, from /proc/thread-self/net/snmp,
// e.g. SnmpCounter("Icmp", "OutEchos"), SnmpCounter("Tcp", "ActiveOpens"); groups ending in 6
// come from snmp6, e.g. SnmpCounter("Icmp6", "OutEchos"). -1 when missing.
long long SnmpCounter(const std::string& group, const std::string& name);

// Open descriptors and threads of this process, for leak checks.
int CountOpenFds();
int CountThreads();

// Waits (up to timeoutMs) until the thread count drops to at most `expected`; returns the last count.
int WaitForThreadCount(int expected, int timeoutMs);

} // namespace testsupport
