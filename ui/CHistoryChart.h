#pragma once

#include "EntryHistory.h"

#include <QDialog>
#include <vector>

class QChart;
class QLabel;

// The history of one entry in this session: the round trip over time with the failed probes and
// the probes with loss marked and the degraded spans shaded, and the entry's availability, longest
// outage, loss and time degraded over the period shown. Modal to the main window, resizable;
// Close or Escape ends it.
class CHistoryChart final : public QDialog {
    Q_OBJECT
public:
    // The series a reader of the chart finds by name; each stretch of consecutive answers is a
    // line of its own, unnamed.
    static constexpr const char* kAnsweredName = "Round trip (ms)";
    static constexpr const char* kMedianName = "Median round trip (ms)"; // of probes of several attempts
    static constexpr const char* kFailedName = "Failed probe";
    static constexpr const char* kLossName = "Probe with loss";
    static constexpr const char* kDegradedName = "Degraded";

    CHistoryChart(const QString& entryName, const EntryRecord& record, QWidget* parent);

    QString SummaryText() const;
    QChart* Chart() const { return m_chart; }

    // The chart of samples: every answered probe at its round trip in milliseconds, as a dot and
    // on lines only between consecutive answers (so an outage is a gap; in a long history only a
    // lone answer keeps its dot), a mark for every failed probe and, above those, for every answered
    // probe that lost attempts, all inside the plot; the spans in which the entry was degraded shaded.
    // The marks of loss come with probes of several attempts only, the shading with degraded ones.
    static QChart* MakeChart(const std::vector<HistorySample>& samples);

private:
    QChart* m_chart;
    QLabel* m_summary;
};
