#include "CProgressDlg.h"

#include "ResourceIds.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QProgressBar>
#include <QTimerEvent>

CProgressDlg::CProgressDlg(QWidget* parent) : CDialog(res::IDD_PROGRESS, parent) {
    m_progress = GetDlgItem<QProgressBar>(res::IDC_PROGRESS);
}

CProgressDlg::~CProgressDlg() {
    if (m_nTimer != 0)
        killTimer(m_nTimer);
}

bool CProgressDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_nTimer = startTimer(kStepIntervalMs);
    return true;
}

void CProgressDlg::OnCancel() {
    m_bCancelled = 1;
    EndDialog(QDialog::Rejected);
    emit cancelled();
}

void CProgressDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_nTimer || m_nTimer == 0) {
        CDialog::timerEvent(event);
        return;
    }
    StepIt();
}

void CProgressDlg::StepIt() {
    // Starts over when a step would pass the end: the bar shows activity, not how far the run got.
    int next = m_progress->value() + kStep;
    if (next > m_progress->maximum())
        next = m_progress->minimum() + (next - m_progress->maximum());
    m_progress->setValue(next);
}

void CProgressDlg::keyPressEvent(QKeyEvent* event) {
    // Escape and Enter do nothing here: Cancel is pressed with the mouse or the space bar.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CProgressDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
}
