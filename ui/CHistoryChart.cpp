#include "CHistoryChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QScatterSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace {
constexpr double kUsPerMs = 1000.0;
constexpr double kHeadroom = 1.1; // above the slowest round trip
constexpr double kEmptyRangeMs = 1.0;
constexpr qreal kAnswerMarkSize = 5.0;
constexpr std::size_t kDotEveryAnswerUpTo = 300;
constexpr std::size_t kMostLines = 1000;
constexpr qreal kFailureMarkSize = 7.0;
constexpr qreal kLossMarkSize = 9.0;
// Failed probes lie on a band of their own just above the time axis, on an axis nobody sees, and
// the probes that lost some of their attempts a row above them.
constexpr double kMarkBandLow = -1.0;
constexpr double kMarkBandHigh = 19.0;
constexpr double kFailureRow = 0.0;
constexpr double kLossRow = 1.5;
constexpr int kChartWidth = 640;
constexpr int kChartHeight = 360;
constexpr int kSmallestChartWidth = 240;
constexpr int kSmallestChartHeight = 160;
constexpr const char* kAnswerColour = "#2a6fdb";
constexpr const char* kFailureColour = "#d72626";
constexpr const char* kLossColour = "#e8870e";
constexpr const char* kDegradedShade = "#40f5b400"; // light enough that what lies on it stays readable
constexpr std::int64_t kMinuteMs = 60'000;
constexpr std::int64_t kHourMs = 60 * kMinuteMs;
constexpr std::int64_t kDayMs = 24 * kHourMs;
// The time axis reaches a little past the first and the last probe, so their marks are whole,
// and spans a minute at least, so its labels differ.
constexpr std::int64_t kSmallestPadMs = kMinuteMs / 2;
constexpr std::int64_t kPadDivisor = 40;

constexpr const char* kNoProbes = "No probe of this entry has ended in this session yet.";
constexpr const char* kDroppedNote = " Older results of this session were let go to bound the memory.";

// Seconds for a short span, the day for one longer than a day.
QString TimeFormat(std::int64_t spanMs) {
    if (spanMs <= kHourMs)
        return QStringLiteral("HH:mm:ss");
    return spanMs <= kDayMs ? QStringLiteral("HH:mm") : QStringLiteral("dd MMM HH:mm");
}

std::int64_t SpanOf(const std::vector<HistorySample>& samples) {
    return samples.empty() ? 0 : samples.back().whenMs - samples.front().whenMs;
}

QScatterSeries* Marks(const char* name, const char* colour, qreal size, const QList<QPointF>& points) {
    auto* marks = new QScatterSeries;
    marks->setName(QString::fromLatin1(name));
    marks->setColor(QColor(QString::fromLatin1(colour)));
    marks->setBorderColor(marks->color());
    marks->setMarkerSize(size);
    marks->replace(points);
    return marks;
}

// The spans in which the entry was degraded, from a degraded probe to the next probe that was not
// (to the end of the time axis while it still is), as one fill across the whole plot; null
// without any.
QAreaSeries* DegradedSpans(const std::vector<HistorySample>& samples, std::int64_t padMs) {
    QList<QPointF> edge; // a step: high inside a span, low outside
    bool inside = false;
    for (const HistorySample& s : samples) {
        if (s.degraded == inside)
            continue;
        const auto x = static_cast<qreal>(s.whenMs);
        edge << QPointF(x, inside ? kMarkBandHigh : kMarkBandLow) << QPointF(x, inside ? kMarkBandLow : kMarkBandHigh);
        inside = s.degraded;
    }
    if (edge.isEmpty())
        return nullptr;
    if (inside) {
        const auto end = static_cast<qreal>(samples.back().whenMs + padMs);
        edge << QPointF(end, kMarkBandHigh) << QPointF(end, kMarkBandLow);
    }
    auto* area = new QAreaSeries;
    auto* upper = new QLineSeries(area); // the area does not own its lines
    auto* lower = new QLineSeries(area);
    upper->replace(edge);
    lower->replace({{edge.front().x(), kMarkBandLow}, {edge.back().x(), kMarkBandLow}});
    area->setUpperSeries(upper);
    area->setLowerSeries(lower);
    area->setName(QString::fromLatin1(CHistoryChart::kDegradedName));
    area->setColor(QColor(QString::fromLatin1(kDegradedShade)));
    area->setPen(Qt::NoPen);
    return area;
}

// Whether the longest outage is the one the kept results begin with: it may have begun earlier.
bool LongestOutageMayBeLonger(const std::vector<HistorySample>& samples, const HistorySummary& summary) {
    if (samples.empty() || samples.front().answered)
        return false;
    const auto answer = std::find_if(samples.begin(), samples.end(), [](const HistorySample& s) { return s.answered; });
    const std::int64_t end = answer == samples.end() ? samples.back().whenMs : answer->whenMs;
    return end - samples.front().whenMs == summary.longestOutageMs &&
           static_cast<std::size_t>(answer - samples.begin()) == summary.longestOutageProbes;
}
} // namespace

QChart* CHistoryChart::MakeChart(const std::vector<HistorySample>& samples) {
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    QList<QPointF> failures;
    QList<QPointF> losses;
    std::vector<QList<QPointF>> stretches(1); // runs of consecutive answers
    double slowest = 0.0;
    bool severalAttempts = false;
    for (const HistorySample& s : samples) {
        const auto x = static_cast<qreal>(s.whenMs);
        severalAttempts = severalAttempts || s.sent > 1;
        if (!s.answered) {
            failures.append({x, kFailureRow});
            if (!stretches.back().isEmpty())
                stretches.emplace_back();
            continue;
        }
        if (s.lost > 0)
            losses.append({x, kLossRow});
        if (s.roundTripUs >= 0) { // an answer without a measured round trip has no point
            const double ms = static_cast<double>(s.roundTripUs) / kUsPerMs;
            slowest = std::max(slowest, ms);
            stretches.back().append({x, ms});
        }
    }
    // Where the probes can be told apart, each answer is a dot; in a longer history only a lone
    // answer is, its neighbours' lines show the rest. A history that comes and goes so often that
    // its lines would be thousands of pieces shows dots alone: either keeps drawing fast.
    const bool lines = stretches.size() <= kMostLines;
    const bool dotEveryAnswer = samples.size() <= kDotEveryAnswerUpTo || !lines;
    QList<QPointF> answers;
    std::vector<QLineSeries*> stretchLines;
    for (const QList<QPointF>& stretch : stretches) {
        if (dotEveryAnswer || stretch.size() == 1)
            answers.append(stretch);
        if (lines && stretch.size() > 1) {
            auto* line = new QLineSeries;
            line->setColor(QColor(QString::fromLatin1(kAnswerColour)));
            line->replace(stretch);
            stretchLines.push_back(line);
        }
    }
    // Of several attempts the round trip is their median; loss is told only where it can happen.
    QScatterSeries* answered =
        Marks(severalAttempts ? kMedianName : kAnsweredName, kAnswerColour, kAnswerMarkSize, answers);
    QScatterSeries* failed = Marks(kFailedName, kFailureColour, kFailureMarkSize, failures);
    QScatterSeries* lossy = severalAttempts ? Marks(kLossName, kLossColour, kLossMarkSize, losses) : nullptr;
    if (lossy)
        lossy->setMarkerShape(QScatterSeries::MarkerShapeTriangle);

    auto* time = new QDateTimeAxis;
    const std::int64_t span = SpanOf(samples);
    const std::int64_t pad = std::max(kSmallestPadMs, span / kPadDivisor);
    time->setFormat(TimeFormat(span + 2 * pad));
    if (!samples.empty()) {
        time->setRange(QDateTime::fromMSecsSinceEpoch(samples.front().whenMs - pad),
                       QDateTime::fromMSecsSinceEpoch(samples.back().whenMs + pad));
    }
    auto* ms = new QValueAxis;
    ms->setTitleText(QStringLiteral("ms"));
    ms->setRange(0.0, slowest > 0.0 ? slowest * kHeadroom : kEmptyRangeMs);
    auto* band = new QValueAxis;
    band->setRange(kMarkBandLow, kMarkBandHigh);
    band->setVisible(false);
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(ms, Qt::AlignLeft);
    chart->addAxis(band, Qt::AlignRight);

    if (QAreaSeries* degraded = DegradedSpans(samples, pad)) {
        chart->addSeries(degraded); // first, so that it lies beneath everything
        degraded->attachAxis(time);
        degraded->attachAxis(band);
    }
    for (QLineSeries* line : stretchLines) {
        chart->addSeries(line);
        line->attachAxis(time);
        line->attachAxis(ms);
    }
    chart->addSeries(answered);
    answered->attachAxis(time);
    answered->attachAxis(ms);
    chart->addSeries(failed);
    failed->attachAxis(time);
    failed->attachAxis(band);
    if (lossy) {
        chart->addSeries(lossy);
        lossy->attachAxis(time);
        lossy->attachAxis(band);
        for (QLegendMarker* marker : chart->legend()->markers(lossy))
            marker->setShape(QLegend::MarkerShapeFromSeries); // a triangle: not only its colour tells it from a failure
    }
    // The legend names the points and the marks; the lines between the points go without.
    for (QLineSeries* line : stretchLines) {
        for (QLegendMarker* marker : chart->legend()->markers(line))
            marker->setVisible(false);
    }
    return chart;
}

CHistoryChart::CHistoryChart(const QString& entryName, const EntryRecord& record, QWidget* parent)
    : QDialog(parent), m_chart(MakeChart(record.samples)), m_summary(new QLabel(this)) {
    setWindowTitle(QStringLiteral("History of %1 - Pulsewick").arg(entryName));
    setWindowModality(Qt::WindowModal);
    const std::vector<HistorySample>& samples = record.samples;
    const HistorySummary summary = Summarise(samples);
    if (samples.empty()) {
        m_summary->setText(QString::fromLatin1(kNoProbes));
    } else {
        const QString format = TimeFormat(SpanOf(samples));
        const QString from = QDateTime::fromMSecsSinceEpoch(samples.front().whenMs).toString(format);
        const QString to = QDateTime::fromMSecsSinceEpoch(samples.back().whenMs).toString(format);
        const QString period = samples.size() == 1
                                   ? QStringLiteral("At %1: 1 probe").arg(from)
                                   : QStringLiteral("%1 to %2: %3 probes").arg(from, to).arg(samples.size());
        const bool atLeast = record.dropped > 0 && LongestOutageMayBeLonger(samples, summary);
        QString text = QStringLiteral("%1, available %2 %, longest outage %3%4")
                           .arg(period)
                           .arg(summary.availabilityPercent, 0, 'f', 1)
                           .arg(atLeast ? QStringLiteral("at least ") : QString(), OutageText(summary));
        for (const QString& more : {AttemptsLostText(summary), DegradedText(summary)}) {
            if (!more.isEmpty())
                text += QStringLiteral(", ") + more;
        }
        text += QLatin1Char('.');
        if (record.dropped > 0)
            text += QString::fromLatin1(kDroppedNote);
        m_summary->setText(text);
    }
    m_summary->setTextFormat(Qt::PlainText);
    m_summary->setWordWrap(true);
    m_summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* view = new QChartView(m_chart, this);
    view->setRenderHint(QPainter::Antialiasing);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_summary);
    layout->addWidget(view, 1);
    layout->addWidget(buttons);
    // Opens at a comfortable size; may be made smaller, down to what a small screen has room for.
    view->setMinimumSize(kChartWidth, kChartHeight);
    const QSize comfortable = sizeHint();
    view->setMinimumSize(kSmallestChartWidth, kSmallestChartHeight);
    resize(comfortable);
}

QString CHistoryChart::SummaryText() const {
    return m_summary->text();
}
