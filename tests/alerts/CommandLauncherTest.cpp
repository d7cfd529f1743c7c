#include "CommandLauncher.h"
#include "DescriptorLimit.h"
#include "InChild.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool WaitForFile(const fs::path& path, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!fs::exists(path)) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::string ReadText(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Quotes a path for the shell.
std::string Quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

TEST(CommandLauncherTest, RunsTheTextThroughTheShellWithoutWaiting) {
    testsupport::TempDir dir;
    const fs::path started = dir.file("started");
    const fs::path finished = dir.file("finished");
    CShellCommandLauncher launcher;

    // Shell syntax (a list, a redirection, a variable) is the shell's to interpret.
    const std::string command = "echo \"$HOME\" > " + Quoted(started) + "; sleep 3; touch " + Quoted(finished);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(launcher.Launch(command));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s) << "the command must not be waited for";
    EXPECT_FALSE(fs::exists(finished));

    ASSERT_TRUE(WaitForFile(started, 20s));
    ASSERT_TRUE(WaitForFile(finished, 30s)) << "the command runs on after Launch has returned";
    EXPECT_EQ(ReadText(started), std::string(getenv("HOME") ? getenv("HOME") : "") + "\n");
}

TEST(CommandLauncherTest, LeavesNoChildToReap) {
    testsupport::TempDir dir;
    CShellCommandLauncher launcher;
    ASSERT_TRUE(launcher.Launch("touch " + Quoted(dir.file("done"))));
    ASSERT_TRUE(WaitForFile(dir.file("done"), 20s));
    // The shell belongs to init, not to us: no zombie is left behind for the window to reap.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(CommandLauncherTest, AFailingCommandStillCountsAsStarted) {
    CShellCommandLauncher launcher;
    EXPECT_TRUE(launcher.Launch("exit 3"));
    EXPECT_TRUE(launcher.Launch("no-such-command-of-pulsewick 2>/dev/null"));
}

TEST(CommandLauncherTest, CommandDoesNotInheritIgnoredSignals) {
    testsupport::TempDir dir;
    CShellCommandLauncher launcher;
    const auto previous = signal(SIGPIPE, SIG_IGN);
    const bool started = launcher.Launch("grep SigIgn /proc/$$/status > " + Quoted(dir.file("part")) + " && mv " +
                                         Quoted(dir.file("part")) + " " + Quoted(dir.file("status")));
    signal(SIGPIPE, previous);
    ASSERT_TRUE(started);
    ASSERT_TRUE(WaitForFile(dir.file("status"), 20s));
    const std::string line = ReadText(dir.file("status")); // "SigIgn:\t<hex mask>"
    const auto mask = std::stoull(line.substr(line.find('\t') + 1), nullptr, 16);
    EXPECT_EQ(mask & (1ULL << (SIGPIPE - 1)), 0u) << line;
}

TEST(CommandLauncherTest, CommandGetsTheStartingDescriptorLimitAndOnlyTheStandardDescriptors) {
    testsupport::TempDir dir;
    constexpr rlim_t kStartingLimit = 512;
    // The shell records its limit and process id, then becomes a sleep that keeps its descriptors.
    const std::string command = "ulimit -n > " + Quoted(dir.file("limit")) + "; echo $$ > " + Quoted(dir.file("part")) +
                                " && mv " + Quoted(dir.file("part")) + " " + Quoted(dir.file("pid")) +
                                "; exec sleep 60";
    // In a child, where the limit can start low and be raised once, as a pass raises it.
    const int launched = testsupport::InChild([&] {
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_max <= kStartingLimit)
            return 2;
        limit.rlim_cur = kStartingLimit;
        ::setrlimit(RLIMIT_NOFILE, &limit);
        RaiseDescriptorLimit();
        [[maybe_unused]] const int leaked = ::open("/dev/null", O_RDONLY); // no O_CLOEXEC, as some libraries do
        return CShellCommandLauncher().Launch(command) ? 0 : 1;
    });
    if (launched == 2)
        GTEST_SKIP() << "the hard descriptor limit leaves no room to raise";
    ASSERT_EQ(launched, 0);
    ASSERT_TRUE(WaitForFile(dir.file("pid"), 20s));
    const pid_t shell = std::stoi(ReadText(dir.file("pid")));
    std::set<std::string> descriptors;
    // Read again while the loader of sleep still holds a library open for a moment.
    for (int tries = 0; tries < 100 && (tries == 0 || descriptors.size() > 3); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(tries == 0 ? 0 : 10));
        descriptors.clear();
        for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(shell) + "/fd"))
            descriptors.insert(entry.path().filename().string());
    }
    ::kill(shell, SIGTERM);
    EXPECT_EQ(descriptors, (std::set<std::string>{"0", "1", "2"}));
    EXPECT_EQ(ReadText(dir.file("limit")), std::to_string(kStartingLimit) + "\n");
}

} // namespace

// The alert's variables join the program's environment; one of the same name is replaced.
TEST(CommandLauncherEnvironment, AddsAndReplacesVariables) {
    testsupport::TempDir dir;
    const fs::path seen = dir.file("seen");
    CShellCommandLauncher launcher;
    ASSERT_TRUE(launcher.Launch("printf '%s|%s|%s' \"$PULSEWICK_EVENT\" \"$HOME\" \"${PATH:+path}\" > " +
                                    Quoted(dir.file("part")) + " && mv " + Quoted(dir.file("part")) + " " +
                                    Quoted(seen),
                                {{"PULSEWICK_EVENT=failed", "HOME=/replaced home"}, {}}));
    ASSERT_TRUE(WaitForFile(seen, 20s));
    EXPECT_EQ(ReadText(seen), "failed|/replaced home|path");
}
