#include "CCheckRun.h"
#include "CItem.h"
#include "CItemList.h"
#include "LoopbackPorts.h"
#include "PrivateNetwork.h"
#include "ProbeFailure.h"
#include "SilentHostNamespace.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using testsupport::LoopbackPort;
using testsupport::TempDir;

namespace {

struct Status {
    std::size_t row;
    int result;
    bool operator==(const Status&) const = default;
};

class CheckRun : public ::testing::Test {
protected:
    void Add(std::uint16_t port, int earlier = 7) {
        auto item = std::make_unique<CItem>();
        item->m_bConnect = 1;
        item->m_strAddress = "127.0.0.1";
        item->m_nPort = port;
        item->m_bResult = earlier;
        m_list.AddTail(std::move(item));
    }
    CCheckRun::StatusFn Recorder() {
        return [this](std::size_t row, const CItem& item, int result) {
            EXPECT_EQ(item.m_bResult, result);
            EXPECT_EQ(&item, &m_list.GetAt(row));
            m_statuses.push_back({row, result});
        };
    }
    std::vector<std::string> LogLines() const {
        std::vector<std::string> lines;
        if (!std::filesystem::exists(m_log))
            return lines;
        const auto bytes = testsupport::ReadFileBytes(m_log);
        std::string text(bytes.begin(), bytes.end());
        for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
    void UseLog(int mode) {
        m_list.m_nLogMode = mode;
        m_list.m_strLogFile = m_log.string();
    }
    // Runs until the worker has reached the stalled entry (all rows before it reported).
    void WaitForRows(CCheckRun& run, std::size_t rows) {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (m_statuses.size() < rows && std::chrono::steady_clock::now() < deadline) {
            pollfd wait{run.NotifyFd(), POLLIN, 0};
            ::poll(&wait, 1, 100);
            run.Deliver();
        }
        ASSERT_EQ(m_statuses.size(), rows);
        std::this_thread::sleep_for(50ms); // into the stalled connect
        ASSERT_TRUE(run.IsRunning());
    }

    TempDir m_dir;
    std::filesystem::path m_log = m_dir.file("check.log");
    CItemList m_list;
    std::vector<Status> m_statuses;
    LoopbackPort m_open{LoopbackPort::Kind::listening};
    LoopbackPort m_closed{LoopbackPort::Kind::closed};
    LoopbackPort m_stalled{LoopbackPort::Kind::stalled};
};

} // namespace

TEST_F(CheckRun, EmptyListAnswersOneWithNothingWritten) {
    UseLog(2);
    CCheckRun run;
    EXPECT_EQ(run.RunBlocking(m_list, Recorder()), 1);
    EXPECT_TRUE(m_statuses.empty());
    EXPECT_FALSE(std::filesystem::exists(m_log));
}

TEST_F(CheckRun, OneFailureAmongSeveralProbesEveryEntryInOrder) {
    Add(m_open.Port());
    Add(m_closed.Port());
    Add(m_open.Port());
    UseLog(2);
    CCheckRun run;
    EXPECT_EQ(run.RunBlocking(m_list, Recorder()), 0);
    EXPECT_EQ(m_statuses, (std::vector<Status>{{0, 1}, {1, 0}, {2, 1}}));
    EXPECT_EQ(m_list.GetAt(1).m_bResult, 0);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 3u);
    const std::string port = std::to_string(m_open.Port());
    EXPECT_NE(lines[0].find(", 1, \"127.0.0.1\", 1, " + port), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find(", 0, \"127.0.0.1\", 1, " + std::to_string(m_closed.Port())), std::string::npos);
}

TEST_F(CheckRun, LogModesDecideWhichLinesAreWritten) {
    Add(m_open.Port());
    Add(m_closed.Port());
    for (int mode : {0, 1, 2}) {
        SCOPED_TRACE(mode);
        std::filesystem::remove(m_log);
        UseLog(mode);
        CCheckRun run;
        EXPECT_EQ(run.RunBlocking(m_list, nullptr), 0);
        const auto lines = LogLines();
        if (mode == 0) {
            EXPECT_FALSE(std::filesystem::exists(m_log));
        } else if (mode == 1) {
            ASSERT_EQ(lines.size(), 1u);
            EXPECT_NE(lines[0].find(", 0, "), std::string::npos);
        } else {
            EXPECT_EQ(lines.size(), 2u);
        }
    }
    // Mode 1 with everything answering, and an empty path in mode 2, leave nothing.
    m_list.RemoveAt(1);
    std::filesystem::remove(m_log);
    UseLog(1);
    EXPECT_EQ(CCheckRun().RunBlocking(m_list, nullptr), 1);
    m_list.m_nLogMode = 2;
    m_list.m_strLogFile.clear();
    EXPECT_EQ(CCheckRun().RunBlocking(m_list, nullptr), 1);
    EXPECT_FALSE(std::filesystem::exists(m_log));

    // An unusable log path changes nothing about the run.
    m_list.m_strLogFile = m_dir.file("no-such-folder/check.log").string();
    m_statuses.clear();
    EXPECT_EQ(CCheckRun().RunBlocking(m_list, Recorder()), 1);
    EXPECT_EQ(m_statuses, (std::vector<Status>{{0, 1}}));
}

TEST_F(CheckRun, CancelRecordsWhatEndedInOrderAndLeavesTheRest) {
    Add(m_open.Port());
    Add(m_stalled.Port(), /*earlier=*/5);
    Add(m_open.Port(), /*earlier=*/6);
    UseLog(2);
    CCheckRun run;
    ASSERT_TRUE(run.Start(m_list, Recorder()));
    WaitForRows(run, 1);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (run.FinishedCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(m_statuses.size(), 1u) << "row 3 waits for row 2 before it is shown";
    run.Cancel();
    EXPECT_EQ(run.Finish(), 1) << "no probe that ended had failed";
    EXPECT_EQ(m_statuses, (std::vector<Status>{{0, 1}, {2, 1}}));
    EXPECT_EQ(m_list.GetAt(1).m_bResult, 5) << "the interrupted entry keeps its earlier result";
    EXPECT_EQ(m_list.GetAt(2).m_bResult, 1);
    // The worker writes the lines of what was recorded as it leaves.
    const auto logged = std::chrono::steady_clock::now() + 10s;
    while (LogLines().size() < 2 && std::chrono::steady_clock::now() < logged)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(LogLines().size(), 2u);
}

TEST_F(CheckRun, AProbeIsReportedAsItEndsAndRecordedWithItsOwnEndTime) {
    Add(m_stalled.Port(), /*earlier=*/5);
    Add(m_open.Port(), /*earlier=*/6);
    std::vector<std::pair<std::size_t, std::int64_t>> ended;
    CCheckRun run;
    run.SetEndedFn([&ended](std::size_t row, const ProbeOutcome& outcome, std::int64_t endedAt) {
        EXPECT_EQ(outcome.result, 1);
        ended.emplace_back(row, endedAt);
    });
    ASSERT_TRUE(run.Start(m_list, Recorder()));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (ended.empty() && std::chrono::steady_clock::now() < deadline) {
        pollfd wait{run.NotifyFd(), POLLIN, 0};
        ::poll(&wait, 1, 100);
        run.Deliver();
    }
    ASSERT_EQ(ended.size(), 1u) << "the second row's probe is reported ahead of the stalled first";
    EXPECT_EQ(ended[0].first, 1u);
    EXPECT_TRUE(m_statuses.empty()) << "its row still waits for the first one";
    std::this_thread::sleep_for(1100ms); // the clock moves on before its turn comes
    run.Cancel();
    run.Finish();
    EXPECT_EQ(m_statuses, (std::vector<Status>{{1, 1}}));
    EXPECT_EQ(m_list.GetAt(1).m_tLastProbe, ended[0].second) << "when its probe ended, not when it was recorded";
}

TEST_F(CheckRun, CancelAfterAFailureReportsFailure) {
    Add(m_closed.Port());
    Add(m_stalled.Port());
    CCheckRun run;
    int cancel[2] = {-1, -1};
    ASSERT_EQ(::pipe(cancel), 0);
    std::atomic<bool> failureReported{false};
    std::thread presser([&] {
        // Press "Cancel" once the failure is in and the stalled entry is under way, however
        // slowly a loaded machine gets there.
        const auto giveUp = std::chrono::steady_clock::now() + 20s;
        while (!failureReported && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(5ms);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(::write(cancel[1], "x", 1), 1);
    });
    const CCheckRun::StatusFn record = Recorder();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run.RunBlocking(
                  m_list,
                  [&](std::size_t row, const CItem& item, int result) {
                      record(row, item, result);
                      failureReported = true;
                  },
                  cancel[0]),
              0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    presser.join();
    ::close(cancel[0]);
    ::close(cancel[1]);
    EXPECT_EQ(m_statuses, (std::vector<Status>{{0, 0}}));
}

TEST_F(CheckRun, OnlyOneRunAtATime) {
    Add(m_stalled.Port());
    CCheckRun first;
    ASSERT_TRUE(first.Start(m_list, nullptr));
    CCheckRun second;
    EXPECT_FALSE(second.Start(m_list, nullptr));
    EXPECT_EQ(second.NotifyFd(), -1);
    EXPECT_EQ(first.Finish(), 1);
    EXPECT_EQ(CCheckRun().RunBlocking(*std::make_unique<CItemList>(), nullptr), 1) << "free again";
}

namespace {

std::atomic<bool> s_inLogWrite{false};
std::atomic<bool> s_logWriteMayEnd{false};

// Holds the writing thread inside its write for as long as the test wants, as a write to a
// hung file system would.
void HoldTheWrite(int) {
    s_inLogWrite = true;
    while (!s_logWriteMayEnd) {
        const timespec pause{0, 1000000};
        ::nanosleep(&pause, nullptr);
    }
}

} // namespace

TEST_F(CheckRun, ALogWriteThatHangsHoldsUpNeitherTheRowsNorCancel) {
    Add(m_open.Port());
    Add(m_stalled.Port());
    UseLog(2);
    // With the file size limit at 0 the worker's first line raises SIGXFSZ in the worker itself,
    // and the handler keeps it there.
    struct sigaction hold {};
    hold.sa_handler = HoldTheWrite;
    struct sigaction before {};
    ASSERT_EQ(::sigaction(SIGXFSZ, &hold, &before), 0);
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    limit.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const int threadsBefore = testsupport::CountThreads();

    CCheckRun run;
    ASSERT_TRUE(run.Start(m_list, Recorder()));
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!s_inLogWrite && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(s_inLogWrite) << "the worker never wrote its line";

    auto caller = std::async(std::launch::async, [&] {
        const auto rows = std::chrono::steady_clock::now() + 20s;
        while (m_statuses.empty() && std::chrono::steady_clock::now() < rows) {
            pollfd wait{run.NotifyFd(), POLLIN, 0};
            ::poll(&wait, 1, 100);
            run.Deliver();
        }
        run.Cancel();
        return run.Finish();
    });
    const bool returned = caller.wait_for(10s) == std::future_status::ready;
    EXPECT_TRUE(returned) << "the caller's thread waited for the log";
    ::setrlimit(RLIMIT_FSIZE, &unlimited);
    s_logWriteMayEnd = true;
    EXPECT_EQ(caller.get(), 1);
    EXPECT_EQ(m_statuses, (std::vector<Status>{{0, 1}}));

    // The stopped worker leaves once its write is over.
    const auto gone = std::chrono::steady_clock::now() + 20s;
    while (testsupport::CountThreads() > threadsBefore && std::chrono::steady_clock::now() < gone)
        std::this_thread::sleep_for(5ms);
    EXPECT_LE(testsupport::CountThreads(), threadsBefore);
    ::sigaction(SIGXFSZ, &before, nullptr);
}

TEST_F(CheckRun, ListCanBeFreedRightAfterACancel) {
    // The worker must not touch the list once the run is finished, even while it unwinds.
    for (int i = 0; i < 200; ++i) {
        auto list = std::make_unique<CItemList>();
        for (int k = 0; k < 20; ++k) {
            auto item = std::make_unique<CItem>();
            item->m_bConnect = 1;
            item->m_strAddress = "127.0.0.1";
            item->m_nPort = k % 2 ? m_closed.Port() : m_open.Port();
            list->AddTail(std::move(item));
        }
        CCheckRun run;
        ASSERT_TRUE(run.Start(*list, nullptr));
        if (i % 3)
            std::this_thread::sleep_for(std::chrono::microseconds(50 * (i % 7)));
        run.Cancel();
        run.Finish();
        list.reset(); // a freed list here makes a sanitizer build, or the heap, complain
    }
}

// Each failed entry carries why, and every probed entry when, as far as the list; inside a
// network namespace of the test's own a name lookup fails at once and 192.0.2.1 has no route.
TEST(CheckRunReasons, EachEntryCarriesTheReasonAndTimeOfItsLastProbe) {
    std::string skipReason;
    const auto found = testsupport::RunInPrivateNetwork(
        [] {
            LoopbackPort open(LoopbackPort::Kind::listening);
            LoopbackPort closed(LoopbackPort::Kind::closed);
            CItemList list;
            const std::pair<std::string, int> entries[] = {
                {"127.0.0.1", closed.Port()}, {"nowhere.invalid", 80}, {"192.0.2.1", 80},
                {"192.0.2.1", -1} /* ICMP */, {"127.0.0.1", 70000},    {"127.0.0.1", open.Port()}};
            for (const auto& [address, port] : entries) {
                auto item = std::make_unique<CItem>();
                item->m_strAddress = address;
                item->m_bConnect = port >= 0 ? 1 : 0;
                item->m_nPort = port;
                list.AddTail(std::move(item));
            }
            const auto before = static_cast<std::int64_t>(std::time(nullptr));
            CCheckRun run;
            run.RunBlocking(list, [](std::size_t, const CItem&, int) {});
            std::string out;
            list.ForEach([&](const CItem& item) {
                const bool timed = item.m_tLastProbe >= before && item.m_tLastProbe <= std::time(nullptr);
                out += std::to_string(item.m_bResult) + ":" + ProbeFailureText(item.m_nLastFailure) +
                       (timed ? "" : " (no time)") + "\n";
            });
            return out;
        },
        &skipReason);
    if (!found)
        GTEST_SKIP() << skipReason;
    EXPECT_EQ(*found, "0:connection refused\n"
                      "0:host name not found\n"
                      "0:network unreachable\n"
                      "0:network unreachable\n"
                      "0:port out of range\n"
                      "1:\n");
}
