// Several attempts per entry: the attempts of all entries interleave, as fping's do, so a pass
// lasts about (N-1) intervals whatever the number of entries; and a cancel ends every attempt at
// once. Seen from the responder's side of a link of the test's own.
#include "CCheckRun.h"
#include "CItemList.h"
#include "ImpairedLink.h"
#include "ProbePass.h"
#include "SilentHostNamespace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::ImpairedLink;
using testsupport::SilentHostNamespace;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kEntries = 200;

std::string Host(int i) {
    return "10.219." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
}

} // namespace

TEST(ProbeAttempts, AttemptsOfAllEntriesInterleaveAndACancelEndsThemAllAtOnce) {
    SilentHostNamespace ns;
    if (!ns.IsAvailable())
        GTEST_SKIP() << ns.Reason();
    ImpairedLink link(ns, "impair0", "10.219.0.0/16", [](in_addr_t, std::uint64_t) {
        return ImpairedLink::Verdict{false, 1ms};
    });
    ASSERT_TRUE(link.IsOk()) << "no TUN device here";
    SilentHostNamespace::Inside inside(ns);

    // Four echoes 150 ms apart to each of 200 hosts.
    std::vector<PassEntry> entries;
    for (int i = 0; i < kEntries; ++i)
        entries.push_back({0, Host(i), 0});
    ProbeSettings settings;
    settings.echoes = 4;
    settings.echoIntervalMs = 150;
    std::vector<ProbeOutcome> outcomes(entries.size());
    const auto started = Clock::now();
    ProbePass(
        entries, ProbePass::kDefaultMaxInFlight,
        [&](std::size_t index, const ProbeOutcome& outcome) { outcomes[index] = outcome; }, settings)
        .Run();
    const auto took = Clock::now() - started;
    EXPECT_GE(took, 450ms);
    EXPECT_LT(took, 450ms + 5s) << "not one entry after another";
    for (const ProbeOutcome& outcome : outcomes) {
        EXPECT_EQ(outcome.result, 1);
        EXPECT_EQ(outcome.stats.received, 4);
    }
    std::map<in_addr_t, std::vector<Clock::time_point>> perHost;
    for (const ImpairedLink::Request& request : link.Requests())
        perHost[request.destination].push_back(request.at);
    ASSERT_EQ(perHost.size(), entries.size());
    Clock::time_point lastFirst{}, firstSecond = Clock::time_point::max();
    for (const auto& [host, times] : perHost) {
        ASSERT_EQ(times.size(), 4u);
        for (std::size_t k = 1; k < times.size(); ++k)
            EXPECT_GE(times[k] - times[k - 1], 145ms) << "an entry's attempts keep their interval";
        lastFirst = std::max(lastFirst, times[0]);
        firstSecond = std::min(firstSecond, times[1]);
    }
    EXPECT_LT(lastFirst, firstSecond) << "every first echo goes out before any second one";

    // Five echoes a second apart, and a TCP connect that the silent host never answers: a cancel
    // during the second round ends all of them, and nothing more goes out.
    CItemList list;
    for (int i = 0; i < kEntries; ++i) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = 0;
        item->m_strAddress = Host(i);
        item->m_bResult = 7;
        list.AddTail(std::move(item));
    }
    auto silent = std::make_unique<CItem>();
    silent->m_strAddress = SilentHostNamespace::kSilentAddress;
    silent->m_bResult = 7;
    list.AddTail(std::move(silent));
    settings.echoes = 5;
    settings.echoIntervalMs = 1000;
    const std::size_t before = link.Requests().size();
    CCheckRun run;
    run.SetProbeSettings(settings);
    int reported = 0;
    ASSERT_TRUE(run.Start(list, [&](std::size_t, const CItem&, int) { ++reported; }));
    const auto giveUp = Clock::now() + 20s;
    while (link.Requests().size() < before + kEntries + kEntries / 2 && Clock::now() < giveUp)
        std::this_thread::sleep_for(10ms);
    const auto cancelled = Clock::now();
    run.Cancel();
    run.Finish();
    EXPECT_LT(Clock::now() - cancelled, 2s) << "nothing waits for its interval or its limit";
    const std::size_t seen = link.Requests().size();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(link.Requests().size(), seen) << "no attempt goes out after the cancel";
    EXPECT_EQ(reported, 0) << "no entry had all its attempts";
    list.ForEach([](const CItem& item) { EXPECT_EQ(item.m_bResult, 7) << item.m_strAddress; });
}
