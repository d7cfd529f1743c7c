// What the main window says about monitoring: the status line, the title with the list's name
// and its unsaved mark, the tray icon and the text of the alerts.
#include "CMainDlg.h"

#include "CDialogBuilder.h"
#include "CItemList.h"
#include "CScheduler.h"
#include "CTrayIcon.h"
#include "EntryParents.h"
#include "LocalText.h"
#include "ProbeFailure.h"

#include <QGuiApplication>
#include <QLabel>
#include <QSessionManager>
#include <QSystemTrayIcon>

namespace {
// The status line sits under the logging group, across the window, in dialog units.
constexpr int kStatusLeft = 14;
constexpr int kStatusTop = 272;
constexpr int kStatusHeight = 10;
constexpr int kStatusBottomMargin = 4;
constexpr const char* kTimeFormat = "HH:mm";

QString EntryText(const CItem& entry) {
    const QString address = ui::FromLocal(entry.m_strAddress);
    QString text = entry.m_bConnect ? QStringLiteral("%1:%2").arg(address).arg(entry.m_nPort)
                                    : QStringLiteral("%1 (ICMP)").arg(address);
    const std::string reason = ProbeReasonText(0, entry.m_nLastFailure, entry.m_lastStats, false);
    if (entry.m_tLastProbe >= 0 && !reason.empty())
        text += QStringLiteral(": ") + QString::fromStdString(reason);
    return text;
}
} // namespace

void CMainDlg::CreateStatusLine() {
    const QSize base = CDialogBuilder::BaseUnits(font());
    const QRect line = CDialogBuilder::MapDialogRect(
        QRect(kStatusLeft, kStatusTop, Template().cx - 2 * kStatusLeft, kStatusHeight), base);
    m_pStatusLine = new QLabel(this);
    m_pStatusLine->setObjectName(QStringLiteral("statusLine"));
    m_pStatusLine->setGeometry(line);
    m_pStatusLine->setTextFormat(Qt::PlainText);
    setFixedHeight(line.bottom() + 1 +
                   CDialogBuilder::MapDialogRect(QRect(0, 0, 0, kStatusBottomMargin), base).height());

    // A session ended by the desktop must never wait on the save question.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) { OnSessionEnding(); });

    const bool trayAvailable =
        m_services.trayAvailable ? m_services.trayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
    if (trayAvailable)
        m_tray = std::make_unique<CTrayIcon>(*this);
    UpdateStatus();
}

QString CMainDlg::PassText() const {
    const PassSummary& pass = m_lastPass;
    if (!pass.when.isValid())
        return QStringLiteral("No pass yet.");
    const QString at = pass.when.toString(QString::fromLatin1(kTimeFormat));
    QString outcome;
    if (pass.failed == 0 && !pass.cancelled)
        outcome = pass.probed == 1 ? QStringLiteral("the entry answered")
                                   : QStringLiteral("all %1 answered").arg(pass.probed);
    else if (pass.failed == 0)
        outcome = QStringLiteral("cancelled, %1 answered").arg(pass.probed);
    else
        outcome = QStringLiteral("%1%2 of %3 failed")
                      .arg(pass.cancelled ? QStringLiteral("cancelled, ") : QString())
                      .arg(pass.failed)
                      .arg(pass.probed);
    if (pass.degraded > 0)
        outcome += QStringLiteral(", %1 degraded").arg(pass.degraded);
    return QStringLiteral("Last pass at %1: %2.").arg(at, outcome);
}

QString CMainDlg::StatusLineText() const {
    QString state;
    if (m_bInCheckRun)
        state = QStringLiteral("Pass in progress.");
    else if (!IsRunning())
        state = QStringLiteral("Not monitoring.");
    else if (m_scheduler->IsBusy())
        state = QStringLiteral("Monitoring, alerts in progress.");
    else if (m_nextPass.isValid() && TimerId() != 0)
        state =
            QStringLiteral("Monitoring, next pass at %1.").arg(m_nextPass.toString(QString::fromLatin1(kTimeFormat)));
    else
        state = QStringLiteral("Monitoring.");
    // An outage longer than one pass is counted (a single failure the last pass already says).
    if (const std::int32_t outage = m_policy.OutagePasses(); outage > 1 && IsRunning())
        state += QStringLiteral(" Failing for %1 passes in a row.").arg(outage);
    if (const QString holds = HoldsText(); !holds.isEmpty())
        state += QStringLiteral("  ") + holds;
    if (m_lastPass.when.isValid())
        state += QStringLiteral("  ") + PassText();
    return m_alertFailure.isEmpty() ? state : state + QStringLiteral("  ") + m_alertFailure;
}

void CMainDlg::AlertFailed(const char* what, const QString& why) {
    m_alertFailure =
        QStringLiteral("%1 at %2 failed: %3.")
            .arg(QString::fromLatin1(what), QTime::currentTime().toString(QString::fromLatin1(kTimeFormat)), why);
    UpdateStatus();
}

QString CMainDlg::FailedEntriesText() const {
    QStringList lines;
    std::size_t row = 0;
    m_pList->ForEach([this, &lines, &row](const CItem& entry) {
        const std::size_t at = row++;
        if (entry.m_bResult != 0 || m_holds.Held(at))
            return;
        lines << EntryText(entry);
        if (const std::int32_t behind = m_holds.reach.Behind(at))
            lines.back() += QStringLiteral(", ") + QString::fromStdString(BehindText(behind));
    });
    return lines.join(QLatin1Char('\n'));
}

void CMainDlg::OnPassEnded() {
    m_currentPass.when = QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(m_passRecord.EndedAt().time_since_epoch()).count());
    m_lastPass = m_currentPass;
    UpdateStatus();
}

void CMainDlg::UpdateStatus() {
    if (!m_pSavedContent || !m_scheduler)
        return; // still being built
    // "[*]" is where Qt draws the unsaved mark.
    setWindowTitle(QStringLiteral("%1[*] - %2").arg(DocumentName(), QString::fromUtf8(Template().caption)));
    setWindowModified(IsModified());
    if (m_pStatusLine) {
        m_pStatusLine->setText(StatusLineText());
        m_pStatusLine->setToolTip(m_pStatusLine->text()); // whole where the window is narrow
    }
    if (m_tray)
        m_tray->Update();
}
