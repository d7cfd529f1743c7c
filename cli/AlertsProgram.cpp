#include "AlertsProgram.h"

#include "CliSupport.h"
#include "ProgramDir.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace cli {

namespace {

// Beside this program in a build tree, else where the installation puts it, seen from this
// program's folder (so a package and a build installed under any prefix both find it). Empty
// when this program cannot find itself (no /proc): never a path relative to the current
// directory, where any program of that name may lie.
std::string AlertsProgramPath() {
    const std::string dir = ProgramDir();
    if (dir.empty())
        return {};
    const std::string beside = dir + PULSEWICK_CLI_ALERTS_NAME;
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return dir + PULSEWICK_CLI_ALERTS_FROM_BIN + "/" + PULSEWICK_CLI_ALERTS_NAME;
}

} // namespace

int RunAlertsProgram(char* argv[]) {
    const std::string path = AlertsProgramPath();
    if (path.empty()) {
        PrintError(std::string("cannot start ") + PULSEWICK_CLI_ALERTS_NAME +
                   ": this program cannot find its own folder (is /proc mounted?)");
        return kExitFileError;
    }
    ::execv(path.c_str(), argv);
    PrintError("cannot start " + path + ": " + std::strerror(errno));
    return kExitFileError;
}

} // namespace cli
