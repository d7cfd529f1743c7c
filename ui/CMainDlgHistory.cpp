// The history of each entry in this session, kept in memory as rows are reported, and its chart
// on request: "History..." in the list's context menu, or Ctrl+H on the selected row.
#include "CMainDlg.h"

#include "CItemList.h"
#include "LocalText.h"

#include <QAction>
#include <QMenu>
#include <QTreeWidget>
#include <algorithm>
#include <limits>

namespace {
constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int32_t kMostAttempts = std::numeric_limits<std::uint8_t>::max(); // a sample's count
} // namespace

void CMainDlg::ConnectHistory() {
    QTreeWidget* view = ListView();
    auto* history = new QAction(QStringLiteral("&History..."), view);
    history->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_H));
    history->setShortcutContext(Qt::WidgetShortcut);
    view->addAction(history);
    connect(history, &QAction::triggered, this, [this] { ShowHistory(); });
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, [this, view, history](const QPoint& at) {
        if (!view->itemAt(at))
            return;
        QMenu menu(view);
        menu.addAction(history);
        menu.exec(view->viewport()->mapToGlobal(at));
    });
}

void CMainDlg::RecordHistory(const CItem& entry) {
    if (entry.m_tLastProbe < 0)
        return;
    const ProbeStats& stats = entry.m_lastStats;
    const auto attempts = [](std::int32_t n) { return static_cast<std::uint8_t>(std::clamp(n, 0, kMostAttempts)); };
    m_history.Add(&entry, HistorySample{.whenMs = entry.m_tLastProbe * kMsPerSecond,
                                        .answered = entry.m_bResult != 0,
                                        .degraded = entry.m_bLastDegraded,
                                        .sent = attempts(stats.sent),
                                        .lost = attempts(stats.sent - stats.received),
                                        .roundTripUs = entry.m_nLastRoundTripUs});
}

void CMainDlg::ForgetRemovedHistory() {
    std::vector<const CItem*> entries;
    m_pList->ForEach([&entries](const CItem& entry) { entries.push_back(&entry); });
    m_history.KeepOnly(entries);
}

void CMainDlg::ShowHistory() {
    QTreeWidgetItem* row = ListView()->currentItem();
    const int index = row ? ListView()->indexOfTopLevelItem(row) : -1;
    if (index < 0 || static_cast<std::size_t>(index) >= m_pList->GetCount() || !m_services.showHistory)
        return;
    const CItem& entry = m_pList->GetAt(static_cast<std::size_t>(index));
    QString name = ui::FromLocal(entry.m_strAddress);
    name += entry.m_bConnect ? QStringLiteral(":%1").arg(entry.m_nPort) : QStringLiteral(" (ICMP)");
    m_services.showHistory(name, m_history.Record(&entry), this);
}
