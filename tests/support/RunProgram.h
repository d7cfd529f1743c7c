#pragma once

#include <string>
#include <vector>

namespace testsupport {

// Runs the program args[0] with the arguments after it, its output going to the test's own, and
// waits for it to end. Returns its exit status, 128 + the signal that ended it, or -1 when it
// could not be started.
int RunProgram(std::vector<std::string> args);

} // namespace testsupport
