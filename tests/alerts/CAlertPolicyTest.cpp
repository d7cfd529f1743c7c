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
    // '?' not probed in that pass (cancelled, not started, not reached), '_' not in the list.
    std::vector<std::string> entries;
    std::vector<std::string> passes;
    // One decision per pass: 'A' alert, 'R' recovered, '-' nothing.
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
    case CAlertPolicy::Decision::none:
        break;
    }
    return '-';
}

constexpr std::int32_t kNever = CAlertPolicy::kNever;

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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CAlertPolicy policy(c.settings);
        std::string decisions;
        for (const std::string& pass : c.passes) {
            std::vector<CAlertPolicy::EntryResult> results;
            for (std::size_t i = 0; i < c.entries.size(); ++i) {
                using Outcome = CAlertPolicy::Outcome;
                if (pass[i] != '_')
                    results.push_back({c.entries[i], pass[i] == '.'   ? Outcome::answered
                                                     : pass[i] == 'x' ? Outcome::failed
                                                                      : Outcome::notProbed});
            }
            decisions += Letter(policy.PassEnded(results));
        }
        EXPECT_EQ(decisions, c.decisions);
        EXPECT_EQ(policy.RecoveredEntries(), c.recovered);
        EXPECT_EQ(policy.OutagePasses(), c.outagePasses);
    }
}
