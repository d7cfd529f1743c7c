#include "RunProgram.h"

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace testsupport {

int RunProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int status = 0;
    if (argv[0] == nullptr || ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0 ||
        ::waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace testsupport
