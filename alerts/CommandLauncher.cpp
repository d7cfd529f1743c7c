#include "CommandLauncher.h"

#include "DescriptorLimit.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/capability.h>
#include <optional>
#include <string_view>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kFirstInheritable = STDERR_FILENO + 1;

// Leaves the command only the standard descriptors: every other one (a probe's socket, a file
// some library opened without O_CLOEXEC) closes when the shell starts. Closing on exec rather
// than now keeps the pipe that reports a failed exec. Async-signal-safe.
void CloseOnExecAboveStandard() {
    if (::close_range(kFirstInheritable, ~0U, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    // A kernel before 5.11: every descriptor the limit allows.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    for (rlim_t fd = kFirstInheritable; fd < limit.rlim_cur; ++fd)
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
}

// Closes every descriptor but keep. Async-signal-safe.
void CloseAllBut(int keep) {
    if ((keep == 0 || ::close_range(0, keep - 1, 0) == 0) && ::close_range(keep + 1, ~0U, 0) == 0)
        return;
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    for (rlim_t fd = 0; fd < limit.rlim_cur; ++fd) {
        if (static_cast<int>(fd) != keep)
            ::close(static_cast<int>(fd));
    }
}

// Nothing blocked, nothing ignored, nothing caught (the program may ignore SIGPIPE for its
// sockets; a pipeline in the command must not inherit that). Async-signal-safe.
void DefaultSignals() {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig)
        signal(sig, SIG_DFL);
}

// The command's standard input: the bytes in an anonymous file, read from its start. A pipe would
// hold back the command's start until it had read everything; this file needs no writer, and
// goes away with the command's last descriptor. Nothing when there are no bytes or no such file
// can be had: its writes count against the file-size limit.
UniqueFd InputFile(const std::string& bytes) {
    if (bytes.empty())
        return {};
    UniqueFd file(::memfd_create("pulsewick-command-input", MFD_CLOEXEC));
    if (!file || WriteAll(file.Get(), bytes.data(), bytes.size()) != 0 || ::lseek(file.Get(), 0, SEEK_SET) != 0)
        return {};
    return file;
}

// The monitor may hold CAP_NET_RAW as an ambient capability (its service unit grants it for
// ICMP); a command of the list must not open raw sockets with it. Clears the ambient and
// inheritable sets, so the shell starts with no capability (unless this program runs as root,
// whose commands get root's). Async-signal-safe.
void DropCapabilities() {
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    ::syscall(SYS_capset, &header, none);
}

// Writes the command's standard input into the pipe and ends, when the command has read it all
// or is gone (SIGPIPE). It keeps no other descriptor of the program (a listening socket, a lock)
// and lives no longer than the command's standard input. Async-signal-safe.
[[noreturn]] void FeedAndExit(int pipe, const std::string& bytes) {
    CloseAllBut(pipe);
    DefaultSignals();
    _exit(WriteAll(pipe, bytes.data(), bytes.size()) == 0 ? 0 : 1);
}

constexpr int kStartedWithoutInput = 3; // the middle child's exit status when the feeder could not start

constexpr const char* kShell = "/bin/sh";

// The program's environment without the variables that extra sets, then extra.
std::vector<char*> MergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<char*> merged;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view variable(*entry);
        const std::string_view name = variable.substr(0, variable.find('='));
        const bool replaced = std::any_of(extra.begin(), extra.end(), [name](const std::string& added) {
            return std::string_view(added).substr(0, added.find('=')) == name;
        });
        if (!replaced)
            merged.push_back(*entry);
    }
    for (const std::string& added : extra)
        merged.push_back(const_cast<char*>(added.c_str()));
    merged.push_back(nullptr);
    return merged;
}

} // namespace

std::size_t EnvironmentRoom(const std::string& commandLine, const CommandInput& input) {
    constexpr std::size_t kLeast = 32 * 4096;      // ARG_MAX: what even a small stack gets
    constexpr std::size_t kMost = 6 * 1024 * 1024; // three quarters of the default stack limit
    std::size_t budget = kLeast;
    if (rlimit stack{}; ::getrlimit(RLIMIT_STACK, &stack) == 0)
        budget = std::clamp<std::size_t>(stack.rlim_cur / 4, kLeast, kMost); // RLIM_INFINITY included
    const std::vector<char*> envp = MergedEnvironment(input.environment);
    // The file name, then "sh -c commandLine"; a pointer for each argument and variable, and one
    // to spare for the variable the caller is sizing; and room for what a shell adds when it
    // starts the command's own programs (PWD, SHLVL, _).
    constexpr std::size_t kShellAdds = 4096;
    std::size_t used =
        2 * (std::strlen(kShell) + 1) + 3 + commandLine.size() + 1 + (3 + envp.size()) * sizeof(char*) + kShellAdds;
    for (const char* variable : envp)
        used += variable ? std::strlen(variable) + 1 : 0;
    return used < budget ? budget - used : 0;
}

CShellCommandLauncher::Started CShellCommandLauncher::Start(const std::string& commandLine, const CommandInput& input) {
    // Everything the children need is prepared here: after fork only async-signal-safe calls.
    char* const argv[] = {const_cast<char*>(kShell), const_cast<char*>("-c"), const_cast<char*>(commandLine.c_str()),
                          nullptr};
    const std::vector<char*> envp = MergedEnvironment(input.environment);
    // The command gets the descriptor limit this program started with, not the raised one
    // its passes need: many programs size tables or close loops by it.
    const std::optional<rlimit> startingLimit = StartingDescriptorLimit();
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return Started::no;
    const UniqueFd inputFile = InputFile(input.standardInput);
    // Without the file (a file-size limit), a pipe that a child of its own feeds.
    UniqueFd feedRead;
    UniqueFd feedWrite;
    if (int feed[2]; !input.standardInput.empty() && !inputFile && pipe2(feed, O_CLOEXEC) == 0) {
        feedRead.Reset(feed[0]);
        feedWrite.Reset(feed[1]);
    }

    // Fork twice so that the shell is adopted by init: it is never waited for and never
    // lingers as a zombie of ours. The pipe reports whether exec succeeded.
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return Started::no;
    }
    if (child == 0) {
        setsid();
        // The feeder, like the shell, is adopted by init when this child ends.
        bool withoutInput = !input.standardInput.empty() && !inputFile && !feedRead;
        if (feedWrite) {
            const pid_t feeder = fork();
            if (feeder == 0)
                FeedAndExit(feedWrite.Get(), input.standardInput);
            withoutInput = feeder < 0;
        }
        const pid_t grandchild = fork();
        if (grandchild != 0)
            _exit(grandchild < 0 ? 1 : withoutInput ? kStartedWithoutInput : 0);
        CloseOnExecAboveStandard();
        const int stdinSource = inputFile                   ? inputFile.Get()
                                : feedRead && !withoutInput ? feedRead.Get()
                                                            : open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (stdinSource > STDIN_FILENO)
            dup2(stdinSource, STDIN_FILENO); // the copy does not close on exec; the original does
        else if (stdinSource == STDIN_FILENO)
            fcntl(stdinSource, F_SETFD, 0);
        DropCapabilities();
        if (startingLimit)
            setrlimit(RLIMIT_NOFILE, &*startingLimit);
        DefaultSignals(); // the command starts as from a terminal
        execve(kShell, argv, envp.data());
        const int err = errno;
        (void)!write(pipeFds[1], &err, sizeof err);
        _exit(127);
    }

    close(pipeFds[1]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int execError = 0;
    ssize_t n;
    while ((n = read(pipeFds[0], &execError, sizeof execError)) < 0 && errno == EINTR) {
    }
    close(pipeFds[0]);
    if (!WIFEXITED(status) || n != 0)
        return Started::no;
    switch (WEXITSTATUS(status)) {
    case 0:
        return Started::yes;
    case kStartedWithoutInput:
        return Started::withoutInput;
    default:
        return Started::no;
    }
}
