#pragma once

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Runs body in a child process and returns its exit status (or 128 + signal). A child still
// running after seconds is ended by SIGALRM, so a call that hangs fails the test instead of
// holding it up.
template <typename Body>
int InChild(Body&& body, unsigned seconds = 60) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(seconds);
        int code = 99;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace testsupport
