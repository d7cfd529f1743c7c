#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>

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

// One sub-command: "pulsewick-cli NAME ARGS...". run gets the arguments after NAME.
struct Command {
    const char* name;
    const char* synopsis; // e.g. "show LIST [--json]"
    const char* summary;  // one line for --help
    int (*run)(const QStringList& args);
};

// Loads a list file as the window would: starting from a new list, a file that yields no
// list leaves the new list. On failure prints the window's messages on stderr, sets
// exitCode and returns null. With editLock, other editors stay locked out until the save.
std::unique_ptr<CItemList> LoadListOrReport(const QString& path, int& exitCode, CListFileLock* editLock = nullptr);

// Saves with the atomic save; on failure prints the message on stderr and returns the exit code.
// editLock: the lock taken by the load that began this edit.
int SaveListOrReport(const CItemList& list, const QString& path, const CListFileLock* editLock = nullptr);

// A named switch of a command ("--json") and where its presence is stored.
struct Switch {
    const char* name;
    bool* present;
};

// Reads "LIST [SWITCH...]" in any order: sets each switch given and returns the one list
// path, or nothing when a path is missing or repeated or an unknown option is given. "-"
// alone is a path, not an option.
std::optional<QString> ListAndSwitches(const QStringList& args, std::initializer_list<Switch> switches);

// Prints "pulsewick-cli: TEXT" on stderr.
void PrintError(const QString& text);
void PrintError(const std::string& text);

// Prints "pulsewick-cli: usage: pulsewick-cli SYNOPSIS" on stderr and returns kExitUsage.
int UsageError(const char* synopsis);

// Writes bytes to standard output unchanged.
void PrintOut(const std::string& bytes);

// How many columns UTF-8 text takes on a terminal: its characters, not its bytes.
std::size_t Columns(const std::string& text);

// Pads text with blanks to width columns; text that already fills the width gets one blank to
// part it from the next column.
std::string Padded(const std::string& text, std::size_t width);

// The list view's "Port" column: the port of a TCP entry, "ICMP" for an echo entry.
std::string PortColumnText(const CItem& item);

// Reads a whole decimal 32-bit integer ("-1", "+7", "42"); nothing else may surround it.
std::optional<std::int32_t> ParseInt32(const QString& text);

// The window's field messages for a bad number.
QString NotAnIntegerText();                                  // "Please enter an integer."
QString OutOfRangeText(std::int32_t low, std::int32_t high); // "... between %1 and %2."

// The SMTP port of the e-mail alert: 25, unless the environment variable PULSEWICK_SMTP_PORT
// names another (tests cannot count on binding port 25).
std::uint16_t SmtpPort();

// Converts between the core's byte strings and Qt strings (the locale's 8-bit encoding).
QString FromBytes(const std::string& bytes);
std::string ToBytes(const QString& text);

} // namespace cli
