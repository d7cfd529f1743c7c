#pragma once

#include "CDialog.h"

class QProgressBar;

// The small window shown during a check run: a progress bar that steps every 250 ms as an
// activity indicator, and a Cancel button. Escape, Enter and the window manager's close do
// nothing; only Cancel ends it.
class CProgressDlg : public CDialog {
    Q_OBJECT
public:
    static constexpr int kStepTimerId = 1;
    static constexpr int kStepIntervalMs = 250;
    static constexpr int kStep = 10;

    explicit CProgressDlg(QWidget* parent);
    ~CProgressDlg() override;

    int m_bCancelled = 0;
    QProgressBar* m_progress = nullptr;
    int m_nTimer = 0; // identifier of the step timer, 0 when none

signals:
    void cancelled();

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void OnOK() override {}
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void StepIt();
};
