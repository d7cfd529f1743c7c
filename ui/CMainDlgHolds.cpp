// What holds the main window's alerts: the uplink echoed with every run, the list's mute state
// ("Pause alerts", shared with the monitor and the companion's mute) and the entries behind a
// parent. The decisions are the alert policy's and PassHolds'; the window gathers and shows.
#include "CMainDlg.h"

#include "CDialogBuilder.h"
#include "CItemList.h"
#include "EntryNames.h"
#include "LocalText.h"
#include "MuteFile.h"
#include "ResourceIds.h"
#include "UserPrompts.h"

#include <QDateTime>
#include <QMenu>
#include <QPushButton>

#include <ctime>

using namespace res;

namespace {
// Beside the pager alert's row, above "Alert policy...", in dialog units.
constexpr int kPauseButtonLeft = 150;
constexpr int kPauseButtonTop = 141;
constexpr int kPauseButtonWidth = 87;
constexpr int kPauseButtonHeight = 14;

struct Pause {
    const char* text;
    std::int64_t seconds;
};
constexpr Pause kPauses[] = {
    {"15 minutes", 15 * 60}, {"1 hour", 3600}, {"4 hours", 4 * 3600}, {"Until resumed", MuteState::kUntilResumed}};

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

// "14:00" today, "2 May 14:00" on another day.
QString UntilText(std::int64_t until) {
    if (until == MuteState::kUntilResumed)
        return QStringLiteral("resumed");
    const QDateTime at = QDateTime::fromSecsSinceEpoch(until);
    return at.toString(at.date() == QDate::currentDate() ? QStringLiteral("HH:mm") : QStringLiteral("d MMM HH:mm"));
}

QString Sentence(const std::string& text) {
    QString sentence = ui::FromLocal(text);
    if (!sentence.isEmpty())
        sentence[0] = sentence[0].toUpper();
    return sentence + QLatin1Char('.');
}
} // namespace

void CMainDlg::CreatePauseButton() {
    auto* button = new QPushButton(QStringLiteral("Pa&use alerts"), this);
    button->setObjectName(QStringLiteral("pauseAlerts"));
    button->setAutoDefault(false);
    button->setGeometry(
        CDialogBuilder::MapDialogRect(QRect(kPauseButtonLeft, kPauseButtonTop, kPauseButtonWidth, kPauseButtonHeight),
                                      CDialogBuilder::BaseUnits(font())));
    button->setMenu(CreatePauseMenu(button));
    if (QWidget* pagerSettings = GetDlgItem(IDC_PAGER_SETTINGS))
        QWidget::setTabOrder(pagerSettings, button);
}

QMenu* CMainDlg::CreatePauseMenu(QWidget* parent) {
    auto* menu = new QMenu(QStringLiteral("Pause alerts"), parent);
    for (const Pause& pause : kPauses)
        menu->addAction(QString::fromLatin1(pause.text), this,
                        [this, seconds = pause.seconds] { PauseAlerts(seconds); });
    menu->addSeparator();
    QAction* resume = menu->addAction(QStringLiteral("Resume alerts"), this, [this] { ResumeAlerts(); });
    // Another program may have muted or resumed the list since.
    connect(menu, &QMenu::aboutToShow, resume, [this, resume] {
        ReadMutes();
        resume->setEnabled(m_mutes.listUntil > Now());
    });
    return menu;
}

void CMainDlg::PauseAlerts(std::int64_t seconds) {
    const std::int64_t until = seconds == MuteState::kUntilResumed ? seconds : Now() + seconds;
    ChangeMutes([until](MuteState& state) { state.HoldUntil({}, until); });
}

void CMainDlg::ResumeAlerts() {
    ChangeMutes([](MuteState& state) { state.listUntil = 0; });
}

void CMainDlg::ReadMutes() {
    if (m_strListPath.empty()) {
        m_mutes.Expire(Now()); // a list without a file keeps its pause here
        return;
    }
    std::string problem;
    m_mutes = MuteFile({}, m_strListPath).Read(problem);
    m_muteProblem = problem.empty() ? QString() : QStringLiteral("Mute state: %1.").arg(ui::FromLocal(problem));
}

void CMainDlg::ChangeMutes(const std::function<void(MuteState&)>& change) {
    if (m_strListPath.empty()) {
        change(m_mutes);
    } else {
        std::string problem;
        const std::string error = MuteFile({}, m_strListPath).Change(change, problem, MuteFile::kBriefLockWait);
        if (!error.empty())
            ui::ShowMessage(this,
                            QStringLiteral("Alerts could not be paused or resumed now: %1.").arg(ui::FromLocal(error)),
                            ui::MessageIcon::warning);
    }
    ReadMutes();
    UpdateStatus();
}

void CMainDlg::MutesFollowPath(const std::string& oldPath) {
    if (oldPath == m_strListPath)
        return;
    const MuteState kept = m_mutes;
    if (oldPath.empty() && !m_strListPath.empty() && kept.listUntil > Now())
        ChangeMutes([&kept](MuteState& state) { state.listUntil = kept.listUntil; });
    else
        ReadMutes();
}

void CMainDlg::JudgeHolds(std::optional<bool> uplinkAnswered) {
    ReadMutes();
    std::vector<std::size_t> parentOf;
    m_parentsProblem.clear();
    if (const auto why = m_parents.Resolve(*m_pList, parentOf)) {
        m_parentsProblem = QStringLiteral("Entries behind a parent are not used: %1.").arg(ui::FromLocal(*why));
        parentOf.clear();
    }
    m_holds = JudgePass(*m_pList, m_passRecord, {uplinkAnswered, &m_mutes, Now(), &parentOf});
    for (std::size_t row = 0; row < m_pList->GetCount(); ++row) {
        if (m_holds.reach.Unreachable(row))
            ShowUnreachable(row, ui::FromLocal(UnreachableText(
                                     entrynames::EntryName(m_pList->GetAt(m_holds.reach.downParent[row])))));
    }
}

QString CMainDlg::HoldsText() const {
    QStringList parts;
    if (m_policy.IsCutOff())
        parts << Sentence(CutOffText(m_uplink));
    const std::int64_t now = Now();
    if (m_mutes.listUntil > now)
        parts << QStringLiteral("Alerts paused until %1.").arg(UntilText(m_mutes.listUntil));
    const auto entries = std::count_if(m_mutes.entries.begin(), m_mutes.entries.end(),
                                       [now](const auto& entry) { return entry.second > now; });
    if (entries > 0)
        parts << QStringLiteral("Alerts of %1 %2 paused.").arg(entries).arg(entries == 1 ? "entry" : "entries");
    for (const QString& problem : {m_muteProblem, m_parentsProblem}) {
        if (!problem.isEmpty())
            parts << problem;
    }
    return parts.join(QStringLiteral("  "));
}
