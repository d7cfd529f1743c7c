// The history of an entry: what the window keeps of a session and what its chart says about it.
#include "MainDlgHarness.h"

#include "CHistoryChart.h"
#include "CItemList.h"
#include "EntryHistory.h"
#include "ResourceIds.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSet>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstring>
#include <map>

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

TEST(EntryHistory, AllEntriesTogetherKeepABoundedHistoryTheLongestGivingWayFirst) {
    const std::size_t longOnes = EntryHistory::kMaxSamples / EntryHistory::kCapacity + 1;
    std::vector<CItem> entries(longOnes + 1);
    EntryHistory history;
    for (std::int64_t pass = 0; pass < static_cast<std::int64_t>(EntryHistory::kCapacity); ++pass) {
        for (std::size_t i = 0; i < longOnes; ++i)
            history.Add(&entries[i], {pass, true, 1});
        if (pass < 50)
            history.Add(&entries.back(), {pass, true, 1});
    }
    EXPECT_LE(history.SampleCount(), EntryHistory::kMaxSamples);
    EXPECT_EQ(history.Record(&entries.back()).samples.size(), 50u) << "a short history keeps all of it";
    const EntryRecord first = history.Record(&entries.front());
    EXPECT_EQ(first.samples.front().whenMs, static_cast<std::int64_t>(first.dropped)) << "the oldest went first";
}

// The chart of known histories as a reader sees it: a point for every answered probe, lines only
// between consecutive answers, every failure mark whole inside the plot, time labels that differ.
TEST(HistoryChart, KnownHistoriesAreDrawnAsTheyHappened) {
    const std::tuple<const char*, std::vector<qsizetype>, const char*> cases[] = {
        // y answered, n failed, one probe a minute; the points of each line; the summary after its period
        {"y", {}, ": 1 probe, available 100.0 %, longest outage none."},
        {"nyn", {}, ": 3 probes, available 33.3 %, longest outage 1 min 0 s (1 failed probe)."}, // a lone answer
        {"yynyyy", {2, 3}, ": 6 probes, available 83.3 %"},
    };
    for (const auto& [outcomes, expectedLines, summary] : cases) {
        CHistoryChart chart(QStringLiteral("alpha.invalid:80"), {Sequence(outcomes), 0}, nullptr);
        chart.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
        QChart* drawn = chart.Chart();
        std::vector<qsizetype> lines;
        std::map<QString, QScatterSeries*> dots;
        for (QAbstractSeries* series : drawn->series()) {
            if (auto* line = qobject_cast<QLineSeries*>(series))
                lines.push_back(line->count());
            else
                dots[series->name()] = qobject_cast<QScatterSeries*>(series);
        }
        EXPECT_EQ(lines, expectedLines) << outcomes;
        const qsizetype answered = QString::fromLatin1(outcomes).count('y');
        QScatterSeries* marks = dots[CHistoryChart::kFailedName];
        ASSERT_TRUE(marks && dots[CHistoryChart::kAnsweredName]);
        EXPECT_EQ(dots[CHistoryChart::kAnsweredName]->count(), answered) << outcomes;
        EXPECT_EQ(marks->count(), static_cast<qsizetype>(std::strlen(outcomes)) - answered) << outcomes;
        const qreal r = marks->markerSize() / 2;
        for (const QPointF& mark : marks->points()) {
            const QPointF at = drawn->mapToPosition(mark, marks);
            EXPECT_TRUE(drawn->plotArea().contains(QRectF(at.x() - r, at.y() - r, 2 * r, 2 * r))) << outcomes;
        }
        const auto* time = qobject_cast<QDateTimeAxis*>(drawn->axes(Qt::Horizontal).value(0));
        const qint64 step = time->min().msecsTo(time->max()) / (time->tickCount() - 1);
        QSet<QString> labels;
        for (int tick = 0; tick < time->tickCount(); ++tick)
            labels << time->min().addMSecs(tick * step).toString(time->format());
        EXPECT_EQ(labels.size(), time->tickCount()) << outcomes << ": the time labels differ";
        EXPECT_TRUE(chart.SummaryText().contains(QString::fromLatin1(summary))) << chart.SummaryText().toStdString();
    }
}

TEST(EntryHistory, TheWindowRecordsEachRunAndTheChartSaysWhenOlderResultsWentAway) {
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
    // Had the failure begun before what was kept, the outage may have been longer: the chart says so.
    CHistoryChart chart(QStringLiteral("alpha.invalid:80"), {{samples.begin() + 1, samples.end()}, 1}, &dlg);
    EXPECT_TRUE(chart.SummaryText().contains("2 probes, available 50.0 %, longest outage at least 0 s (1 failed "
                                             "probe). Older results of this session were let go"))
        << chart.SummaryText().toStdString();

    // A deleted entry takes its history with it.
    dlg.ListView()->setCurrentItem(dlg.ListView()->topLevelItem(0));
    h.Click(res::IDC_DELETE);
    EXPECT_EQ(dlg.History().EntryCount(), 0u);
}
