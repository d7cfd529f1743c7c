#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <utility>
#include <vector>

class CItem;
class CItemList;

namespace cli {

// What the monitor exposes to Prometheus: the last result of each entry, the passes so far and
// the alerts raised. Kept apart from the list so a scrape never reads an entry that the check
// run's worker may be writing; everything here is touched on the main thread only.
class MonitorMetrics {
public:
    // The label set of every entry is rendered once per list, not once per scrape.
    void SetEntries(const CItemList& list);
    // A row's result as the check run delivered it (roundTripUs < 0: no answer).
    void SetResult(std::size_t row, int result, std::int64_t roundTripUs);
    void PassFinished(bool failed, double durationSeconds, std::time_t endedAt);
    // The time between passes as the schedule really waits it, and when the monitor started: the
    // alert rules tell a stuck monitor from one that is still on its first pass by them.
    void SetPeriodSeconds(double seconds) { m_periodSeconds = seconds; }
    void SetStartTime(std::time_t startedAt) { m_startTime = startedAt; }
    void AlertRaised(const std::string& kind, const std::string& outcome);

    // The text exposition format, version 0.0.4.
    std::string Text() const;

    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    // A label value with backslash, double quote and line feed escaped as the format requires,
    // and each byte that is not part of valid UTF-8 replaced by U+FFFD.
    static std::string EscapeLabelValue(const std::string& value);

private:
    struct Entry {
        std::string labels; // {row="1",address="...",kind="icmp",port="80"}
        bool probed = false;
        int result = 0;
        std::int64_t roundTripUs = -1;
    };

    std::vector<Entry> m_entries;
    std::uint64_t m_passes = 0;
    std::uint64_t m_failedPasses = 0;
    double m_lastDurationSeconds = 0;
    std::time_t m_lastPassEnd = 0;
    double m_periodSeconds = 0;
    std::time_t m_startTime = 0;
    std::map<std::pair<std::string, std::string>, std::uint64_t> m_alerts; // (kind, outcome) -> count
};

} // namespace cli
