#include "CProgressDlg.h"

#include "ResourceIds.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QProgressBar>

#include <algorithm>
#include <limits>

CProgressDlg::CProgressDlg(QWidget* parent) : CDialog(res::IDD_PROGRESS, parent) {
    m_progress = GetDlgItem<QProgressBar>(res::IDC_PROGRESS);
}

namespace {

// A bar holds int; a list longer than that is shown to scale.
int BarUnits(std::size_t entries, std::size_t total) {
    constexpr std::size_t kMaxUnits = std::numeric_limits<int>::max();
    if (total <= kMaxUnits)
        return static_cast<int>(entries);
    return static_cast<int>(static_cast<double>(entries) / static_cast<double>(total) * kMaxUnits);
}

} // namespace

void CProgressDlg::SetTotal(std::size_t entries) {
    m_total = entries;
    // An empty range would make the bar a busy indicator; an empty list shows an empty bar.
    m_progress->setRange(0, std::max(BarUnits(entries, entries), 1));
    m_progress->setValue(0);
}

void CProgressDlg::SetFinished(std::size_t entries) {
    m_progress->setValue(BarUnits(std::min(entries, m_total), m_total));
}

void CProgressDlg::OnCancel() {
    m_bCancelled = 1;
    EndDialog(QDialog::Rejected);
    emit cancelled();
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
