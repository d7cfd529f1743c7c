#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class CItem;
class CItemList;
struct ProbeOutcome;

namespace cli {

// What the monitor exposes to Prometheus: the last result of each entry, the passes so far and
// the alerts raised. Kept apart from the list so a scrape never reads an entry that the check
// run's worker may be writing; everything here is touched on the main thread only.
//
// A scrape takes a snapshot of the figures and renders its text from that (MetricsExposition), as
// slowly as its client reads. A snapshot costs nothing while the figures stay as they are; the
// first change after it copies them, so the snapshot stays what it was.
class MonitorMetrics {
public:
    // Upper bounds of the round-trip histogram's buckets: 10 us to 10 s, each sqrt(10) times the last.
    static constexpr std::size_t kBuckets = 13;
    // The bounds as "le" prints them, in seconds; a round trip counts under the bound as printed.
    static constexpr const char* kBucketBounds[kBuckets] = {"1e-05",   "3.16e-05", "0.0001", "0.000316", "0.001",
                                                            "0.00316", "0.01",     "0.0316", "0.1",      "0.316",
                                                            "1",       "3.16",     "10"};

    // The figures of one moment. To add a series: a field here, a setter below, a family in
    // MetricsExposition.cpp.
    struct Figures {
        // An entry's last result.
        struct Entry {
            bool probed = false;
            bool answered = false;
            std::int64_t roundTripUs = -1; // < 0: no answer
        };
        // An entry's attempts since the list was loaded (none: not observed yet); the loss and
        // jitter of its last probe.
        struct Link {
            std::uint64_t attempts = 0;
            // Answers within each bound, not cumulative. 32 bits hold 80 years of 100 echoes a
            // minute, and keep a snapshot of a long list a third smaller.
            std::array<std::uint32_t, kBuckets> buckets{};
            std::uint64_t answers = 0;
            double roundTripSum = 0; // seconds
            double lossRatio = 0;
            std::int64_t jitterUs = -1;
        };

        // Each entry's label set, {row="1",address="...",kind="icmp",port="80"}: rendered once per
        // list and shared by every snapshot of it.
        std::shared_ptr<const std::vector<std::string>> labels = std::make_shared<std::vector<std::string>>();
        std::vector<Entry> entries;
        // Whether the passes measure the link (several attempts, or a degraded threshold).
        bool measuresLink = false;
        std::vector<Link> links; // by row, from the first attempts observed
        std::uint64_t passes = 0;
        std::uint64_t failedPasses = 0;
        double lastDurationSeconds = 0;
        std::time_t lastPassEnd = 0;
        double periodSeconds = 0;
        std::time_t startTime = 0;
        std::map<std::pair<std::string, std::string>, std::uint64_t> alerts; // (kind, outcome) -> count
        // What held a row's alerts in the last pass: a mute until then (0: none), its parent down.
        struct Hold {
            std::int64_t mutedUntil = 0;
            bool unreachable = false;
        };
        // Each row's parent, escaped (empty: behind none); null while no entry is behind one.
        std::shared_ptr<const std::vector<std::string>> parents;
        std::vector<Hold> holds; // by row; empty while nothing was ever held
        std::size_t mutedRows = 0;
        std::string uplink; // escaped; empty without one
        std::optional<bool> uplinkAnswered;
        // The length of the text, once rendered; these figures never change while it is set.
        mutable std::optional<std::size_t> textSize;

        // What a snapshot holds of its own (the labels are shared).
        std::size_t Bytes() const;
    };
    using Snapshot = std::shared_ptr<const Figures>;

    MonitorMetrics();

    // The label set of every entry is rendered once per list, not once per scrape.
    void SetEntries(const CItemList& list);
    // A row's result as the check run delivered it (roundTripUs < 0: no answer).
    void SetResult(std::size_t row, int result, std::int64_t roundTripUs);
    // Whether the passes measure the link (several attempts, or a degraded threshold): then the
    // loss, the jitter and the histogram of round trips are exposed beside the result.
    void SetMeasuresLink(bool on);
    // The attempts of a row's probe as it ended: its loss and jitter, each round trip observed.
    void ObserveAttempts(std::size_t row, const ProbeOutcome& outcome);
    void PassFinished(bool failed, double durationSeconds, std::time_t endedAt);
    // The time between passes as the schedule really waits it, and when the monitor started: the
    // alert rules tell a stuck monitor from one that is still on its first pass by them.
    void SetPeriodSeconds(double seconds);
    void SetStartTime(std::time_t startedAt);
    void AlertRaised(const std::string& kind, const std::string& outcome);
    // The entry at row is declared behind parent (its name): its unreachable state is exposed.
    void SetParent(std::size_t row, const std::string& parent);
    // What held the row's alerts in the last pass: a mute until then (0: none), its parent down.
    void SetHolds(std::size_t row, std::int64_t mutedUntil, bool unreachable);
    // The uplink echoed with every pass, and whether it answered in the last one (none: not yet).
    void SetUplink(const std::string& host, std::optional<bool> answered);

    // The figures as they are now, never to change.
    Snapshot Now() const { return m_figures; }
    // The whole text exposition (version 0.0.4) of the figures as they are now.
    std::string Text() const;

    static constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

    // A label value with backslash, double quote and line feed escaped as the format requires,
    // and each byte that is not part of valid UTF-8 replaced by U+FFFD.
    static std::string EscapeLabelValue(const std::string& value);

private:
    // The figures to change: a copy first when a snapshot of them is still held.
    Figures& Change();

    std::shared_ptr<Figures> m_figures;
};

} // namespace cli
