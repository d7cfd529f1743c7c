#include "RunProgram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

extern char** environ;

namespace testsupport {

namespace {

std::string ReadText(const std::filesystem::path& path) {
    const auto bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Spawns argv and waits for it: its exit status, 128 + the signal that ended it, or -1.
int SpawnAndWait(std::vector<std::string>& argv, const posix_spawn_file_actions_t* actions, char* const* environment) {
    std::vector<char*> args;
    for (auto& arg : argv)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    int status = 0;
    if (args[0] == nullptr || ::posix_spawn(&pid, args[0], actions, nullptr, args.data(), environment) != 0 ||
        ::waitpid(pid, &status, 0) < 0)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

ProgramRun RunProgram(const TempDir& dir, std::vector<std::string> argv,
                      const std::vector<std::pair<std::string, std::string>>& env) {
    std::vector<std::string> variables;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const auto replaced = [&](const auto& added) { return entry.rfind(added.first + "=", 0) == 0; };
        if (std::none_of(env.begin(), env.end(), replaced))
            variables.push_back(entry);
    }
    for (const auto& [name, value] : env)
        variables.push_back(name + "=" + value);
    std::vector<char*> environment;
    for (auto& variable : variables)
        environment.push_back(variable.data());
    environment.push_back(nullptr);

    const std::string out = dir.file("stdout.txt").string(), err = dir.file("stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ProgramRun run;
    run.status = SpawnAndWait(argv, &actions, environment.data());
    if (run.status != -1) {
        run.out = ReadText(out);
        run.err = ReadText(err);
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

int RunProgram(std::vector<std::string> args) {
    return SpawnAndWait(args, nullptr, environ);
}

} // namespace testsupport
