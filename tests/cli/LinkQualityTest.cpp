// How good is the link: `check --echoes` over a link that loses, delays, duplicates and reorders
// (a TUN responder in a namespace of the test's own), read from its JSON as a script would.
#include "CItemList.h"
#include "ImpairedLink.h"
#include "ListFile.h"
#include "MonitorProcess.h"
#include "RunProgram.h"
#include "SilentHostNamespace.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using testsupport::ImpairedLink;
using testsupport::SilentHostNamespace;

namespace {

struct Case {
    const char* name;
    const char* address;
    ImpairedLink::Verdict (*verdict)(std::uint64_t nth); // nullptr: a TCP entry to the silent host
    // What the JSON row says; a negative bound is not checked.
    const char* ok;
    int received;
    const char* lossRatio;
    double medianAtLeastMs;
    double jitterAtLeastMs; // -1: "jitterMs" must be null
    const char* degraded;
    const char* reasonStart; // "" for null
};

ImpairedLink::Verdict Delayed(std::chrono::milliseconds delay, int copies = 1) {
    return {false, delay, copies};
}

const Case kCases[] = {
    {"a clean link", "10.219.0.1", [](std::uint64_t) { return Delayed(5ms); }, "true", 5, "0", 5, 0, "false", ""},
    {"two of five lost", "10.219.0.2",
     [](std::uint64_t nth) { return nth % 2 ? ImpairedLink::Verdict{true} : Delayed(5ms); }, "true", 3, "0.4", 5, 0,
     "true", "degraded: 40 % loss, median "},
    {"slow", "10.219.0.3", [](std::uint64_t) { return Delayed(150ms); }, "true", 5, "0", 150, 0, "true",
     "degraded: 0 % loss, median 1"},
    {"every reply three times", "10.219.0.4", [](std::uint64_t) { return Delayed(5ms, 3); }, "true", 5, "0", 5, 0,
     "false", ""},
    // Every other reply 200 ms late, after the next ones: 0, 200, 0, 200, 0 gives a jitter of 200 in
    // the order sent, 50 in the order the replies came or sorted; a busy machine may take a little.
    {"reordered", "10.219.0.5", [](std::uint64_t nth) { return Delayed(nth % 2 ? 200ms : 0ms); }, "true", 5, "0", 0,
     120, "false", ""},
    {"one answer of five", "10.219.0.6",
     [](std::uint64_t nth) { return nth == 2 ? Delayed(5ms) : ImpairedLink::Verdict{true}; }, "true", 1, "0.8", 5, -1,
     "true", "degraded: 80 % loss, median "},
    {"a TCP host that never answers", SilentHostNamespace::kSilentAddress, nullptr, "false", 0, "1", -1, -1, "false",
     "no answer within 1 s"},
};

// The value of "key" in one line of the JSON.
std::string Field(const std::string& line, const std::string& key) {
    const std::size_t at = line.find("\"" + key + "\": ");
    if (at == std::string::npos)
        return "(missing)";
    const std::size_t start = at + key.size() + 4;
    if (line[start] == '"')
        return line.substr(start + 1, line.find('"', start + 1) - start - 1);
    return line.substr(start, line.find_first_of(",}", start) - start);
}

double Number(const std::string& text) {
    return text == "null" ? -1 : std::stod(text);
}

} // namespace

TEST(LinkQuality, EchoesOverAnImpairedLinkGiveLossMedianJitterAndTheDegradedDecision) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    ImpairedLink link(ns, "impair0", "10.219.0.0/16", [](in_addr_t destination, std::uint64_t nth) {
        for (const Case& c : kCases)
            if (c.verdict && ::inet_addr(c.address) == destination)
                return c.verdict(nth);
        return ImpairedLink::Verdict{true};
    });
    ASSERT_TRUE(link.IsOk()) << "no TUN device here";

    testsupport::TempDir dir;
    CItemList list;
    for (const Case& c : kCases) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = c.verdict ? 0 : 1;
        item->m_strAddress = c.address;
        list.AddTail(std::move(item));
    }
    const std::string path = dir.file("link.pwk").string();
    ASSERT_TRUE(SaveListFile(list, path).Succeeded());

    const auto started = std::chrono::steady_clock::now();
    const testsupport::ProgramRun run = testsupport::RunProgram(
        dir, {"/usr/sbin/ip", "netns", "exec", ns.Name(), PULSEWICK_CLI, "check", path, "--json", "--echoes", "5",
              "--echo-interval", "20", "--degraded-loss", "30", "--degraded-rtt", "100", "--tcp-timeout", "1"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s) << "the TCP limit ended the silent connects";
    EXPECT_EQ(run.status, 1) << run.err; // the TCP host did not answer

    std::istringstream rows(run.out);
    std::string line;
    std::vector<ImpairedLink::Request> requests = link.Requests();
    for (const Case& c : kCases) {
        while (std::getline(rows, line) && line.find("\"row\"") == std::string::npos) {
        }
        SCOPED_TRACE(std::string(c.name) + ": " + line);
        EXPECT_EQ(Field(line, "ok"), c.ok);
        EXPECT_EQ(Field(line, "sent"), "5");
        EXPECT_EQ(Field(line, "received"), std::to_string(c.received)) << "each echo counted once";
        EXPECT_EQ(Field(line, "lossRatio"), c.lossRatio);
        EXPECT_EQ(Field(line, "degraded"), c.degraded);
        const std::string reason = Field(line, "reason");
        if (*c.reasonStart)
            EXPECT_EQ(reason.rfind(c.reasonStart, 0), 0u);
        else
            EXPECT_EQ(reason, "null");
        if (c.medianAtLeastMs >= 0) {
            const double median = Number(Field(line, "roundTripMs"));
            EXPECT_GE(median, c.medianAtLeastMs);
            EXPECT_LT(median, c.medianAtLeastMs + 200) << "the kernel's arrival time, not a late reading";
            EXPECT_LE(Number(Field(line, "minRoundTripMs")), median);
            EXPECT_GE(Number(Field(line, "maxRoundTripMs")), median);
        }
        if (c.jitterAtLeastMs < 0)
            EXPECT_EQ(Field(line, "jitterMs"), "null");
        else
            EXPECT_GE(Number(Field(line, "jitterMs")), c.jitterAtLeastMs);
        if (c.verdict) {
            const auto seen = std::count_if(requests.begin(), requests.end(), [&](const ImpairedLink::Request& r) {
                return r.destination == ::inet_addr(c.address);
            });
            EXPECT_EQ(seen, 5) << "one request per attempt";
        }
    }
}

// The monitor tells when an entry turns degraded and when it is healthy again; an entry that
// stopped answering is failing, not "no longer degraded".
TEST(LinkQuality, MonitorSaysNoLongerDegradedOnlyOfAnEntryThatAnswersWell) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    // The first pass's three echoes come back slow; after that row 1 is silent and row 2 quick.
    ImpairedLink link(ns, "impair0", "10.219.0.0/16", [](in_addr_t destination, std::uint64_t nth) {
        if (nth < 3)
            return Delayed(150ms);
        return destination == ::inet_addr("10.219.1.1") ? ImpairedLink::Verdict{true} : Delayed(1ms);
    });
    ASSERT_TRUE(link.IsOk()) << "no TUN device here";
    testsupport::TempDir dir;
    CItemList list;
    list.m_nPeriod = 1;
    for (const char* address : {"10.219.1.1", "10.219.1.2"}) {
        CItem& item = list.AddTail(std::make_unique<CItem>());
        item.m_bConnect = 0;
        item.m_strAddress = address;
    }
    const std::string path = dir.file("link.pwk").string();
    ASSERT_TRUE(SaveListFile(list, path).Succeeded());
    SilentHostNamespace::Inside inside(ns); // the monitor starts in it
    testsupport::MonitorProcess monitor(dir.path(),
                                        {path, "--echoes", "3", "--echo-interval", "20", "--degraded-rtt", "100"},
                                        {{"PULSEWICK_MINUTE_MS", "1000"}});
    ASSERT_TRUE(monitor.WaitFor("pass 2:", 60s)) << monitor.Err();
    const std::string err = monitor.Err();
    for (const char* row : {"row 1: 10.219.1.1:ICMP: ", "row 2: 10.219.1.2:ICMP: "})
        EXPECT_NE(err.find(std::string(row) + "degraded: 0 % loss, median 1"), std::string::npos) << err;
    EXPECT_EQ(err.find("row 1: 10.219.1.1:ICMP: no longer degraded"), std::string::npos) << err;
    EXPECT_NE(err.find("row 2: 10.219.1.2:ICMP: no longer degraded"), std::string::npos) << err;
}
