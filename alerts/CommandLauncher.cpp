#include "CommandLauncher.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

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

bool CShellCommandLauncher::Launch(const std::string& commandLine, const std::vector<std::string>& environment) {
    // Everything the children need is prepared here: after fork only async-signal-safe calls.
    char* const argv[] = {const_cast<char*>("/bin/sh"), const_cast<char*>("-c"), const_cast<char*>(commandLine.c_str()),
                          nullptr};
    const std::vector<char*> envp = MergedEnvironment(environment);
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
        const int devNull = open("/dev/null", O_RDONLY);
        if (devNull >= 0)
            dup2(devNull, STDIN_FILENO);
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
