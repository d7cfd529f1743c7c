// The history of an entry: what the window keeps of a session and what its chart says about it.
#include "MainDlgHarness.h"

#include "CHistoryChart.h"
#include "CItemList.h"
#include "EntryHistory.h"
#include "ResourceIds.h"

#include <QChart>
#include <QLineSeries>
#include <QScatterSeries>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {
constexpr std::int64_t kMinute = 60'000;

std::vector<HistorySample> Sequence(const std::string& outcomes) {
    std::vector<HistorySample> samples;
    std::int64_t when = 0;
    for (char c : outcomes) {
        samples.push_back({when, c == 'y', c == 'y' ? 1500 : -1});
        when += kMinute;
    }
    return samples;
}
} // namespace

TEST(EntryHistory, AvailabilityAndTheLongestOutageOfKnownSequences) {
    struct Case {
        const char* outcomes; // y answered, n failed, one probe a minute
        double percent;
        std::int64_t outageMs;
        std::size_t outageProbes;
    };
    const Case cases[] = {
        {"", 0.0, 0, 0},
        {"yyyy", 100.0, 0, 0},
        {"nnnn", 0.0, 3 * kMinute, 4},        // still failing: up to the last probe
        {"ynnyyynnny", 50.0, 3 * kMinute, 3}, // an outage lasts until the next answer
        {"ynyyyyyyyn", 80.0, kMinute, 1},     // answered a minute later; the last one is still open
        {"nyyy", 75.0, kMinute, 1},
    };
    for (const Case& c : cases) {
        const HistorySummary s = Summarise(Sequence(c.outcomes));
        EXPECT_DOUBLE_EQ(s.availabilityPercent, c.percent) << c.outcomes;
        EXPECT_EQ(s.longestOutageMs, c.outageMs) << c.outcomes;
        EXPECT_EQ(s.longestOutageProbes, c.outageProbes) << c.outcomes;
    }
}

TEST(EntryHistory, KeepsTheNewestResultsOfEntriesStillInTheListOnly) {
    EntryHistory history;
    CItem kept, gone;
    for (std::size_t i = 0; i < EntryHistory::kCapacity + 5; ++i)
        history.Add(&kept, {static_cast<std::int64_t>(i), true, 1});
    history.Add(&gone, {0, false, -1});
    const std::vector<HistorySample> samples = history.Samples(&kept);
    ASSERT_EQ(samples.size(), EntryHistory::kCapacity);
    EXPECT_EQ(samples.front().whenMs, 5);
    history.KeepOnly({&kept});
    EXPECT_EQ(history.EntryCount(), 1u);
    EXPECT_TRUE(history.Samples(&gone).empty());
}

TEST(EntryHistory, TheWindowRecordsEachRunAndTheChartShowsIt) {
    MainDlgHarness h;
    CMainDlg& dlg = h.Open();
    CItem& entry = dlg.List().AddTail(std::make_unique<CItem>());
    entry.m_strAddress = "alpha.invalid";
    dlg.RefreshList();
    for (int outcome : {1, 0, 1}) {
        h.runs.outcomes = {outcome};
        h.Click(res::IDC_PING_NOW);
    }
    const std::vector<HistorySample> samples = dlg.History().Samples(&entry);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_FALSE(samples[1].answered);

    CHistoryChart chart(QStringLiteral("alpha.invalid:80"), samples, &dlg);
    EXPECT_TRUE(chart.SummaryText().contains("3 probes, available 66.7 %")) << chart.SummaryText().toStdString();
    const QList<QAbstractSeries*> series = chart.Chart()->series();
    ASSERT_EQ(series.size(), 2);
    EXPECT_EQ(static_cast<QLineSeries*>(series[0])->count() + static_cast<QScatterSeries*>(series[1])->count(), 3);
    EXPECT_EQ(static_cast<QScatterSeries*>(series[1])->count(), 1);

    // A deleted entry takes its history with it.
    dlg.ListView()->setCurrentItem(dlg.ListView()->topLevelItem(0));
    h.Click(res::IDC_DELETE);
    EXPECT_EQ(dlg.History().EntryCount(), 0u);
}
