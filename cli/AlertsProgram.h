#pragma once

// pulsewick-cli runs the commands that need no alert machinery itself and hands the others to
// the alerts program, which it replaces by exec: the process, its arguments, its signals and
// its exit status stay those of the command.
namespace cli {

// Replaces this process with the alerts program, given the whole argv. Returns only when it
// cannot be started, after saying why, with the exit status for that.
int RunAlertsProgram(char* argv[]);

} // namespace cli
