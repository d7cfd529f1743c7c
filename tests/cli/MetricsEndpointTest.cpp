// The metrics as real clients read them: promtool on the exposition text, a Prometheus server
// scraping the endpoint, and an endpoint under abuse. Everything on 127.0.0.1.
#include "MonitorProcess.h"

#include "CGuardedTcpServer.h"
#include "CItemList.h"
#include "ListFile.h"
#include "ListenAddress.h"
#include "LoopbackPorts.h"
#include "MonitorMetrics.h"
#include "Probe.h"
#include "TempDir.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::MonitorProcess;
using testsupport::TempDir;

namespace {

std::unique_ptr<CItem> Entry(const std::string& address, std::int32_t connect, std::int32_t port) {
    auto item = std::make_unique<CItem>();
    item->m_strAddress = address;
    item->m_bConnect = connect;
    item->m_nPort = port;
    return item;
}

std::string SaveList(const TempDir& dir, std::uint16_t openPort) {
    CItemList list;
    list.AddTail(Entry("127.0.0.1", 1, openPort));
    list.m_nPeriod = 1;
    const std::string path = dir.file("list.pwk").string();
    EXPECT_TRUE(SaveListFile(list, path).Succeeded());
    return path;
}

// A loopback socket, non-blocking, connecting to port; -1 when none could be made.
int ConnectNonBlocking(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// What came back on one connection: the status and body size of each answer, in order, and
// whether the server closed the connection after them.
struct Exchange {
    std::vector<std::pair<int, std::size_t>> answers;
    bool closed = false;
};

// Sends each chunk with a pause in between, so the server reads them apart, then reads until
// expectedAnswers have come and half a second more, or the server closes.
Exchange Converse(std::uint16_t port, const std::vector<std::string>& chunks, std::size_t expectedAnswers) {
    Exchange exchange;
    const int fd = ConnectNonBlocking(port);
    pollfd ready{fd, POLLOUT, 0};
    if (fd < 0 || ::poll(&ready, 1, 5000) != 1)
        return exchange;
    for (const std::string& chunk : chunks) {
        (void)::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        std::this_thread::sleep_for(100ms);
    }
    std::string data;
    auto giveUp = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < giveUp) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        char buffer[65536];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n <= 0) {
            exchange.closed = true;
            break;
        }
        data.append(buffer, static_cast<std::size_t>(n));
        // Takes every complete answer off the front.
        for (std::size_t end; (end = data.find("\r\n\r\n")) != std::string::npos;) {
            const std::size_t length = data.find("Content-Length: ");
            const std::size_t bodySize = length < end ? std::strtoul(data.c_str() + length + 16, nullptr, 10) : 0;
            // A HEAD answer announces the body it leaves out.
            const bool head = chunks.front().rfind("HEAD ", 0) == 0;
            const std::size_t size = end + 4 + (head ? 0 : bodySize);
            if (data.size() < size)
                break;
            exchange.answers.emplace_back(std::atoi(data.c_str() + 9), size - end - 4);
            data.erase(0, size);
        }
        if (exchange.answers.size() >= expectedAnswers)
            giveUp = std::min(giveUp, std::chrono::steady_clock::now() + 500ms);
    }
    ::close(fd);
    return exchange;
}
} // namespace

TEST(MonitorMetrics, LabelValuesWithQuotesBackslashesAndLineBreaksReadBackThroughPromtool) {
    CItemList list;
    list.AddTail(Entry("say \"hi\"", 1, 80));
    list.AddTail(Entry("C:\\host", 0, 80));
    list.AddTail(Entry("two\nlines", 1, 443));
    list.AddTail(Entry("Z\xfcrich", 1, 443)); // Latin-1, not UTF-8
    cli::MonitorMetrics metrics;
    metrics.SetEntries(list);
    metrics.SetResult(0, 1, 1500);
    metrics.SetResult(1, 0, -1);
    metrics.SetResult(3, 0, -1);
    metrics.PassFinished(true, 0.25, 1'700'000'000);
    metrics.AlertRaised("mail", "failed");
    metrics.AlertRaised("mail", "failed");

    const std::string text = metrics.Text();
    EXPECT_EQ(testsupport::PromtoolProblems(text), "") << text;
    EXPECT_NE(text.find("pulsewick_probe_success{row=\"1\",address=\"say \\\"hi\\\"\",kind=\"tcp\",port=\"80\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("address=\"C:\\\\host\",kind=\"icmp\",port=\"\"} 0\n"), std::string::npos);
    EXPECT_NE(text.find("address=\"Z\xEF\xBF\xBDrich\""), std::string::npos);
    EXPECT_NE(text.find("pulsewick_probe_round_trip_seconds{row=\"1\","), std::string::npos);
    EXPECT_EQ(text.find("pulsewick_probe_round_trip_seconds{row=\"2\","), std::string::npos); // no answer, no time
    EXPECT_EQ(text.find("two\\nlines"), std::string::npos); // not probed yet: no sample
    metrics.SetResult(2, 1, 2000);
    EXPECT_NE(metrics.Text().find("address=\"two\\nlines\""), std::string::npos);
    EXPECT_NE(text.find("pulsewick_alerts_total{kind=\"mail\",outcome=\"failed\"} 2\n"), std::string::npos);
    EXPECT_NE(text.find("pulsewick_last_pass_timestamp_seconds 1700000000\n"), std::string::npos);
}

// With several attempts a probe: the attempts sent, the last loss ratio and jitter, and every
// answered round trip in an exponential histogram that promtool reads as one.
TEST(MonitorMetrics, AttemptsGiveLossJitterAndAHistogramOfRoundTrips) {
    CItemList list;
    list.AddTail(Entry("10.0.0.1", 0, 0));
    list.AddTail(Entry("10.0.0.2", 0, 0));
    cli::MonitorMetrics metrics;
    metrics.SetEntries(list);
    metrics.SetMeasuresLink(true);
    for (int pass = 0; pass < 2; ++pass) {
        ProbeOutcome outcome;
        outcome.attemptsUs = {50, 2000, -1, 2000, -1};
        outcome.stats = SummariseAttempts(outcome.attemptsUs);
        metrics.ObserveAttempts(0, outcome);
        metrics.SetResult(0, 1, outcome.stats.medianUs);
    }
    const std::string text = metrics.Text();
    EXPECT_EQ(testsupport::PromtoolProblems(text), "") << text;
    const std::string labels = "{row=\"1\",address=\"10.0.0.1\",kind=\"icmp\",port=\"\"";
    for (const std::string& line :
         {"pulsewick_probe_attempts_total" + labels + "} 10\n", "pulsewick_probe_loss_ratio" + labels + "} 0.4\n",
          "pulsewick_probe_jitter_seconds" + labels + "} 0.000975\n",
          "pulsewick_probe_attempt_round_trip_seconds_bucket" + labels + ",le=\"1e-05\"} 0\n",
          "pulsewick_probe_attempt_round_trip_seconds_bucket" + labels + ",le=\"0.0001\"} 2\n",
          "pulsewick_probe_attempt_round_trip_seconds_bucket" + labels + ",le=\"0.00316\"} 6\n",
          "pulsewick_probe_attempt_round_trip_seconds_bucket" + labels + ",le=\"+Inf\"} 6\n",
          "pulsewick_probe_attempt_round_trip_seconds_count" + labels + "} 6\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(text.find("row=\"2\""), std::string::npos) << "not probed: no samples";
}

// What --metrics accepts: numbers only, IPv6 in brackets, and a port that fits.
TEST(MetricsEndpoint, ListenAddressIsReadAsNumbersWithAPortThatFits) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"9100", "127.0.0.1:9100"},
        {":9100", "127.0.0.1:9100"},
        {"0.0.0.0:80", "0.0.0.0:80"},
        {"localhost:0", "127.0.0.1:0"},
        {"[::1]:65535", "[::1]:65535"},
        {"[::]:80", "[::]:80"},
        {"::1:80", "[::1]:80"}, // the port follows the last colon
        {"127.0.0.1:65536", ""},
        {"127.0.0.1:99999999999999999999", ""},
        {"127.0.0.1:", ""},
        {"127.0.0.1: 80", ""},
        {"127.0.0.1:+80", ""},
        {"[::1]", ""},
        {"host.example:80", ""}, // never looked up
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        const std::optional<cli::ListenAddress> address = cli::ParseListenAddress(text);
        std::string read;
        if (address) {
            const auto& v4 = reinterpret_cast<const sockaddr_in&>(address->address);
            const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address->address);
            read = address->HostText() + ":" +
                   std::to_string(ntohs(address->address.ss_family == AF_INET6 ? v6.sin6_port : v4.sin_port));
        }
        EXPECT_EQ(read, expected) << text;
    }
}

TEST(MetricsEndpoint, APrometheusServerScrapesItAndAnswersProbeSuccess) {
    TempDir dir;
    LoopbackPort open(LoopbackPort::Kind::listening);
    MonitorProcess monitor(dir.path(), {SaveList(dir, open.Port()), "--metrics", ":0"},
                           {{"PULSEWICK_MINUTE_MS", "1000"}});
    const std::uint16_t port = monitor.MetricsPort(20s);
    ASSERT_NE(port, 0) << monitor.Err();

    // Bound and released at once: a port nobody uses now, for Prometheus to listen on.
    const std::uint16_t prometheusPort = LoopbackPort(LoopbackPort::Kind::closed).Port();
    std::ofstream(dir.file("prometheus.yml")) << "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                                 "scrape_configs:\n  - job_name: pulsewick\n    static_configs:\n"
                                                 "      - targets: ['127.0.0.1:"
                                              << port << "']\n";
    const pid_t prometheus = ::fork();
    if (prometheus == 0) {
        const int log = ::open(dir.file("prometheus.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(log, 1);
        ::dup2(log, 2);
        const std::string config = "--config.file=" + dir.file("prometheus.yml").string();
        const std::string storage = "--storage.tsdb.path=" + dir.file("tsdb").string();
        const std::string listen = "--web.listen-address=127.0.0.1:" + std::to_string(prometheusPort);
        ::execlp("prometheus", "prometheus", config.c_str(), storage.c_str(), listen.c_str(), nullptr);
        ::_exit(127);
    }
    ASSERT_GT(prometheus, 0);

    // The first scrapes come a second or two after the server is up.
    QJsonArray result;
    const auto giveUp = std::chrono::steady_clock::now() + 60s;
    while (result.isEmpty() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(500ms);
        const auto answer =
            testsupport::HttpRequest(prometheusPort, "GET", "/api/v1/query?query=pulsewick_probe_success", 5000);
        if (answer && answer->status == 200)
            result = QJsonDocument::fromJson(QByteArray::fromStdString(answer->body))
                         .object()[QStringLiteral("data")]
                         .toObject()[QStringLiteral("result")]
                         .toArray();
    }
    ::kill(prometheus, SIGTERM);
    int status = 0;
    ::waitpid(prometheus, &status, 0);

    ASSERT_EQ(result.size(), 1) << testsupport::ReadFileBytes(dir.file("prometheus.log")).size();
    const QJsonObject sample = result[0].toObject();
    const QJsonObject labels = sample[QStringLiteral("metric")].toObject();
    EXPECT_EQ(labels[QStringLiteral("row")].toString(), QStringLiteral("1"));
    EXPECT_EQ(labels[QStringLiteral("address")].toString(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(labels[QStringLiteral("kind")].toString(), QStringLiteral("tcp"));
    EXPECT_EQ(labels[QStringLiteral("port")].toString(), QString::number(open.Port()));
    EXPECT_EQ(sample[QStringLiteral("value")].toArray()[1].toString(), QStringLiteral("1"));

    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);
}

TEST(MetricsEndpoint, KeepsServingThroughABurstGarbageAndSlowClientsWhilePassesGoOn) {
    // A thousand client sockets of our own, plus the usual ones.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
    ::setrlimit(RLIMIT_NOFILE, &limit);
    ASSERT_GE(limit.rlim_cur, 1200u);

    TempDir dir;
    LoopbackPort open(LoopbackPort::Kind::listening);
    MonitorProcess monitor(dir.path(), {SaveList(dir, open.Port()), "--metrics", "127.0.0.1:0"},
                           {{"PULSEWICK_MINUTE_MS", "500"}});
    const std::uint16_t port = monitor.MetricsPort(20s);
    ASSERT_NE(port, 0) << monitor.Err();
    ASSERT_TRUE(monitor.WaitFor("pass 1:", 20s));

    // The burst: every connection at once; a third send garbage, a third the start of a request
    // that never ends, the rest nothing at all. All of them stay open.
    constexpr int kBurst = 1000;
    std::vector<int> clients;
    for (int i = 0; i < kBurst; ++i)
        clients.push_back(ConnectNonBlocking(port));
    std::this_thread::sleep_for(200ms); // the handshakes complete on loopback
    constexpr char kGarbage[] = "\x16\x03\x01\x00\xff GARBAGE \r\n\r\n\0\0";
    const std::string garbage(kGarbage, sizeof kGarbage - 1); // with the NULs inside
    for (int i = 0; i < kBurst; ++i) {
        if (clients[i] >= 0 && i % 3 == 0)
            (void)::send(clients[i], garbage.data(), garbage.size(), MSG_NOSIGNAL);
        else if (clients[i] >= 0 && i % 3 == 1)
            (void)::send(clients[i], "GET /metr", 9, MSG_NOSIGNAL);
    }
    // One client that sends far more than any request needs is cut off.
    const int flooder = ConnectNonBlocking(port);
    std::this_thread::sleep_for(100ms);
    const std::string huge = "GET /metrics HTTP/1.1\r\nX-Pad: " + std::string(64 * 1024, 'a');
    (void)::send(flooder, huge.data(), huge.size(), MSG_NOSIGNAL);

    const int passesBefore = monitor.CountLines("pass ");
    const auto answer = testsupport::HttpRequest(port, "GET", "/metrics", 15000);
    ASSERT_TRUE(answer) << "no answer while the burst connections are open";
    EXPECT_EQ(answer->status, 200);
    EXPECT_NE(answer->body.find("pulsewick_probe_success{row=\"1\""), std::string::npos);

    // Passes go on every half second meanwhile.
    std::this_thread::sleep_for(3s);
    EXPECT_GE(monitor.CountLines("pass ") - passesBefore, 3) << monitor.Err();
    EXPECT_EQ(testsupport::ReadUntilClosed(flooder, 5000) >= 0, true); // the server closed it
    // The burst holds no more than the connection limit of the monitor's descriptors.
    const auto descriptors =
        std::distance(std::filesystem::directory_iterator("/proc/" + std::to_string(monitor.Pid()) + "/fd"),
                      std::filesystem::directory_iterator());
    EXPECT_LT(descriptors, static_cast<long>(cli::CGuardedTcpServer::kMaxConnections) + 64);

    for (const int fd : clients)
        if (fd >= 0)
            ::close(fd);
    ::close(flooder);
    EXPECT_EQ(testsupport::HttpRequest(port, "GET", "/metrics")->status, 200);
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);
}

// How requests arrive on a connection: in pieces, several at once, too long or malformed.
TEST(MetricsEndpoint, AnswersRequestsAsTheyArriveOnOneConnection) {
    TempDir dir;
    LoopbackPort open(LoopbackPort::Kind::listening);
    MonitorProcess monitor(dir.path(), {SaveList(dir, open.Port()), "--metrics", "127.0.0.1:0"});
    const std::uint16_t port = monitor.MetricsPort(20s);
    ASSERT_NE(port, 0) << monitor.Err();
    ASSERT_TRUE(monitor.WaitFor("pass 1:", 20s));

    const std::string get = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    struct Case {
        const char* what;
        std::vector<std::string> chunks;
        std::vector<int> statuses;
        bool closed;
    };
    const std::vector<Case> cases = {
        {"split over reads", {"GE", "T /metr", "ics HTTP/1.1\r\nHo", "st: 127.0.0.1\r\n", "\r\n"}, {200}, false},
        {"pipelined", {"GET / HTTP/1.1\r\n\r\n" + get + get}, {404, 200, 200}, false},
        {"a body skipped", {"POST /metrics HTTP/1.1\r\nContent-Length: 5\r\n\r\nGET /" + get}, {404, 200}, false},
        {"keep-alive after an answer", {get, get}, {200, 200}, false},
        {"head", {"HEAD /metrics HTTP/1.1\r\n\r\n"}, {200}, false},
        {"connection close", {"GET /metrics HTTP/1.1\r\nConnection: close\r\n\r\n"}, {200}, true},
        {"HTTP/1.0", {"GET /metrics HTTP/1.0\r\n\r\n"}, {200}, true},
        {"answered, then garbage", {get + "\x16\x03\x01 GARBAGE\r\n\r\n"}, {200, 400}, true},
        {"chunked body", {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"}, {501}, true},
        {"too long", {"GET /metrics HTTP/1.1\r\nX-Pad: " + std::string(20 * 1024, 'a')}, {}, true},
    };
    for (const Case& c : cases) {
        const Exchange exchange = Converse(port, c.chunks, c.statuses.size());
        std::vector<int> statuses;
        for (const auto& [status, bodySize] : exchange.answers) {
            statuses.push_back(status);
            EXPECT_EQ(bodySize > 0, status == 200 && c.chunks.front().rfind("HEAD ", 0) != 0) << c.what;
        }
        EXPECT_EQ(statuses, c.statuses) << c.what;
        EXPECT_EQ(exchange.closed, c.closed) << c.what;
    }
    EXPECT_EQ(testsupport::HttpRequest(port, "GET", "/metrics")->status, 200);
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);
}

// Out of descriptors (a low limit, and idle connections holding the rest): the endpoint pushes
// out the connection idle the longest to take a scrape, and does not spin meanwhile.
TEST(MetricsEndpoint, AScrapeGetsThroughWhenIdleConnectionsHoldEveryDescriptor) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer builds pair ASan with UBSan, whose vptr check reads the object through a pipe
    // it cannot open in a process that has no descriptor left: every check there fails.
    GTEST_SKIP() << "UBSan's vptr check cannot run in a process without a free descriptor";
#endif
    constexpr unsigned kDescriptorLimit = 64;
    constexpr int kIdleClients = 200;
    TempDir dir;
    LoopbackPort open(LoopbackPort::Kind::listening);
    MonitorProcess monitor(dir.path(), {SaveList(dir, open.Port()), "--metrics", "127.0.0.1:0"}, {}, kDescriptorLimit);
    const std::uint16_t port = monitor.MetricsPort(20s);
    ASSERT_NE(port, 0) << monitor.Err();
    ASSERT_TRUE(monitor.WaitFor("pass 1:", 20s)) << monitor.Err();

    std::vector<int> clients;
    for (int i = 0; i < kIdleClients; ++i)
        clients.push_back(ConnectNonBlocking(port));
    std::this_thread::sleep_for(1s);
    const double before = monitor.CpuSeconds();
    std::this_thread::sleep_for(2s);
    EXPECT_LT(monitor.CpuSeconds() - before, 0.5) << "it spins while out of descriptors";

    const auto answer = testsupport::HttpRequest(port, "GET", "/metrics", 5000);
    ASSERT_TRUE(answer) << "no scrape gets through\n" << monitor.Err();
    EXPECT_EQ(answer->status, 200);
    EXPECT_NE(answer->body.find("pulsewick_probe_success{row=\"1\""), std::string::npos);

    for (const int fd : clients)
        if (fd >= 0)
            ::close(fd);
    monitor.Signal(SIGTERM);
    EXPECT_EQ(monitor.Wait(5s), 0);
}
