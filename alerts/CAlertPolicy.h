#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// When a scheduled pass raises the alerts, and when an outage is over. Keeps, for each entry, how
// many scheduled passes in a row it has failed, keyed by what the entry probes (so an edit that
// moves rows keeps the counts, and a changed or removed entry starts afresh).
//
// An entry is due when its failed passes reach alertAfter, and again every realertEvery passes
// after that while it keeps failing (never again with kNever). A pass with a due entry raises the
// alerts. Every entry that was failing long enough at such an alert counts as alerted; once all of
// them answer again and nothing new is due, the outage is over: the pass reports it as recovered
// when notifyRecovery is set, naming those entries. An alerted entry that leaves the list (removed,
// or edited into another name) is forgotten without a notice; when none is left, the outage ends
// silently. With the defaults every failed pass alerts and nothing else ever happens, as without
// a policy.
//
// Only a probe tells: an entry that a pass did not probe (the run was cancelled, could not start
// or did not reach it) keeps its count and its outage as they were. Only an answer ends an outage.
//
// Three things hold alerts without losing what the probes found:
// - a pass cut off from the network (the monitor's uplink did not answer) counts nothing at all,
//   as if nothing had been probed; the first pass of such a spell says so, once;
// - an entry held in a pass (muted, or failed behind a parent that failed too) counts its failed
//   passes but is never due itself, and is not alerted about with the others. Once nothing holds
//   it and it still fails, it is due by the usual rule: at once when it has failed long enough
//   and was not alerted in this outage, else when the re-alert comes round.
class CAlertPolicy {
public:
    static constexpr std::int32_t kNever = 0;
    // The largest number of passes either setting accepts.
    static constexpr std::int32_t kMaxPasses = 100000;

    struct Settings {
        std::int32_t alertAfter = 1;   // consecutive failed passes before the first alert, >= 1
        std::int32_t realertEvery = 1; // passes between alerts while still failing, or kNever
        bool notifyRecovery = false;
    };

    // What an entry's probe said in a pass.
    enum class Outcome { answered, failed, notProbed };

    // What holds an entry's alerts in a pass.
    enum class Hold { none, muted, unreachable };

    // One entry's result in a pass; name says which entry it is ("host:port", "host:ICMP").
    struct EntryResult {
        std::string name;
        Outcome outcome = Outcome::notProbed;
        Hold hold = Hold::none;
    };

    // cutOff: the first pass of a spell cut off from the network.
    enum class Decision { none, alert, recovered, cutOff };

    CAlertPolicy() = default;
    explicit CAlertPolicy(Settings settings);

    // One scheduled pass has ended with these results, one per entry of the list, in list order;
    // cutOff when the monitor's uplink did not answer in it.
    Decision PassEnded(const std::vector<EntryResult>& results, bool cutOff = false);
    // The last pass was cut off.
    bool IsCutOff() const { return m_bCutOff; }

    // The entries the last recovered decision is about, in list order.
    const std::vector<std::string>& RecoveredEntries() const { return m_recovered; }
    // How many scheduled passes in a row the longest-failing entry has failed; 0 when none fails.
    std::int32_t OutagePasses() const;

    const Settings& GetSettings() const { return m_settings; }
    void SetSettings(const Settings& settings) { m_settings = settings; }

private:
    bool IsDue(std::int32_t failedPasses) const;

    Settings m_settings;
    // Entries failing now (as far as the last probe of each tells) -> failed passes in a row.
    std::map<std::string, std::int32_t> m_failedPasses;
    std::vector<std::string> m_alerted; // alerted in this outage, in order
    std::vector<std::string> m_recovered;
    std::set<std::string> m_heldWhileFailing; // held in a pass of their present failure
    bool m_bCutOff = false;
};
