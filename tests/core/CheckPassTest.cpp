// A pass with many probes in flight: the same results as one probe after another, in list
// order, in about one time-out, and nothing left behind by a cancel or a tight descriptor limit.
#include "CCheckRun.h"
#include "CItemList.h"
#include "LoopbackPorts.h"
#include "ProbePass.h"
#include "SanitizerBuild.h"
#include "SilentHostNamespace.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::CountOpenFds;
using testsupport::CountThreads;
using testsupport::LoopbackAcceptor;
using testsupport::LoopbackPort;
using testsupport::SilentHostNamespace;
using Clock = std::chrono::steady_clock;

namespace {

void Add(CItemList& list, std::int32_t connect, const std::string& address, std::int32_t port = 0) {
    auto item = std::make_unique<CItem>();
    item->m_bConnect = connect;
    item->m_strAddress = address;
    item->m_nPort = port;
    item->m_bResult = 7;
    list.AddTail(std::move(item));
}

std::vector<std::string> Lines(const std::filesystem::path& path) {
    const auto bytes = testsupport::ReadFileBytes(path);
    const std::string text(bytes.begin(), bytes.end());
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(text.find(", ", start) + 2, end - text.find(", ", start) - 2)); // no stamp
    return lines;
}

// A namespace with a silent host whose TCP connects the stack gives up after about 3 s
// (one SYN retry) instead of two minutes.
class SilentPass : public ::testing::Test {
protected:
    void SetUp() override {
        if (!m_ns.IsAvailable())
            GTEST_SKIP() << m_ns.Reason();
        ASSERT_EQ(std::system(("ip netns exec " + m_ns.Name() + " sysctl -q -w net.ipv4.tcp_syn_retries=1").c_str()),
                  0);
        m_inside = std::make_unique<SilentHostNamespace::Inside>(m_ns);
    }
    void TearDown() override { m_inside.reset(); }

    SilentHostNamespace m_ns;
    std::unique_ptr<SilentHostNamespace::Inside> m_inside;
};

} // namespace

TEST_F(SilentPass, MixedListGivesWhatOneProbeAfterAnotherGivesInListOrder) {
    testsupport::TempDir dir;
    LoopbackPort open(LoopbackPort::Kind::listening);
    LoopbackPort refused(LoopbackPort::Kind::closed);
    const char* silent = SilentHostNamespace::kSilentAddress;
    CItemList list;
    list.m_nLogMode = 2;
    list.m_strLogFile = dir.file("check.log").string();
    Add(list, 0, silent); // the slowest first: everything after it ends earlier
    Add(list, 1, "127.0.0.1", open.Port());
    Add(list, 1, "127.0.0.1", refused.Port());
    Add(list, 1, silent, 80);
    Add(list, 1, SilentHostNamespace::kUnreachableAddress, 80);
    Add(list, 0, "127.0.0.1");
    Add(list, 0, "pulsewick-pass.invalid");
    Add(list, 1, "pulsewick-pass.invalid", 80);
    Add(list, 1, "localhost", open.Port());
    Add(list, 1, "", 80);
    Add(list, 1, "127.0.0.1", 70000);
    Add(list, 1, "127.0.0.1", open.Port()); // duplicates of entries above
    Add(list, 0, silent);
    Add(list, 1, "127.0.0.1", refused.Port());

    // The reference: each entry probed on its own, one after another (on a thread of its own,
    // inside the namespace too, so both take their time together).
    std::vector<int> expected(list.GetCount());
    std::thread reference([&] {
        for (std::size_t row = 0; row < list.GetCount(); ++row) {
            CItem copy;
            copy.m_bConnect = list.GetAt(row).m_bConnect;
            copy.m_strAddress = list.GetAt(row).m_strAddress;
            copy.m_nPort = list.GetAt(row).m_nPort;
            expected[row] = copy.Check();
        }
    });

    std::vector<std::size_t> rows;
    const auto start = Clock::now();
    const int result = CCheckRun().RunBlocking(list, [&](std::size_t row, const CItem&, int) { rows.push_back(row); });
    const auto elapsed = Clock::now() - start;
    reference.join();

    std::vector<int> got;
    std::vector<std::size_t> everyRow;
    std::vector<std::string> expectedLog;
    for (std::size_t row = 0; row < list.GetCount(); ++row) {
        const CItem& item = list.GetAt(row);
        got.push_back(item.m_bResult);
        everyRow.push_back(row);
        expectedLog.push_back(std::to_string(item.m_bResult) + ", \"" + item.m_strAddress + "\", " +
                              std::to_string(item.m_bConnect) + ", " + std::to_string(item.m_nPort));
    }
    EXPECT_EQ(got, expected);
    EXPECT_EQ(got, (std::vector<int>{0, 1, 0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0}));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(rows, everyRow) << "rows are reported in list order";
    EXPECT_EQ(Lines(list.m_strLogFile), expectedLog) << "log lines are written in list order";
    EXPECT_LT(elapsed, 18s) << "two silent ICMP hosts take one time-out together, not one each";
}

TEST_F(SilentPass, ManySilentHostsEndInAboutOneTimeOut) {
    ASSERT_TRUE(m_ns.RouteToSilence("10.214.0.0", 16));
    CItemList list;
    for (int i = 0; i < 300; ++i) {
        const std::string host = "10.214." + std::to_string(i / 200) + "." + std::to_string(1 + i % 200);
        Add(list, 0, host);
        Add(list, 1, host, 80);
    }
    const auto start = Clock::now();
    EXPECT_EQ(CCheckRun().RunBlocking(list, nullptr), 0);
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 9900ms);
    EXPECT_LT(elapsed, 25s) << "one after another this would take an hour";
    for (std::size_t row = 0; row < list.GetCount(); ++row)
        ASSERT_EQ(list.GetAt(row).m_bResult, 0) << row;
}

TEST(CheckPass, CancelInTheMiddleLeavesNoDescriptorOrThreadBehind) {
    LoopbackPort stalled(LoopbackPort::Kind::stalled);
    LoopbackAcceptor open;
    CItemList list;
    for (int i = 0; i < 400; ++i)
        Add(list, 1, "127.0.0.1", i % 4 ? stalled.Port() : open.Port());
    const int fdsBefore = CountOpenFds();
    const int threadsBefore = CountThreads();
    {
        CCheckRun run;
        ASSERT_TRUE(run.Start(list, nullptr));
        const auto giveUp = Clock::now() + 10s;
        while (run.FinishedCount() < 100 && Clock::now() < giveUp)
            std::this_thread::sleep_for(5ms);
        ASSERT_EQ(run.FinishedCount(), 100u) << "the answering quarter ends, the stalled rest waits";
        EXPECT_GT(CountOpenFds(), fdsBefore + 250) << "the stalled connects should be in flight together";
        run.Cancel();
        EXPECT_EQ(run.Finish(), 1);
    }
    EXPECT_EQ(testsupport::WaitForThreadCount(threadsBefore, 5000), threadsBefore);
    EXPECT_EQ(CountOpenFds(), fdsBefore);
    EXPECT_EQ(list.GetAt(0).m_bResult, 1);
    EXPECT_EQ(list.GetAt(1).m_bResult, 7) << "a probe under way leaves its entry as it was";
    EXPECT_EQ(list.GetAt(4).m_bResult, 1) << "an entry that ended after one under way still counts";
}

TEST(CheckPass, DescriptorsRunningOutMakeProbesWaitNotFail) {
    if (testsupport::kChecksNeedDescriptors)
        GTEST_SKIP() << "takes every descriptor, which the sanitizer's checks need";
    LoopbackAcceptor open;
    LoopbackPort refused(LoopbackPort::Kind::closed);
    std::vector<PassEntry> entries;
    for (int i = 0; i < 600; ++i)
        entries.push_back({1, "127.0.0.1", i % 3 ? open.Port() : refused.Port()});

    // A soft limit well below the list: only a few sockets fit beside what is open now.
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(CountOpenFds()) + ProbePass::kReservedDescriptors + 20;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &tight), 0);

    // Midway, something else takes every descriptor left for a while: the probes that find
    // none must wait for one, also when none of theirs is in flight.
    std::vector<int> taken;
    std::thread giveBack;
    std::vector<int> results(entries.size(), -1);
    std::size_t done = 0;
    ProbePass pass(entries, ProbePass::kDefaultMaxInFlight, [&](std::size_t index, const ProbeOutcome& outcome) {
        results[index] = outcome.result;
        if (++done != 50)
            return;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            taken.push_back(fd);
        giveBack = std::thread([&taken] {
            std::this_thread::sleep_for(300ms);
            for (const int fd : taken)
                ::close(fd);
        });
    });
    pass.Run();
    if (giveBack.joinable())
        giveBack.join();
    ::setrlimit(RLIMIT_NOFILE, &saved);

    EXPECT_FALSE(taken.empty());
    for (std::size_t i = 0; i < entries.size(); ++i)
        ASSERT_EQ(results[i], i % 3 ? 1 : 0) << "entry " << i;
}
