#include "CHistoryChart.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace {
constexpr double kUsPerMs = 1000.0;
constexpr double kHeadroom = 1.1; // above the slowest round trip
constexpr double kEmptyRangeMs = 1.0;
constexpr qreal kFailureMarkSize = 7.0;
constexpr int kChartWidth = 640;
constexpr int kChartHeight = 360;
constexpr const char* kFailureColour = "#d72626";
constexpr std::int64_t kHourMs = 3'600'000;
constexpr std::int64_t kDayMs = 24 * kHourMs;

// Seconds for a short history, the day for one longer than a day.
QString TimeFormat(const std::vector<HistorySample>& samples) {
    const std::int64_t span = samples.empty() ? 0 : samples.back().whenMs - samples.front().whenMs;
    if (span <= kHourMs)
        return QStringLiteral("HH:mm:ss");
    return span <= kDayMs ? QStringLiteral("HH:mm") : QStringLiteral("dd MMM HH:mm");
}
constexpr const char* kNoProbes = "No probe of this entry has ended in this session yet.";
} // namespace

QChart* CHistoryChart::MakeChart(const std::vector<HistorySample>& samples) {
    QList<QPointF> trips;
    QList<QPointF> failures;
    trips.reserve(static_cast<qsizetype>(samples.size()));
    double slowest = 0.0;
    for (const HistorySample& s : samples) {
        const auto x = static_cast<qreal>(s.whenMs);
        if (s.answered && s.roundTripUs >= 0) {
            const double ms = static_cast<double>(s.roundTripUs) / kUsPerMs;
            slowest = std::max(slowest, ms);
            trips.append({x, ms});
        } else if (!s.answered) {
            failures.append({x, 0.0});
        }
    }
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    auto* line = new QLineSeries;
    line->setName(QStringLiteral("Round trip (ms)"));
    line->replace(trips);
    auto* marks = new QScatterSeries;
    marks->setName(QStringLiteral("Failed probe"));
    marks->setColor(QColor(QString::fromLatin1(kFailureColour)));
    marks->setMarkerSize(kFailureMarkSize);
    marks->replace(failures);
    chart->addSeries(line);
    chart->addSeries(marks);

    auto* time = new QDateTimeAxis;
    time->setFormat(TimeFormat(samples));
    auto* ms = new QValueAxis;
    ms->setTitleText(QStringLiteral("ms"));
    ms->setRange(0.0, slowest > 0.0 ? slowest * kHeadroom : kEmptyRangeMs);
    if (!samples.empty()) {
        time->setRange(QDateTime::fromMSecsSinceEpoch(samples.front().whenMs),
                       QDateTime::fromMSecsSinceEpoch(std::max(samples.back().whenMs, samples.front().whenMs + 1)));
    }
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(ms, Qt::AlignLeft);
    for (QAbstractSeries* series : {static_cast<QAbstractSeries*>(line), static_cast<QAbstractSeries*>(marks)}) {
        series->attachAxis(time);
        series->attachAxis(ms);
    }
    return chart;
}

CHistoryChart::CHistoryChart(const QString& entryName, const std::vector<HistorySample>& samples, QWidget* parent)
    : QDialog(parent), m_chart(MakeChart(samples)), m_summary(new QLabel(this)) {
    setWindowTitle(QStringLiteral("History of %1 - Pulsewick").arg(entryName));
    setWindowModality(Qt::WindowModal);
    const HistorySummary summary = Summarise(samples);
    if (samples.empty()) {
        m_summary->setText(QString::fromLatin1(kNoProbes));
    } else {
        const QString from = QDateTime::fromMSecsSinceEpoch(samples.front().whenMs).toString(TimeFormat(samples));
        const QString to = QDateTime::fromMSecsSinceEpoch(samples.back().whenMs).toString(TimeFormat(samples));
        m_summary->setText(QStringLiteral("%1 to %2: %3 probes, available %4 %, longest outage %5.")
                               .arg(from, to)
                               .arg(summary.probes)
                               .arg(summary.availabilityPercent, 0, 'f', 1)
                               .arg(OutageText(summary)));
    }
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* view = new QChartView(m_chart, this);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumSize(kChartWidth, kChartHeight);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(view, 1);
    layout->addWidget(buttons);
}

QString CHistoryChart::SummaryText() const {
    return m_summary->text();
}
