#pragma once

#include "EntryHistory.h"

#include <QDialog>
#include <vector>

class QChart;
class QLabel;

// The history of one entry in this session: the round trip over time with the failed probes
// marked, and the entry's availability and longest outage over the period shown. Modal to the
// main window, resizable; Close or Escape ends it.
class CHistoryChart final : public QDialog {
    Q_OBJECT
public:
    // The series a reader of the chart finds by name; each stretch of consecutive answers is a
    // line of its own, unnamed.
    static constexpr const char* kAnsweredName = "Round trip (ms)";
    static constexpr const char* kFailedName = "Failed probe";

    CHistoryChart(const QString& entryName, const EntryRecord& record, QWidget* parent);

    QString SummaryText() const;
    QChart* Chart() const { return m_chart; }

    // The chart of samples: every answered probe at its round trip in milliseconds, as a dot and
    // on lines only between consecutive answers (so an outage is a gap; in a long history only a
    // lone answer keeps its dot), and a mark for every failed probe, all inside the plot.
    static QChart* MakeChart(const std::vector<HistorySample>& samples);

private:
    QChart* m_chart;
    QLabel* m_summary;
};
