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
    CHistoryChart(const QString& entryName, const std::vector<HistorySample>& samples, QWidget* parent);

    QString SummaryText() const;
    QChart* Chart() const { return m_chart; }

    // The chart of samples: a line of round trips in milliseconds and marks for failed probes.
    static QChart* MakeChart(const std::vector<HistorySample>& samples);

private:
    QChart* m_chart;
    QLabel* m_summary;
};
