// The alert policy pass by pass: when a failed scheduled pass alerts, when it is held back, and
// when an outage is over.
#include "CAlertPolicy.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Case {
    const char* what;
    CAlertPolicy::Settings settings;
    // Entry names, then one string per pass with a state per entry: 'x' failed, '.' answered,
    // '?' not probed in that pass (cancelled, not started, not reached), '_' not in the list,
    // 'm' failed and muted, 'u' failed behind a parent that failed too; a pass that starts with
    // '!' was cut off (its uplink did not answer).
    std::vector<std::string> entries;
    std::vector<std::string> passes;
    // One decision per pass: 'A' alert, 'R' recovered, 'C' cut off, '-' nothing.
    std::string decisions;
    std::vector<std::string> recovered; // RecoveredEntries() at the end
    std::int32_t outagePasses;          // OutagePasses() at the end
};

char Letter(CAlertPolicy::Decision decision) {
    switch (decision) {
    case CAlertPolicy::Decision::alert:
        return 'A';
    case CAlertPolicy::Decision::recovered:
        return 'R';
    case CAlertPolicy::Decision::cutOff:
        return 'C';
    case CAlertPolicy::Decision::none:
        break;
    }
    return '-';
}

constexpr std::int32_t kNever = CAlertPolicy::kNever;

void Check(const Case& c) {
    SCOPED_TRACE(c.what);
    CAlertPolicy policy(c.settings);
    std::string decisions;
    for (const std::string& given : c.passes) {
        const bool cutOff = given.starts_with('!');
        const std::string pass = cutOff ? given.substr(1) : given;
        std::vector<CAlertPolicy::EntryResult> results;
        for (std::size_t i = 0; i < c.entries.size(); ++i) {
            using Outcome = CAlertPolicy::Outcome;
            using Hold = CAlertPolicy::Hold;
            if (pass[i] != '_')
                results.push_back({c.entries[i],
                                   pass[i] == '.'   ? Outcome::answered
                                   : pass[i] == '?' ? Outcome::notProbed
                                                    : Outcome::failed,
                                   pass[i] == 'm' ? Hold::muted : pass[i] == 'u' ? Hold::unreachable : Hold::none});
        }
        decisions += Letter(policy.PassEnded(results, cutOff));
    }
    EXPECT_EQ(decisions, c.decisions);
    EXPECT_EQ(policy.RecoveredEntries(), c.recovered);
    EXPECT_EQ(policy.OutagePasses(), c.outagePasses);
}

} // namespace

TEST(CAlertPolicy, DecidesEachPassAsTheSettingsSay) {
    const std::vector<Case> cases = {
        {"defaults: every failed pass alerts, no notice when it ends", {}, {"a"}, {"x", "x", ".", "x"}, "AA-A", {}, 1},
        {"recovery notice once the entry answers", {1, 1, true}, {"a"}, {"x", ".", "."}, "AR-", {"a"}, 0},
        {"after 2, then every pass", {2, 1, true}, {"a"}, {"x", "x", "x", "."}, "-AAR", {"a"}, 0},
        {"after 2, never again", {2, kNever, true}, {"a"}, {"x", "x", "x", "x", "."}, "-A--R", {"a"}, 0},
        {"every third pass while failing", {1, 3, false}, {"a"}, {"x", "x", "x", "x", "x"}, "A--A-", {}, 5},
        {"an answer in between starts the count again",
         {3, 1, true},
         {"a"},
         {"x", "x", ".", "x", "x", "x"},
         "-----A",
         {},
         3},
        {"no notice for an entry that never alerted", {2, 1, true}, {"a"}, {"x", ".", "x", "."}, "----", {}, 0},
        {"a second entry failing later alerts on its own; the notice waits for both",
         {1, kNever, true},
         {"a", "b"},
         {"x.", "xx", ".x", ".."},
         "AA-R",
         {"a", "b"},
         0},
        {"an alerted entry that left the list ends the outage without a notice",
         {1, kNever, true},
         {"a", "b"},
         {"x.", "_."},
         "A-",
         {},
         0},
        {"renamed while down: no notice", {2, kNever, true}, {"a", "b"}, {"x_", "x_", "_x"}, "-A-", {}, 1},
        {"the same entry twice fails when either copy fails",
         {1, kNever, true},
         {"a", "a"},
         {"x.", ".x", ".."},
         "A-R",
         {"a"},
         0},
        {"a pass that probed nothing tells nothing: no notice, the count goes on after it",
         {2, 1, true},
         {"a", "b"},
         {"x.", "xx", "??", "?x", ".?", ".."},
         "-A-A-R",
         {"a", "b"},
         0},
        {"the notice names the entries in list order",
         {1, kNever, true},
         {"zulu", "alpha"},
         {"xx", ".."},
         "AR",
         {"zulu", "alpha"},
         0},
        {"without the notice the outage still ends: the next one alerts",
         {1, kNever, false},
         {"a"},
         {"x", "x", ".", "x"},
         "A--A",
         {},
         1},
    };
    for (const Case& c : cases)
        Check(c);
}

// What holds alerts: the uplink, a mute, a parent that is down; and what happens once it no longer does.
TEST(CAlertPolicy, HoldsAlertsAndAlertsByTheUsualRuleAfterwards) {
    const std::vector<Case> cases = {
        {"a pass cut off counts nothing and says so once per spell",
         {2, 1, true},
         {"a"},
         {"x", "!x", "!x", "x", "!x", ".", "."},
         "-C-ACR-",
         {"a"},
         0},
        {"a muted list alerts nothing; once the mute ends it alerts at once, even without re-alerts",
         {1, kNever, false},
         {"a", "b"},
         {"mm", "mm", "xx"},
         "--A",
         {},
         3},
        {"one muted entry is left out of the alert and of its recovery notice",
         {1, kNever, true},
         {"a", "b"},
         {"mx", "m.", ".."},
         "AR-",
         {"b"},
         0},
        {"the mute ends while the entry still fails: alerted once it has failed long enough",
         {2, kNever, true},
         {"a"},
         {"m", "m", "m", "x", "."},
         "---AR",
         {"a"},
         0},
        {"alerted before the mute: after it, only when the re-alert comes round",
         {1, 3, false},
         {"a"},
         {"x", "m", "x", "x", "x"},
         "A--A-",
         {},
         5},
        {"a child behind a failed parent alerts with it, on its own once the parent answers",
         {1, kNever, true},
         {"router", "host"},
         {"xu", "xu", ".x", ".."},
         "A-AR",
         {"router", "host"},
         0},
        {"a child behind an answering parent alerts as without parents", {1, 1, false}, {"router", "host"}, {".x"}, "A", {}, 1},
    };
    for (const Case& c : cases)
        Check(c);
}
