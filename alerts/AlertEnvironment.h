#pragma once

#include <chrono>
#include <string>
#include <vector>

class CItemList;

// What the execute alert's command learns about the event that raised it, as environment
// variables, so that one script can feed a chat, a ticket or a log:
//   PULSEWICK_EVENT         "failed" (or "recovered" once an outage is over)
//   PULSEWICK_LIST          the list file's path; empty for an untitled list
//   PULSEWICK_FAILED_COUNT  how many entries failed in the pass
//   PULSEWICK_FAILED        one line per failed entry: address TAB port-or-ICMP TAB reason
//   PULSEWICK_PASS_TIME     when the pass ended, ISO 8601 local time with its offset
namespace alertenv {

inline constexpr const char* kEvent = "PULSEWICK_EVENT";
inline constexpr const char* kList = "PULSEWICK_LIST";
inline constexpr const char* kFailedCount = "PULSEWICK_FAILED_COUNT";
inline constexpr const char* kFailed = "PULSEWICK_FAILED";
inline constexpr const char* kPassTime = "PULSEWICK_PASS_TIME";

inline constexpr const char* kEventFailed = "failed";
inline constexpr const char* kEventRecovered = "recovered";

struct Event {
    const char* kind = kEventFailed;
    std::string listPath;
    std::chrono::system_clock::time_point passTime;
};

// "NAME=value" for each variable above; the failed entries are those of list whose last probe
// failed, in list order.
std::vector<std::string> Environment(const Event& event, const CItemList& list);

// t as "2026-12-07T15:20:03+01:00" in the local time zone.
std::string Iso8601(std::chrono::system_clock::time_point t);

} // namespace alertenv
