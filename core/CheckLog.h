#pragma once

#include <ctime>
#include <string>

class CItem;

// Appends one line for one probe result to the check log at path:
//   M/D/YY H:MM:SS, RESULT, "ADDRESS", KIND, PORT<CR><LF>
// The file is opened for appending for every line (created when missing, never truncated) and
// the line goes out in one write, so a stopped worker never leaves half a line. Failures are
// silent: the line is lost and nothing else changes; a write that stops part-way (a full disk)
// is undone, so the next line does not start in the middle of this one.
void AppendCheckLog(const std::string& path, const CItem& item, int result);

// The line for a result at local time `when` (null: the time could not be had; empty stamp).
std::string FormatCheckLogLine(const std::tm* when, const CItem& item, int result);
