// The history of an entry: what the window keeps of a session and what its chart says about it.
#include "MainDlgHarness.h"

#include "CHistoryChart.h"
#include "CItemList.h"
#include "EntryHistory.h"
#include "ProbeStats.h"
#include "ResourceIds.h"

#include <QChart>
#include <QChartView>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QSet>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string_view>

namespace {
constexpr std::int64_t kMinute = 60'000;

// One probe a minute. Of one attempt: y answered, n failed; of five: Y answered, N failed, l answered
// losing one, d degraded losing two; < the wall clock is set back an hour.
std::vector<HistorySample> Sequence(const std::string& outcomes) {
    constexpr std::string_view kKinds = "ynYNld";
    constexpr std::uint8_t kSent[] = {1, 1, 5, 5, 5, 5}, kLost[] = {0, 1, 0, 5, 1, 2};
    std::vector<HistorySample> samples;
    std::int64_t clock = 0;
    for (char c : outcomes) {
        if (c == '<') {
            clock -= 60 * kMinute;
            continue;
        }
        const std::size_t k = kKinds.find(c);
        const bool answered = kLost[k] < kSent[k];
        samples.push_back({clock, answered, c == 'd', kSent[k], kLost[k], answered ? 1500 : -1});
        clock += kMinute;
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
        history.Add(&kept, {.whenMs = static_cast<std::int64_t>(i), .answered = true, .roundTripUs = 1});
    history.Add(&gone, {});
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
            history.Add(&entries[i], {.whenMs = pass, .answered = true, .roundTripUs = 1});
        if (pass < 50)
            history.Add(&entries.back(), {.whenMs = pass, .answered = true, .roundTripUs = 1});
    }
    EXPECT_LE(history.SampleCount() * sizeof(HistorySample) + history.EntryCount() * EntryHistory::kEntryBytes,
              EntryHistory::kMaxBytes)
        << "results and what each entry costs besides";
    EXPECT_EQ(history.Record(&entries.back()).samples.size(), 50u) << "a short history keeps all of it";
    const EntryRecord first = history.Record(&entries.front());
    EXPECT_EQ(first.samples.front().whenMs, static_cast<std::int64_t>(first.dropped)) << "the oldest went first";
}

// The chart of known histories as a reader sees it: a point for every answered probe, lines only
// between consecutive answers, every failure and loss mark whole inside the plot (loss above failure),
// degraded spans shaded, time labels that differ, a legend that names what is drawn.
TEST(HistoryChart, KnownHistoriesAreDrawnAsTheyHappened) {
    const char* one = "Round trip (ms)|Failed probe";
    const char* five = "Degraded|Median round trip (ms)|Failed probe|Probe with loss";
    // Sequence's outcomes; the points of each line; the summary after its period; the legend. "nyn" has a lone
    // answer; "YYd" is still degraded; in "ynn<ny" the outage goes on across the clock's step back.
    const std::tuple<const char*, std::vector<qsizetype>, const char*, const char*> cases[] = {
        {"y", {}, ": 1 probe, available 100.0 %, longest outage none.", one},
        {"nyn", {}, ": 3 probes, available 33.3 %, longest outage 1 min 0 s (1 failed probe).", one},
        {"yynyyy", {2, 3}, ": 6 probes, available 83.3 %", one},
        {"YlYNddY", {3, 3}, "1 failed probe), 28.6 % of 35 attempts lost, degraded 2 min 0 s (2 probes).", five},
        {"YYd", {3}, "13.3 % of 15 attempts lost, degraded 0 s (1 probe) and still at the last probe.", five},
        {"ynn<ny", {}, ": 5 probes, available 40.0 %, longest outage 2 min 0 s (3 failed probes).", one},
    };
    for (const auto& [outcomes, expectedLines, summary, legend] : cases) {
        const std::vector<HistorySample> samples = Sequence(outcomes);
        CHistoryChart chart(QStringLiteral("alpha.invalid:80"), {samples, 0}, nullptr);
        chart.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart));
        QChart* drawn = chart.Chart();
        std::vector<qsizetype> lines;
        for (QAbstractSeries* series : drawn->series()) {
            if (auto* line = qobject_cast<QLineSeries*>(series))
                lines.push_back(line->count());
        }
        EXPECT_EQ(lines, expectedLines) << outcomes;
        QStringList named;
        std::map<QString, QScatterSeries*> marks; // by what the legend calls them
        for (QLegendMarker* marker : drawn->legend()->markers()) {
            if (marker->isVisible())
                marks[named.emplace_back(marker->label())] = qobject_cast<QScatterSeries*>(marker->series());
        }
        EXPECT_EQ(named.join('|'), QString::fromLatin1(legend)) << outcomes;
        const auto count = [outcomes](const char* of) {
            return std::ranges::count_if(std::string_view(outcomes), [of](char c) { return std::strchr(of, c); });
        };
        QScatterSeries* answers = marks[CHistoryChart::kAnsweredName] ? marks[CHistoryChart::kAnsweredName]
                                                                      : marks[CHistoryChart::kMedianName];
        QScatterSeries* failures = marks[CHistoryChart::kFailedName];
        QScatterSeries* losses = marks[CHistoryChart::kLossName];
        ASSERT_TRUE(answers && failures) << outcomes;
        EXPECT_EQ(answers->count(), count("yYld")) << outcomes;
        EXPECT_EQ(failures->count(), count("nN")) << outcomes;
        EXPECT_EQ(losses ? losses->count() : 0, count("ld")) << outcomes;
        const auto whole = [drawn](QScatterSeries* kind, const QPointF& mark) {
            const QPointF at = drawn->mapToPosition(mark, kind);
            const qreal r = kind->markerSize() / 2;
            return QRectF(at.x() - r, at.y() - r, 2 * r, 2 * r);
        };
        for (QScatterSeries* kind : {failures, losses}) {
            for (const QPointF& mark : kind ? kind->points() : QList<QPointF>()) {
                EXPECT_TRUE(drawn->plotArea().contains(whole(kind, mark))) << outcomes;
                EXPECT_TRUE(kind != losses || failures->count() == 0 ||
                            whole(kind, mark).bottom() < whole(failures, failures->at(0)).top())
                    << outcomes << ": loss above failure";
            }
        }
        // Shaded at the top of the plot from each degraded probe to the next, or to the edge.
        const auto* time = qobject_cast<QDateTimeAxis*>(drawn->axes(Qt::Horizontal).value(0));
        const QImage shot = chart.findChild<QChartView*>()->grab().toImage();
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const qreal to = i + 1 < samples.size() ? samples[i + 1].whenMs : time->max().toMSecsSinceEpoch();
            const QPointF middle = drawn->mapToPosition({(samples[i].whenMs + to) / 2, 0}, failures);
            const QRgb pixel = shot.pixel(QPointF(middle.x(), drawn->plotArea().top() + 3).toPoint());
            EXPECT_EQ(qRed(pixel) - qBlue(pixel) > 30, outcomes[i] == 'd') << outcomes << " at " << i;
        }
        const qint64 step = time->min().msecsTo(time->max()) / (time->tickCount() - 1);
        QSet<QString> labels;
        for (int tick = 0; tick < time->tickCount(); ++tick)
            labels << time->min().addMSecs(tick * step).toString(time->format());
        EXPECT_EQ(labels.size(), time->tickCount()) << outcomes << ": the time labels differ";
        EXPECT_TRUE(chart.SummaryText().contains(QString::fromLatin1(summary))) << chart.SummaryText().toStdString();
    }
}

// A lossy link marks most of its probes: a full history of them is drawn with a mark per stretch of
// the axis, not thousands, and its summary says the span it begins inside may have begun earlier.
TEST(HistoryChart, AFullLossyHistoryIsDrawnWithFewMarksAndTellsWhatWasCutOff) {
    const std::vector<HistorySample> samples = Sequence("dN" + std::string(9998, 'l'));
    CHistoryChart chart(QStringLiteral("alpha.invalid:80"), {samples, 5}, nullptr);
    std::map<QString, qsizetype> marks;
    for (QAbstractSeries* series : chart.Chart()->series())
        if (auto* scatter = qobject_cast<QScatterSeries*>(series))
            marks[scatter->name()] = scatter->count();
    EXPECT_GT(marks[CHistoryChart::kLossName], 0);
    EXPECT_LE(marks[CHistoryChart::kLossName], 601);
    EXPECT_EQ(marks[CHistoryChart::kFailedName], 1);
    EXPECT_TRUE(chart.SummaryText().contains("degraded at least 1 min 0 s (1 probe).")) << chart.SummaryText().toStdString();
}

TEST(EntryHistory, TheWindowRecordsEachRunAndTheChartSaysWhenOlderResultsWentAway) {
    MainDlgHarness h;
    CMainDlg& dlg = h.Open();
    CItem& entry = dlg.List().AddTail(std::make_unique<CItem>());
    entry.m_strAddress = "alpha.invalid";
    dlg.RefreshList();
    entry.m_lastStats = SummariseAttempts({1400, -1, 1600, -1, 1500}); // the first run's: 2 of 5 lost
    entry.m_bLastDegraded = true;
    for (int outcome : {1, 0, 1}) {
        h.runs.outcomes = {outcome};
        h.Click(res::IDC_PING_NOW);
        entry.m_lastStats = {};
        entry.m_bLastDegraded = false;
    }
    const std::vector<HistorySample> samples = dlg.History().Samples(&entry);
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_TRUE(samples[0].sent == 5 && samples[0].lost == 2 && samples[0].degraded) << "the loss the chart shows";
    EXPECT_FALSE(samples[1].answered);
    // Had the failure begun before what was kept, the outage may have been longer: the chart says so.
    CHistoryChart chart(QStringLiteral("alpha.invalid:80"), {{samples.begin() + 1, samples.end()}, 1}, &dlg);
    // The two runs are real ones, a second apart or less on the wall clock.
    EXPECT_TRUE(chart.SummaryText().contains(QRegularExpression(QStringLiteral(
        "2 probes, available 50.0 %, longest outage at least [01] s \\(1 failed probe\\)\\. Older results of "
        "this session were let go"))))
        << chart.SummaryText().toStdString();

    // A deleted entry takes its history with it.
    dlg.ListView()->setCurrentItem(dlg.ListView()->topLevelItem(0));
    h.Click(res::IDC_DELETE);
    EXPECT_EQ(dlg.History().EntryCount(), 0u);
}
