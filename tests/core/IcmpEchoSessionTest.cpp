// Echoes that share one socket: a reply is credited to the probe it answers and to no other,
// and a long list of echoes needs no descriptor per entry. Each case runs once over raw
// sockets and once over ping sockets, in a namespace of the test's own.
#include "IcmpEchoSession.h"
#include "ProbePass.h"
#include "SilentHostNamespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using testsupport::SilentHostNamespace;

namespace {

HostAddress Loopback(const std::string& text) {
    return HostAddress::IPv4(::inet_addr(text.c_str()));
}

struct Echo {
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
    std::string data;
};

// A raw socket of the test's own: it sees the requests on loopback and forges replies.
class Forger {
public:
    explicit Forger(const char* source) : m_fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP)) {
        const sockaddr_in from{AF_INET, 0, {::inet_addr(source)}, {}};
        ::bind(m_fd.Get(), reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }

    // The next echo request seen, or nothing within a few seconds.
    std::optional<Echo> NextRequest() {
        for (;;) {
            pollfd wait{m_fd.Get(), POLLIN, 0};
            if (::poll(&wait, 1, 5000) != 1)
                return std::nullopt;
            unsigned char buffer[200];
            const ssize_t got = ::recv(m_fd.Get(), buffer, sizeof buffer, 0);
            const std::size_t header = std::size_t{static_cast<unsigned char>(buffer[0] & 0x0f)} * 4;
            if (got < static_cast<ssize_t>(header + sizeof(icmphdr)))
                continue;
            icmphdr icmp;
            std::memcpy(&icmp, buffer + header, sizeof icmp);
            if (icmp.type == ICMP_ECHO)
                return Echo{ntohs(icmp.un.echo.id), ntohs(icmp.un.echo.sequence),
                            std::string(reinterpret_cast<const char*>(buffer) + header + sizeof icmp,
                                        static_cast<std::size_t>(got) - header - sizeof icmp)};
        }
    }

    void Reply(const char* to, Echo echo, std::string_view data) {
        unsigned char packet[sizeof(icmphdr) + 64] = {};
        icmphdr icmp{};
        icmp.type = ICMP_ECHOREPLY;
        icmp.un.echo.id = htons(echo.identifier);
        icmp.un.echo.sequence = htons(echo.sequence);
        std::memcpy(packet, &icmp, sizeof icmp);
        std::memcpy(packet + sizeof icmp, data.data(), data.size());
        const std::size_t length = sizeof icmp + data.size();
        const std::uint16_t checksum = InternetChecksum(packet, length);
        std::memcpy(packet + offsetof(icmphdr, checksum), &checksum, sizeof checksum);
        const sockaddr_in dest{AF_INET, 0, {::inet_addr(to)}, {}};
        ASSERT_EQ(::sendto(m_fd.Get(), packet, length, 0, reinterpret_cast<const sockaddr*>(&dest), sizeof dest),
                  static_cast<ssize_t>(length));
    }

private:
    UniqueFd m_fd;
};

// The answers on sockets: up to 5 s for the first, then 200 ms more for the rest.
std::vector<IcmpEchoSession::Answer> Answers(IcmpEchoSession& session,
                                             std::initializer_list<IcmpEchoSession::SocketId> sockets) {
    std::vector<IcmpEchoSession::Answer> answered;
    for (int wait = 0; wait < 50 && answered.empty(); ++wait) {
        ::poll(nullptr, 0, 100);
        for (const auto socket : sockets)
            session.Drain(socket, answered);
    }
    ::poll(nullptr, 0, 200);
    for (const auto socket : sockets)
        session.Drain(socket, answered);
    return answered;
}

// Param: whether the namespace allows ping sockets (else the session falls back to raw ones).
class SharedEchoes : public ::testing::TestWithParam<bool> {
protected:
    SharedEchoes() : m_ns(GetParam()) {}
    void SetUp() override {
        if (!m_ns.IsAvailable())
            GTEST_SKIP() << m_ns.Reason();
        m_inside = std::make_unique<SilentHostNamespace::Inside>(m_ns);
    }
    void TearDown() override { m_inside.reset(); }

    SilentHostNamespace m_ns;
    std::unique_ptr<SilentHostNamespace::Inside> m_inside;
};

} // namespace

TEST_P(SharedEchoes, AReplyIsCreditedOnlyToTheEchoItAnswers) {
    // Loopback stays silent, so every reply is one the test forges.
    ASSERT_EQ(std::system(("ip netns exec " + m_ns.Name() + " sysctl -q -w net.ipv4.icmp_echo_ignore_all=1").c_str()),
              0);
    Forger sniffer("127.0.0.1");
    Forger stranger("127.0.0.2");
    IcmpEchoSession session;
    const IcmpEchoSession::SendResult sent = session.Send(1, Loopback("127.0.0.1"));
    ASSERT_EQ(sent.status, IcmpEchoSession::Sent::waiting);
    ASSERT_EQ(session.Send(2, Loopback("127.0.0.1")).socket, sent.socket);
    const auto first = sniffer.NextRequest();
    const auto second = sniffer.NextRequest();
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->identifier, second->identifier) << "one socket, one identifier";
    ASSERT_NE(first->sequence, second->sequence);

    // What another process would get back for an echo that looks like ours: a process with the
    // same pid (in a container, or after pid reuse) must not be credited with our replies.
    const std::string_view plain{"Hi there!", 10};
    const std::string_view data = first->data;
    ASSERT_EQ(data.substr(0, plain.size()), plain);
    sniffer.Reply("127.0.0.1", {static_cast<std::uint16_t>(first->identifier + 1), first->sequence, {}}, data);
    sniffer.Reply("127.0.0.1", *first, plain);
    sniffer.Reply("127.0.0.1", *first, data.substr(0, data.size() - 1));
    stranger.Reply("127.0.0.1", *first, data); // the right numbers from the wrong host
    sniffer.Reply("127.0.0.1", *second, second->data);

    std::vector<IcmpEchoSession::Answer> answered = Answers(session, {sent.socket});
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].key, 2u);

    sniffer.Reply("127.0.0.1", *second, second->data); // a duplicate of an answered echo
    ::poll(nullptr, 0, 200);
    session.Drain(sent.socket, answered);
    EXPECT_EQ(answered.size(), 1u);

    std::vector<IcmpEchoSession::Key> expired;
    session.Expire(IcmpEchoSession::Clock::now(), expired);
    EXPECT_TRUE(expired.empty()) << "no echo ends before its time";
    session.Expire(IcmpEchoSession::Clock::now() + std::chrono::milliseconds(kIcmpTimeoutMs), expired);
    EXPECT_EQ(expired, std::vector<IcmpEchoSession::Key>{1});
    EXPECT_EQ(session.InFlight(), 0u);
}

// One identifier holds 65,536 echoes in flight: the next goes out at once under another, and a
// reply is checked down to the echo it answers, also once the first one's sequences come round.
TEST_P(SharedEchoes, EchoesPast65536InFlightGoOutAtOnceUnderAnotherIdentifier) {
    ASSERT_EQ(std::system(("ip netns exec " + m_ns.Name() + " sysctl -q -w net.ipv4.icmp_echo_ignore_all=1").c_str()),
              0);
    const HostAddress loopback = Loopback("127.0.0.1");
    IcmpEchoSession session;
    std::optional<Echo> first;
    IcmpEchoSession::SocketId firstSocket{};
    {
        Forger sniffer("127.0.0.1"); // closed before the flood, which it need not see
        firstSocket = session.Send(0, loopback).socket;
        first = sniffer.NextRequest();
    }
    ASSERT_TRUE(first);
    constexpr IcmpEchoSession::Key kFull = 65536;
    for (IcmpEchoSession::Key key = 1; key < kFull; ++key)
        ASSERT_EQ(session.Send(key, loopback).status, IcmpEchoSession::Sent::waiting) << key;
    Forger sniffer("127.0.0.1");
    const IcmpEchoSession::SendResult beyond = session.Send(kFull, loopback);
    ASSERT_EQ(beyond.status, IcmpEchoSession::Sent::waiting) << "not held back until an echo ends";
    const auto next = sniffer.NextRequest();
    ASSERT_TRUE(next && next->identifier != first->identifier);
    // Its sequence under the first identifier is another echo's, which this data is not for.
    sniffer.Reply("127.0.0.1", {first->identifier, next->sequence, {}}, next->data);
    sniffer.Reply("127.0.0.1", *next, next->data);
    std::vector<IcmpEchoSession::Answer> answered = Answers(session, {firstSocket, beyond.socket});
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].key, kFull);
    // All ended: echo 0's numbers go to the next echo, and a late reply to echo 0 does not answer it.
    std::vector<IcmpEchoSession::Key> expired;
    session.Expire(IcmpEchoSession::Clock::now() + std::chrono::milliseconds(kIcmpTimeoutMs), expired);
    ASSERT_EQ(session.Send(kFull + 1, loopback).status, IcmpEchoSession::Sent::waiting);
    const auto again = sniffer.NextRequest();
    ASSERT_TRUE(again && again->identifier == first->identifier && again->sequence == first->sequence);
    sniffer.Reply("127.0.0.1", *again, first->data);
    sniffer.Reply("127.0.0.1", *again, again->data);
    answered = Answers(session, {firstSocket});
    ASSERT_EQ(answered.size(), 1u);
    EXPECT_EQ(answered[0].key, kFull + 1);
}

// A pass reads replies in batches, after others or after a burst of requests: the round trip
// is the reply's arrival, not its reading. (The kernel starts stamping arrivals a moment after the
// socket asks for it, so the first echoes may have only their reading time.)
TEST_P(SharedEchoes, AReplyReadLateKeepsTheRoundTripOfItsArrival) {
    IcmpEchoSession session;
    std::vector<IcmpEchoSession::Answer> answered;
    for (const IcmpEchoSession::Key key : {1, 2, 3, 4}) {
        const IcmpEchoSession::SendResult sent = session.Send(key, Loopback("127.0.0.1"));
        ASSERT_EQ(sent.status, IcmpEchoSession::Sent::waiting);
        ::poll(nullptr, 0, 400);
        session.Drain(sent.socket, answered);
    }
    ASSERT_EQ(answered.size(), 4u);
    EXPECT_LT(answered.back().roundTripUs, 200000) << "the loopback answers at once";
}

TEST_P(SharedEchoes, AThousandEchoesUnderASoftLimitOf64Descriptors) {
    std::vector<PassEntry> entries;
    for (int i = 0; i < 1000; ++i)
        entries.push_back({0, "127.0." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250), 0});
    entries.push_back({0, "127.0.0.1", 0}); // the same host twice in flight
    entries.push_back({0, "::1", 0});

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);
    std::vector<ProbeOutcome> outcomes(entries.size(), ProbeOutcome{7});
    ProbePass pass(entries, ProbePass::kDefaultMaxInFlight,
                   [&](std::size_t index, const ProbeOutcome& outcome) { outcomes[index] = outcome; });
    pass.Run();
    ::setrlimit(RLIMIT_NOFILE, &saved);

    for (std::size_t i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(outcomes[i].result, 1) << entries[i].address;
        ASSERT_GE(outcomes[i].roundTripUs, 0) << entries[i].address;
    }
}

INSTANTIATE_TEST_SUITE_P(RawAndPing, SharedEchoes, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "PingSockets" : "RawSockets"; });
