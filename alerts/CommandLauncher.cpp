#include "CommandLauncher.h"

#include "DescriptorLimit.h"
#include "UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
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

// The command's standard input: the bytes in an anonymous file, read from its start. A pipe would
// hold back the command's start until it had read everything; this file needs no writer, and
// goes away with the command's last descriptor. Nothing (/dev/null) when there are no bytes or
// no such file can be had.
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

bool CShellCommandLauncher::Launch(const std::string& commandLine, const CommandInput& input) {
    // Everything the children need is prepared here: after fork only async-signal-safe calls.
    char* const argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(commandLine.c_str()),
                          nullptr};
    const std::vector<char*> envp = MergedEnvironment(input.environment);
    const UniqueFd inputFile = InputFile(input.standardInput);
    // The command gets the descriptor limit this program started with, not the raised one
    // its passes need: many programs size tables or close loops by it.
    const std::optional<rlimit> startingLimit = StartingDescriptorLimit();
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        return false;

    // Fork twice so that the shell is adopted by init: it is never waited for and never
    // lingers as a zombie of ours. The pipe reports whether exec succeeded.
    const pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0)
            _exit(grandchild < 0 ? 1 : 0);
        CloseOnExecAboveStandard();
        const int stdinSource = inputFile ? inputFile.Get() : open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (stdinSource > STDIN_FILENO)
            dup2(stdinSource, STDIN_FILENO); // the copy does not close on exec; the original does
        else if (stdinSource == STDIN_FILENO)
            fcntl(stdinSource, F_SETFD, 0);
        DropCapabilities();
        if (startingLimit)
            setrlimit(RLIMIT_NOFILE, &*startingLimit);
        // The command starts as from a terminal: nothing blocked, nothing ignored (the program
        // may ignore SIGPIPE for its sockets; a pipeline in the command must not inherit that).
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig = 1; sig < NSIG; ++sig)
            signal(sig, SIG_DFL);
        execve("/bin/sh", argv, envp.data());
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
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}
