// The main window's alert policy: which scheduled passes raise the alerts, the notice that an
// outage is over, and the button that opens the policy's settings.
#include "CMainDlg.h"

#include "CAlertDispatch.h"
#include "CAlertPolicyDlg.h"
#include "CBackgroundTask.h"
#include "CDialogBuilder.h"
#include "CItemList.h"
#include "EntryParents.h"
#include "HostName.h"
#include "ListCopy.h"
#include "LocalText.h"
#include "ResourceIds.h"
#include "SmtpAlert.h"
#include "SmtpOptions.h"
#include "UserPrompts.h"

#include <QPushButton>

using namespace res;

namespace {
// Beside the e-mail alert's "..." button, in dialog units.
constexpr int kPolicyButtonLeft = 150;
constexpr int kPolicyButtonTop = 165;
constexpr int kPolicyButtonWidth = 87;
constexpr int kPolicyButtonHeight = 14;
constexpr const char* kRecoveredSummary = "Connections answer again";
constexpr const char* kRecoveryMailName = "Recovery e-mail";
constexpr const char* kCutOffSummary = "Cut off";

// The parents of holds; the first declaration that cannot be read says why.
std::optional<std::string> ReadParents(const CAlertPolicyDlg::Holds& holds, EntryParents& parents) {
    parents = {};
    for (const std::string& line : holds.behind) {
        if (auto why = parents.Add(line))
            return why;
    }
    return std::nullopt;
}
} // namespace

void CMainDlg::CreateAlertPolicyButton() {
    m_policy.SetSettings(CAlertPolicyDlg::Load());
    const CAlertPolicyDlg::Holds holds = CAlertPolicyDlg::LoadHolds();
    m_uplink = holds.uplink;
    if (const auto why = ReadParents(holds, m_parents)) // an edited settings file
        m_parentsProblem = QStringLiteral("Entries behind a parent are not used: %1.").arg(ui::FromLocal(*why));
    auto* button = new QPushButton(QStringLiteral("Ale&rt policy..."), this);
    button->setObjectName(QStringLiteral("alertPolicy"));
    button->setAutoDefault(false); // Enter in a field stays with the window, as for the template's buttons
    button->setGeometry(CDialogBuilder::MapDialogRect(
        QRect(kPolicyButtonLeft, kPolicyButtonTop, kPolicyButtonWidth, kPolicyButtonHeight),
        CDialogBuilder::BaseUnits(font())));
    // Tab reaches it where it sits: after the e-mail alert's row.
    if (QWidget* mailSettings = GetDlgItem(IDC_MAIL_SETTINGS))
        QWidget::setTabOrder(mailSettings, button);
    connect(button, &QPushButton::clicked, this, [this] {
        auto* dialog = new CAlertPolicyDlg(m_policy.GetSettings(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        // Names are checked against the list as it is when OK is pressed.
        dialog->SetHolds(CAlertPolicyDlg::LoadHolds(), [this](const CAlertPolicyDlg::Holds& value) {
            EntryParents parents;
            std::vector<std::size_t> parentOf;
            if (!value.uplink.empty()) {
                if (auto why = WhyNotHostName(value.uplink))
                    return why;
            }
            if (auto why = ReadParents(value, parents))
                return why;
            return parents.Resolve(*m_pList, parentOf);
        });
        connect(dialog, &QDialog::accepted, this, [this, dialog] {
            m_policy.SetSettings(dialog->Value());
            CAlertPolicyDlg::Save(dialog->Value());
            const CAlertPolicyDlg::Holds value = dialog->HoldsValue();
            CAlertPolicyDlg::SaveHolds(value);
            m_uplink = value.uplink;
            ReadParents(value, m_parents);
            m_parentsProblem.clear();
            UpdateStatus();
        });
        dialog->open(); // not exec(): monitoring goes on while it is open
    });
}

void CMainDlg::ScheduledPassEnded(std::function<void()> done) {
    switch (m_policy.PassEnded(m_passRecord.Results(*m_pList, &m_holds), m_holds.cutOff)) {
    case CAlertPolicy::Decision::cutOff:
        // Once per spell; the status line says it for as long as it lasts.
        ui::Prompts().Notify(QString::fromLatin1(kCutOffSummary), ui::FromLocal(CutOffText(m_uplink)));
        done();
        break;
    case CAlertPolicy::Decision::alert:
        RaiseAlerts(std::move(done));
        break;
    case CAlertPolicy::Decision::recovered: {
        m_alerts->RaiseRecovery(std::move(done));
        break;
    }
    case CAlertPolicy::Decision::none:
        done();
        break;
    }
    UpdateStatus();
}

void CMainDlg::NotifyRecovery() {
    QStringList names;
    for (const std::string& name : m_policy.RecoveredEntries())
        names << ui::FromLocal(name);
    ui::Prompts().Notify(QString::fromLatin1(kRecoveredSummary), names.join(QLatin1Char('\n')));
}

void CMainDlg::SendRecoveryMail(std::function<void(std::exception_ptr)> ended) {
    auto send = m_services.sendRecoveryMail;
    StartMail(
        kRecoveryMailName,
        [send = std::move(send), names = m_policy.RecoveredEntries()](const CItemList& list, std::stop_token stop) {
            return send ? send(list, stop, names) : ::SendRecoveryMail(list, SmtpOptions{}, stop, names);
        },
        std::move(ended));
}
