#pragma once

#include "CommandLauncher.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

class CItemList;
struct PassHolds;

// What the execute alert's command learns about the event that raised it, as environment
// variables, so that one script can feed a chat, a ticket or a log:
//   PULSEWICK_EVENT            "failed" (or "recovered" once an outage is over)
//   PULSEWICK_LIST             the list file's path; empty for an untitled list
//   PULSEWICK_FAILED_COUNT     how many entries failed in the pass
//   PULSEWICK_FAILED           one line per failed entry: address TAB port-or-ICMP TAB reason;
//                              the first lines only, as many as the kernel passes to the command
//                              (in one variable, and with the rest of the environment)
//   PULSEWICK_FAILED_LEFT_OUT  how many failed entries PULSEWICK_FAILED leaves out; 0 as a rule
//   PULSEWICK_PASS_TIME        when the pass ended, ISO 8601 local time with its offset
//   PULSEWICK_BEHIND           only when some failed behind a parent: one line per failed entry
//                              with entries behind it: address TAB port-or-ICMP TAB how many
// and on its standard input every line of PULSEWICK_FAILED, none left out: a large outage
// must neither keep the command from starting nor hide an entry from it.
namespace alertenv {

inline constexpr const char* kEvent = "PULSEWICK_EVENT";
inline constexpr const char* kList = "PULSEWICK_LIST";
inline constexpr const char* kFailedCount = "PULSEWICK_FAILED_COUNT";
inline constexpr const char* kFailed = "PULSEWICK_FAILED";
inline constexpr const char* kFailedLeftOut = "PULSEWICK_FAILED_LEFT_OUT";
inline constexpr const char* kPassTime = "PULSEWICK_PASS_TIME";
inline constexpr const char* kBehind = "PULSEWICK_BEHIND";

inline constexpr const char* kEventFailed = "failed";
inline constexpr const char* kEventRecovered = "recovered";

// The longest "NAME=value" string the kernel passes to a program, its zero byte included
// (MAX_ARG_STRLEN); with a longer one the command would not start at all (E2BIG).
inline constexpr std::size_t kMaxVariableBytes = 32 * 4096;

struct Event {
    const char* kind = kEventFailed;
    std::string listPath;
    std::chrono::system_clock::time_point passTime;
};

// "NAME=value" for each variable above and the lines for the standard input, for commandLine;
// the failed entries are those of list whose last probe failed, in list order, less those that
// holds holds.
CommandInput ForCommand(const Event& event, const CItemList& list, const std::string& commandLine = {},
                        const PassHolds* holds = nullptr);

// t as "2026-12-07T15:20:03+01:00" in the local time zone.
std::string Iso8601(std::chrono::system_clock::time_point t);

} // namespace alertenv
