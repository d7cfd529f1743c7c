// Drawing the history chart of an entry with a full history (10,000 results, one in twenty
// failed): the chart built, laid out and painted into an image of the window's size. With ECHOES
// above 1, one answered probe in seven also lost an attempt and the entry was degraded for ten
// probes in every forty, so the marks of loss and the shaded spans are drawn too.
// Usage: history_chart_bench [RESULTS] [ROUNDS] [ECHOES]   (default 10000, 20 and 1)
#include "CHistoryChart.h"

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char* argv[]) {
    const long results = argc > 1 ? std::atol(argv[1]) : static_cast<long>(EntryHistory::kCapacity);
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 20;
    const int echoes = argc > 3 ? std::clamp(std::atoi(argv[3]), 1, 100) : 1;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    constexpr std::int64_t kStartMs = 1'790'000'000'000;
    constexpr std::int64_t kStepMs = 60'000;
    std::vector<HistorySample> samples;
    for (long i = 0; i < results; ++i) {
        const bool answered = i % 20 != 0;
        const bool lossy = answered && echoes > 1 && i % 7 == 0;
        samples.push_back({.whenMs = kStartMs + i * kStepMs,
                           .answered = answered,
                           .degraded = answered && echoes > 1 && i / 10 % 4 == 0,
                           .sent = static_cast<std::uint8_t>(echoes),
                           .lost = static_cast<std::uint8_t>(answered ? (lossy ? 1 : 0) : echoes),
                           .roundTripUs = answered ? 200 + (i * 37) % 900 : -1});
    }

    std::vector<double> ms;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        CHistoryChart chart(QStringLiteral("bench.invalid:80"), EntryRecord{samples, 0}, nullptr);
        chart.adjustSize();
        QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
        chart.render(&image);
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf(
        "history chart of %ld results of %d attempts: median %.1f ms, worst %.1f ms over %d rounds (target < 100 ms)\n",
        results, echoes, ms[ms.size() / 2], ms.back(), rounds);
    return 0;
}
