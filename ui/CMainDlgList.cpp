// The list commands of the main window: the list view, Add, Edit, Delete, Save and Load.
#include "CMainDlg.h"

#include "CItemList.h"
#include "CScheduler.h"
#include "ChosenFile.h"
#include "IcmpProbe.h"
#include "ListFile.h"
#include "LocalText.h"
#include "ProbeFailure.h"
#include "ResourceIds.h"
#include "ScopedValue.h"
#include "UserPrompts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QHeaderView>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kAddressColumn = 0;
constexpr int kPortColumn = 1;
constexpr int kStatusColumn = 2;
constexpr int kRoundTripColumn = 3;
constexpr int kLossColumn = 4;
constexpr int kCheckedColumn = 5;
constexpr int kReasonColumn = 6;
constexpr int kEntryRole = Qt::UserRole;
constexpr const char* kListFilter = "Pulsewick list (*.pwk)";
constexpr const char* kListSuffix = "pwk";

struct Column {
    const char* heading;
    int width; // pixels
};
// After the three columns of the list file's view: what the last probe found, shown only.
constexpr Column kColumns[] = {{"IP Address", 160}, {"Port", 56},    {"OK", 40},     {"Round trip", 76},
                               {"Loss", 50},        {"Checked", 68}, {"Reason", 170}};
// Rows the list view shows when the window first opens.
constexpr int kRowsShown = 8;
constexpr const char* kCheckedFormat = "HH:mm:ss";

QString StatusText(int result) {
    return result ? QStringLiteral("Yes") : QStringLiteral("No");
}

// Three significant digits: "0.045 ms" on loopback, "6.3 ms" on a LAN, "123 ms" far away.
QString RoundTripMs(std::int64_t us) {
    constexpr int kSignificantDigits = 3;
    return QString::number(static_cast<double>(us) / 1000.0, 'g', kSignificantDigits);
}

// What the probe cells of a row show.
struct ProbeCells {
    bool probed = false; // not since the list was loaded: a stored status carries none of the rest
    int result = 0;
    std::int64_t roundTripUs = -1;
    ProbeFailure failure = ProbeFailure::unknown;
    std::int64_t when = -1; // when the probe ended, epoch seconds
    bool icmp = false;      // the ICMP privilege help belongs on ICMP rows only
    ProbeStats stats;       // of its attempts
    bool degraded = false;
};

ProbeCells CellsOf(const CItem& entry) {
    return {entry.m_tLastProbe >= 0, entry.m_bResult,   entry.m_nLastRoundTripUs, entry.m_nLastFailure,
            entry.m_tLastProbe,      !entry.m_bConnect, entry.m_lastStats,        entry.m_bLastDegraded};
}

// The round trip, the local time the probe ended and the reason of a failure; empty cells for an
// entry not probed since the list was loaded.
void FillProbeCells(QTreeWidgetItem& row, const ProbeCells& cells) {
    row.setText(kStatusColumn, StatusText(cells.result));
    row.setText(kRoundTripColumn, cells.probed && cells.result && cells.roundTripUs >= 0
                                      ? QStringLiteral("%1 ms").arg(RoundTripMs(cells.roundTripUs))
                                      : QString());
    // The share lost tells something only of several attempts.
    row.setText(kLossColumn, cells.probed && cells.stats.sent > 1
                                 ? QStringLiteral("%1 %").arg(std::lround(cells.stats.LossRatio() * 100.0))
                                 : QString());
    row.setText(kCheckedColumn,
                cells.probed ? QDateTime::fromSecsSinceEpoch(cells.when).toString(kCheckedFormat) : QString());
    const QString reason =
        cells.probed ? QString::fromStdString(ProbeReasonText(cells.result, cells.failure, cells.stats, cells.degraded))
                     : QString();
    row.setText(kReasonColumn, reason);
    QString tip;
    if (cells.icmp && cells.failure == ProbeFailure::noPermission && !reason.isEmpty()) {
        // How to grant it, with this program's own path.
        tip = QString::fromLatin1(kIcmpPrivilegeHelp).trimmed();
        tip.replace(QStringLiteral("PROGRAM"), QCoreApplication::applicationFilePath());
    }
    for (int column = 0; column < row.columnCount(); ++column)
        row.setToolTip(column, tip.isEmpty() ? reason : tip);
}

CItem* EntryOf(const QTreeWidgetItem* row) {
    return static_cast<CItem*>(row->data(kAddressColumn, kEntryRole).value<void*>());
}

// Selected rows in ascending order.
std::vector<QTreeWidgetItem*> SelectedRows(QTreeWidget& view) {
    std::vector<std::pair<int, QTreeWidgetItem*>> rows;
    for (QTreeWidgetItem* row : view.selectedItems())
        rows.emplace_back(view.indexOfTopLevelItem(row), row);
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<QTreeWidgetItem*> result;
    for (const auto& [index, row] : rows)
        result.push_back(row);
    return result;
}

// Starts in the folder of the current list, when it has one; saving offers its name.
ui::FileDialogRequest ListFileRequest(ui::FileDialogRequest::Mode mode, const std::string& listPath) {
    ui::FileDialogRequest request;
    if (!listPath.empty()) {
        const QFileInfo file(ui::FromLocal(listPath));
        request.directory = file.absolutePath();
        if (mode == ui::FileDialogRequest::Mode::save)
            request.fileName = file.fileName();
    }
    request.mode = mode;
    request.filter = QString::fromLatin1(kListFilter);
    request.defaultSuffix = QString::fromLatin1(kListSuffix);
    request.confirmOverwrite = mode == ui::FileDialogRequest::Mode::save;
    return request;
}

} // namespace

void CMainDlg::ShowUnreachable(std::size_t row, const QString& reason) {
    if (QTreeWidgetItem* cells = ListView()->topLevelItem(static_cast<int>(row))) {
        cells->setText(kReasonColumn, reason);
        for (int column = 0; column < cells->columnCount(); ++column)
            cells->setToolTip(column, reason);
    }
}

void CMainDlg::RefreshList() {
    QTreeWidget* view = ListView();
    view->setUpdatesEnabled(false);
    view->clear();
    view->setColumnCount(static_cast<int>(std::size(kColumns)));
    QStringList headings;
    for (const Column& c : kColumns)
        headings << QString::fromLatin1(c.heading);
    view->setHeaderLabels(headings);
    for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i) {
        view->setColumnWidth(i, kColumns[i].width);
        view->headerItem()->setTextAlignment(i, Qt::AlignCenter);
    }
    view->header()->setStretchLastSection(true); // a wider window widens the reasons, not an empty strip

    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(m_pList->GetCount()));
    m_pList->ForEach([&rows](CItem& entry) {
        auto* row = new QTreeWidgetItem;
        row->setText(kAddressColumn, ui::FromLocal(entry.m_strAddress));
        row->setText(kPortColumn, entry.m_bConnect ? QString::number(entry.m_nPort) : QStringLiteral("ICMP"));
        FillProbeCells(*row, CellsOf(entry));
        for (int i = 0; i < static_cast<int>(std::size(kColumns)); ++i)
            row->setTextAlignment(i, Qt::AlignCenter);
        row->setData(kAddressColumn, kEntryRole, QVariant::fromValue(static_cast<void*>(&entry)));
        rows.append(row);
    });
    view->addTopLevelItems(rows);
    view->setUpdatesEnabled(true);
    ForgetRemovedHistory();
    UpdateStatus(); // entries added, edited or deleted change the title's mark
}

QSize CMainDlg::ListExtraRoom() const {
    const QTreeWidget* view = ListView();
    int columns = 0;
    for (const Column& c : kColumns)
        columns += c.width;
    const int frame = 2 * view->frameWidth();
    const int bar = view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    const int rowHeight = view->fontMetrics().height() + 2 * view->style()->pixelMetric(QStyle::PM_FocusFrameVMargin);
    const int height = (kRowsShown + 1) * rowHeight + frame + bar; // with the headings
    return {std::max(0, columns + frame + bar - view->width()), std::max(0, height - view->height())};
}

void CMainDlg::SetRowStatus(std::size_t row, int result) {
    ++m_currentPass.probed;
    if (result == 0)
        ++m_currentPass.failed;
    if (row < m_pList->GetCount() && m_pList->GetAt(row).m_bLastDegraded)
        ++m_currentPass.degraded;
    if (QTreeWidgetItem* item = ListView()->topLevelItem(static_cast<int>(row))) {
        ProbeCells cells = row < m_pList->GetCount() ? CellsOf(m_pList->GetAt(row)) : ProbeCells{};
        cells.result = result;
        FillProbeCells(*item, cells);
    }
    if (row < m_pList->GetCount())
        RecordHistory(m_pList->GetAt(row));
}

void CMainDlg::ShowProbeEnded(std::size_t row, const ProbeOutcome& outcome, std::int64_t endedAt) {
    const bool icmp = row < m_pList->GetCount() && !m_pList->GetAt(row).m_bConnect;
    if (QTreeWidgetItem* item = ListView()->topLevelItem(static_cast<int>(row)))
        FillProbeCells(*item, {true, outcome.result, outcome.roundTripUs, outcome.failure, endedAt, icmp, outcome.stats,
                               IsDegraded(outcome.result, outcome.stats, m_probeSettings)});
}

void CMainDlg::RunEditor(const std::function<void()>& edit) {
    // A scheduled run that falls due while an entry is being edited waits for the dialog, so
    // the worker never reads an entry that is being changed.
    const auto resume = [this] {
        if (m_nEditorDepth == 0)
            m_scheduler->RunDeferredTick();
    };
    {
        const ScopedValue<int> editing(m_nEditorDepth, m_nEditorDepth + 1);
        try {
            edit();
        } catch (...) {
            // The dialog failed; a run that fell due meanwhile still follows it, once the
            // failure has been dealt with by whoever takes it.
            QMetaObject::invokeMethod(this, resume, Qt::QueuedConnection);
            throw;
        }
    }
    resume();
}

void CMainDlg::AddEntry() {
    auto entry = std::make_unique<CItem>();
    if (m_services.editItem)
        RunEditor([&] { m_services.editItem(*entry, this); });
    // The entry is appended however the dialog ended.
    m_pList->AddTail(std::move(entry));
    RefreshList();
}

void CMainDlg::EditSelectedEntries() {
    for (QTreeWidgetItem* row : SelectedRows(*ListView())) {
        CItem* entry = EntryOf(row);
        if (entry && m_services.editItem)
            RunEditor([&] { m_services.editItem(*entry, this); });
    }
    RefreshList();
}

void CMainDlg::DeleteSelectedEntries() {
    for (QTreeWidgetItem* row : SelectedRows(*ListView())) {
        if (auto position = m_pList->Find(EntryOf(row)))
            m_pList->RemoveAt(*position);
    }
    RefreshList();
}

void CMainDlg::SaveList() {
    (void)SaveListAs();
}

bool CMainDlg::SaveListAs() {
    const std::string path = ui::AskForFile(this, ListFileRequest(ui::FileDialogRequest::Mode::save, m_strListPath));
    if (path.empty())
        return false;
    return SaveListTo(path);
}

void CMainDlg::LoadList() {
    if (!ConfirmDiscardChanges())
        return;
    const std::string path = ui::AskForFile(this, ListFileRequest(ui::FileDialogRequest::Mode::open, m_strListPath));
    if (path.empty())
        return;
    LoadListFile(path);
}

CMainDlg::LoadOutcome CMainDlg::LoadListFile(const std::string& path) {
    ListFileLoadResult result = ::LoadListFile(path);
    LoadOutcome outcome = LoadOutcome::loaded;
    switch (result.status) {
    case ListFileStatus::ok:
        // Rows of the view point into the old list: rebuild before anything can look at them.
        m_pList = std::move(result.list);
        MarkSaved(path, result.stamp);
        break;
    case ListFileStatus::noList:
        outcome = LoadOutcome::noList;
        break;
    case ListFileStatus::fileError:
        ui::ShowMessage(this, ui::FromLocal(result.message), ui::MessageIcon::warning, true);
        outcome = LoadOutcome::openFailed;
        break;
    case ListFileStatus::archiveError:
        ui::ShowMessage(this, ui::FromLocal(result.message), ui::MessageIcon::critical, true);
        ui::ShowMessage(this, ui::FromLocal(result.causeText), ui::MessageIcon::critical);
        return LoadOutcome::corrupt;
    }
    RefreshFromList();
    return outcome;
}
