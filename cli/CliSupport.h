#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

class CItemList;

namespace cli {

// Exit statuses of pulsewick-cli.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,    // the command ran and found a failure (a host that did not answer, ...)
    kExitUsage = 2,     // bad command line
    kExitFileError = 3, // a file could not be opened, read or written
    kExitCorrupt = 4,   // a list file that is not a valid list
};

// One sub-command: "pulsewick-cli NAME ARGS...". run gets the arguments after NAME.
struct Command {
    const char* name;
    const char* synopsis; // e.g. "show LIST [--json]"
    const char* summary;  // one line for --help
    int (*run)(const QStringList& args);
};

// Loads a list file as the window would: starting from a new list, a file that yields no
// list leaves the new list. On failure prints the window's messages on stderr, sets
// exitCode and returns null.
std::unique_ptr<CItemList> LoadListOrReport(const QString& path, int& exitCode);

// Saves with the atomic save; on failure prints the message on stderr and returns the exit code.
int SaveListOrReport(const CItemList& list, const QString& path);

// Prints "pulsewick-cli: TEXT" on stderr.
void PrintError(const QString& text);

// Converts between the core's byte strings and Qt strings (the locale's 8-bit encoding).
QString FromBytes(const std::string& bytes);
std::string ToBytes(const QString& text);

} // namespace cli
