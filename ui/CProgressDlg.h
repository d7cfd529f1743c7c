#pragma once

#include "CDialog.h"

class QProgressBar;

#include <cstddef>

// The small window shown during a check run: a progress bar that runs from 0 to the number of
// entries and advances as their probes end, and a Cancel button. Escape, Enter and the window
// manager's close do nothing; only Cancel ends it.
class CProgressDlg : public CDialog {
    Q_OBJECT
public:
    explicit CProgressDlg(QWidget* parent);

    // The bar's end: the number of entries of the run; the bar starts empty.
    void SetTotal(std::size_t entries);
    // Entries finished so far.
    void SetFinished(std::size_t entries);

    int m_bCancelled = 0;
    QProgressBar* m_progress = nullptr;

signals:
    void cancelled();

protected:
    void OnCancel() override;
    void OnOK() override {}
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::size_t m_total = 0;
};
