// Drawing the history chart of an entry with a full history (10,000 results, one in twenty
// failed): the chart built, laid out and painted into an image of the window's size.
// Usage: history_chart_bench [RESULTS] [ROUNDS]   (default 10000 and 20)
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
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    constexpr std::int64_t kStartMs = 1'790'000'000'000;
    constexpr std::int64_t kStepMs = 60'000;
    std::vector<HistorySample> samples;
    for (long i = 0; i < results; ++i)
        samples.push_back({kStartMs + i * kStepMs, i % 20 != 0, 200 + (i * 37) % 900});

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
    std::printf("history chart of %ld results: median %.1f ms, worst %.1f ms over %d rounds (target < 100 ms)\n",
                results, ms[ms.size() / 2], ms.back(), rounds);
    return 0;
}
