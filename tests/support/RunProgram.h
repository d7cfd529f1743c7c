#pragma once

#include "TempDir.h"

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ProgramRun {
    int status = -1; // exit status, 128 + signal when killed, -1 when it could not start
    std::string out;
    std::string err;
};

// Runs argv (argv[0] is the program's path) to its end with env added to this process's
// environment; its output goes through files in dir, so nothing can block. Spawned with
// posix_spawn, which the sanitizers follow (QProcess's vfork-like clone confuses ThreadSanitizer).
ProgramRun RunProgram(const TempDir& dir, std::vector<std::string> argv,
                      const std::vector<std::pair<std::string, std::string>>& env = {});

// Runs the program args[0] with the arguments after it, its output going to the test's own, and
// waits for it to end. Returns its exit status, 128 + the signal that ended it, or -1 when it
// could not be started.
int RunProgram(std::vector<std::string> args);

} // namespace testsupport
