#include "AlertEnvironment.h"
#include "CItemList.h"
#include "InChild.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <sys/resource.h>
#include <thread>

namespace {

void AddEntry(CItemList& list, const std::string& address, int connect, int port, int result, ProbeFailure failure,
              bool probed = true) {
    auto item = std::make_unique<CItem>();
    item->m_strAddress = address;
    item->m_bConnect = connect;
    item->m_nPort = port;
    item->m_bResult = result;
    item->m_nLastFailure = failure;
    item->m_tLastProbe = probed ? 1000 : -1;
    list.AddTail(std::move(item));
}

TEST(AlertEnvironment, NamesEveryFailedEntryWithItsReason) {
    // This executable's only test that minds the time zone.
    ::setenv("TZ", "<+0530>-5:30", 1);
    ::tzset();
    CItemList list;
    AddEntry(list, "192.0.2.7", 0, 80, 0, ProbeFailure::timedOut);
    AddEntry(list, "fine.example", 1, 22, 1, ProbeFailure::unknown);
    AddEntry(list, "db.example", 1, 5432, 0, ProbeFailure::refused);
    // A tab or line break pasted into an address must not make a line or column of its own.
    AddEntry(list, "odd\thost\nname", 1, 443, 0, ProbeFailure::unknown, false);
    const auto when = std::chrono::system_clock::from_time_t(1796652603); // 2026-12-07 14:10:03 UTC

    const std::vector<std::string> env =
        alertenv::ForCommand({alertenv::kEventFailed, "/etc/pulsewick/office.pwk", when}, list).environment;
    EXPECT_EQ(env, (std::vector<std::string>{
                       "PULSEWICK_EVENT=failed",
                       "PULSEWICK_LIST=/etc/pulsewick/office.pwk",
                       "PULSEWICK_FAILED_COUNT=3",
                       "PULSEWICK_FAILED=192.0.2.7\tICMP\tno answer within the time limit\n"
                       "db.example\t5432\tconnection refused\n"
                       "odd host name\t443\t\n",
                       "PULSEWICK_FAILED_LEFT_OUT=0",
                       "PULSEWICK_PASS_TIME=2026-12-07T19:40:03+05:30",
                   }));

    // Nothing failed (as after a recovery) and an untitled list: the variables are there, empty.
    CItemList fine;
    AddEntry(fine, "192.0.2.7", 0, 80, 1, ProbeFailure::unknown);
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    EXPECT_EQ(alertenv::ForCommand({alertenv::kEventRecovered, "", when}, fine).environment,
              (std::vector<std::string>{"PULSEWICK_EVENT=recovered", "PULSEWICK_LIST=", "PULSEWICK_FAILED_COUNT=0",
                                        "PULSEWICK_FAILED=", "PULSEWICK_FAILED_LEFT_OUT=0",
                                        "PULSEWICK_PASS_TIME=2026-12-07T14:10:03+00:00"}));
}

// However many entries fail, whatever the file-size limit and exec budget, the command starts and
// learns each: the variable holds the first whole lines and counts the rest; standard input all.
TEST(AlertEnvironment, ALargeOutageStartsTheCommandWhichLearnsEveryEntry) {
    constexpr int kFailed = 100000;
    CItemList list;
    std::string all;
    for (int i = 0; i < kFailed; ++i) {
        AddEntry(list, "host-" + std::to_string(i) + ".example.invalid", 1, 443, 0, ProbeFailure::refused);
        all += "host-" + std::to_string(i) + ".example.invalid\t443\tconnection refused\n";
    }
    // Soft limits of file size and stack (0: as they are; a 512 KiB stack leaves the environment
    // 128 KiB in all); the command lifts the first to keep what it read.
    for (const auto& c : {std::pair<rlim_t, rlim_t>{0, 0}, {64 * 1024, 0}, {0, 512 * 1024}}) {
        SCOPED_TRACE(c.first + c.second);
        testsupport::TempDir dir;
        const std::string command = "ulimit -f unlimited; cd '" + dir.path().string() +
                                    "' && printf %s \"$PULSEWICK_FAILED\" > variable && cat > input && " +
                                    "echo $PULSEWICK_FAILED_COUNT $PULSEWICK_FAILED_LEFT_OUT > counts";
        const int launched = testsupport::InChild([&] {
            ::signal(SIGXFSZ, SIG_IGN); // as every program of the project does
            for (const auto& [resource, soft] : {std::pair{RLIMIT_FSIZE, c.first}, {RLIMIT_STACK, c.second}}) {
                rlimit limit{};
                ::getrlimit(resource, &limit);
                limit.rlim_cur = soft ? soft : limit.rlim_cur;
                ::setrlimit(resource, &limit);
            }
            const CommandInput input = alertenv::ForCommand({alertenv::kEventFailed, "", {}}, list, command);
            return CShellCommandLauncher().Launch(command, input) ? 0 : 1;
        });
        ASSERT_EQ(launched, 0);
        const auto text = [&dir](const char* name) {
            std::ifstream in(dir.file(name), std::ios::binary);
            return std::string(std::istreambuf_iterator<char>(in), {});
        };
        for (int waited = 0; waited < 3000 && text("counts").empty(); ++waited) // written last
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const std::string variable = text("variable");
        EXPECT_EQ(text("input"), all);
        EXPECT_TRUE(variable.size() >= (c.second ? 1 : 120 * 1024) && all.compare(0, variable.size(), variable) == 0 &&
                    variable.back() == '\n');
        const auto kept = std::count(variable.begin(), variable.end(), '\n');
        EXPECT_EQ(text("counts"), std::to_string(kFailed) + " " + std::to_string(kFailed - kept) + "\n");
    }
}

} // namespace
