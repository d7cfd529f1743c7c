#include "AlertEnvironment.h"
#include "CItemList.h"
#include "InChild.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
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

// However many entries fail, the command starts (one variable over 128 KiB, or an environment
// over the exec budget, would stop it) and learns each: the variable holds the first whole lines
// and counts the rest; standard input all, whatever the file-size limit, or the command is told.
TEST(AlertEnvironment, ALargeOutageStartsTheCommandWhichLearnsEveryEntry) {
    constexpr int kFailed = 100000;
    CItemList list;
    std::string all;
    for (int i = 0; i < kFailed; ++i) {
        AddEntry(list, "host-" + std::to_string(i) + ".example.invalid", 1, 443, 0, ProbeFailure::refused);
        all += "host-" + std::to_string(i) + ".example.invalid\t443\tconnection refused\n";
    }
    struct Case {
        const char* what;
        rlim_t fileSizeLimit; // soft, 0: as it is
        rlim_t stackLimit;    // soft, 0: as it is
        int fillerVariables;  // of 100 KiB each in the program's environment
        int spareDescriptors; // descriptors left free, -1: as it is
        std::size_t leastInVariable;
        const char* stdinMissing;
    };
    const Case cases[] = {
        {"as it is", 0, 0, 0, -1, 120 * 1024, "0"},
        {"under a file-size limit", 64 * 1024, 0, 0, -1, 120 * 1024, "0"},
        {"with little of the exec budget left", 0, 1024 * 1024, 2, -1, 1, "0"},
        {"with no descriptor to spare for the input", 64 * 1024, 0, 0, 3, 120 * 1024, "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        // The command lifts its own file-size limit (only the soft one is lowered) to keep what it read.
        const std::string command = "ulimit -f unlimited; cd '" + dir.path().string() +
                                    "' && printf %s \"$PULSEWICK_FAILED\" > variable && cat > input && echo "
                                    "$PULSEWICK_FAILED_COUNT $PULSEWICK_FAILED_LEFT_OUT ${PULSEWICK_STDIN_MISSING:-0} > counts";
        const int launched = testsupport::InChild([&] {
            ::signal(SIGXFSZ, SIG_IGN); // as every program of the project does
            const rlim_t descriptors = c.spareDescriptors >= 0 ? 256 : 0; // few to use up
            for (const auto& [resource, soft] : {std::pair{RLIMIT_FSIZE, c.fileSizeLimit},
                                                 std::pair{RLIMIT_STACK, c.stackLimit},
                                                 std::pair{RLIMIT_NOFILE, descriptors}}) {
                rlimit limit{};
                ::getrlimit(resource, &limit);
                limit.rlim_cur = soft ? soft : limit.rlim_cur;
                ::setrlimit(resource, &limit);
            }
            for (int i = 0; i < c.fillerVariables; ++i)
                ::setenv(("FILLER" + std::to_string(i)).c_str(), std::string(100 * 1024, 'f').c_str(), 1);
            const CommandInput input = alertenv::ForCommand({alertenv::kEventFailed, "", {}}, list, command);
            std::vector<int> taken;
            for (int fd; c.spareDescriptors >= 0 && (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
                taken.push_back(fd);
            for (int i = 0; i < c.spareDescriptors; ++i)
                ::close(taken[taken.size() - 1 - i]);
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
        EXPECT_EQ(text("input"), c.stdinMissing == std::string("1") ? "" : all);
        EXPECT_TRUE(variable.size() >= c.leastInVariable && all.compare(0, variable.size(), variable) == 0 &&
                    variable.back() == '\n')
            << variable.size();
        const auto kept = std::count(variable.begin(), variable.end(), '\n');
        EXPECT_EQ(text("counts"),
                  std::to_string(kFailed) + " " + std::to_string(kFailed - kept) + " " + c.stdinMissing + "\n");
    }
}

} // namespace
