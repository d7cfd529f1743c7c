#pragma once

#include <string>

namespace cli {

// The folder of the running program with a trailing '/', where the programs and modules it
// starts or loads lie in a build tree and in an installation; empty when it cannot be read.
std::string ProgramDir();

// Why, when ProgramDir is empty, nothing is started or loaded from there.
inline constexpr const char* kNoProgramDir = "this program cannot find its own folder (is /proc mounted?)";

} // namespace cli
