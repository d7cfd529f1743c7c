#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class CItem;
class CItemList;
class CListFileLock;

namespace cli {

// Exit statuses of pulsewick-cli.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,    // the command ran and found a failure (a host that did not answer, ...)
    kExitUsage = 2,     // bad command line
    kExitFileError = 3, // a file could not be opened, read or written
    kExitCorrupt = 4,   // a list file that is not a valid list
};

// A command's arguments, the bytes of argv as given: a path or an address in any encoding
// reaches the list file unchanged.
using Args = std::vector<std::string>;

// One sub-command: "pulsewick-cli NAME ARGS...". run gets the arguments after NAME; it is null
// for the commands the alerts program runs.
struct Command {
    const char* name;
    const char* synopsis; // e.g. "show LIST [--json]"
    const char* summary;  // one line for --help
    int (*run)(const Args& args);
};

// Loads a list file as the window would: starting from a new list, a file that yields no
// list leaves the new list. On failure prints the window's messages on stderr, sets
// exitCode and returns null. With editLock, other editors stay locked out until the save.
std::unique_ptr<CItemList> LoadListOrReport(const std::string& path, int& exitCode, CListFileLock* editLock = nullptr);

// Saves with the atomic save; on failure prints the message on stderr and returns the exit code.
// editLock: the lock taken by the load that began this edit.
int SaveListOrReport(const CItemList& list, const std::string& path, const CListFileLock* editLock = nullptr);

// A named switch of a command ("--json") and where its presence is stored.
struct Switch {
    const char* name;
    bool* present;
};

// A named option of a command that takes the next argument as its value ("--state-dir DIR").
struct ValueOption {
    const char* name;
    std::optional<std::string>* value;
};

// Reads "LIST [SWITCH...] [OPTION VALUE...]" in any order: sets each switch and value given and
// returns the one list path, or nothing when a path is missing or repeated, an unknown option
// is given, or an option is repeated or lacks its value. "-" alone is a path, not an option;
// "--" is refused.
std::optional<std::string> ListAndSwitches(const Args& args, std::initializer_list<Switch> switches,
                                           const std::vector<ValueOption>& values = {});

// The same with any number of plain arguments, in their order; nothing on the same faults.
std::optional<std::vector<std::string>> ArgumentsAndSwitches(const Args& args, std::initializer_list<Switch> switches,
                                                             const std::vector<ValueOption>& values = {});

// Takes every "NAME VALUE" pair out of args, for an option that may be given more than once; the
// values in their order, or nothing when NAME is the last argument.
std::optional<std::vector<std::string>> TakeRepeated(Args& args, const char* name);

// Prints "pulsewick-cli: TEXT" on stderr.
void PrintError(const std::string& text);

// Prints "pulsewick-cli: usage: pulsewick-cli SYNOPSIS" on stderr and returns kExitUsage.
int UsageError(const char* synopsis);

// Writes bytes to standard output unchanged.
void PrintOut(const std::string& bytes);

// The exit status of a command that ended with status once its output is written: a write to
// standard output that failed (a full disk, the file-size limit) is said on stderr and makes it
// kExitFileError, so that a script never takes a cut output for a whole one.
int FinishOutput(int status);

// How many columns UTF-8 text takes on a terminal: its characters, not its bytes.
std::size_t Columns(const std::string& text);

// Pads text with blanks to width columns; text that already fills the width gets one blank to
// part it from the next column.
std::string Padded(const std::string& text, std::size_t width);

// The list view's "Port" column: the port of a TCP entry, "ICMP" for an echo entry.
std::string PortColumnText(const CItem& item);

// Reads a whole decimal 32-bit integer ("-1", "+7", "42"); nothing else may surround it.
std::optional<std::int32_t> ParseInt32(const std::string& text);

// The window's field messages for a bad number.
std::string NotAnIntegerText();                                  // "Please enter an integer."
std::string OutOfRangeText(std::int32_t low, std::int32_t high); // "... between LOW and HIGH."

} // namespace cli
