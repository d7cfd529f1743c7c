#include "CMailDlg.h"

#include "CDataExchange.h"
#include "CItemList.h"
#include "CMailAccount.h"
#include "ResourceIds.h"
#include "UserPrompts.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

CMailDlg::CMailDlg(CItemList& list, QWidget* owner) : CMailDlg(list, nullptr, owner) {}

CMailDlg::CMailDlg(CItemList& list, CMailAccount* account, QWidget* owner)
    : CDialog(res::IDD_MAIL, owner), m_pList(&list), m_pAccount(account) {
    // textEdited, not textChanged: only the user's typing, pasting and deleting count.
    if (auto* from = GetDlgItem<QLineEdit>(res::IDC_MAIL_FROM))
        connect(from, &QLineEdit::textEdited, this, [this] { OnChangeFrom(); });
    if (m_pAccount) {
        AddProviderGroup();
        connect(m_pAccount, &CMailAccount::StoreStateChanged, this, [this] { ShowStoreState(); });
    }
}

void CMailDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, res::IDC_MAIL_FROM, m_strFrom);
    DDX_Text(dx, res::IDC_MAIL_SERVER, m_strServer);
    DDX_Text(dx, res::IDC_MAIL_SUBJECT, m_strSubject);
    DDX_Text(dx, res::IDC_MAIL_TO, m_strTo);
}

bool CMailDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strFrom = m_pList->m_strFrom;
    m_strServer = m_pList->m_strServer;
    m_strTo = m_pList->m_strTo;
    m_strSubject = m_pList->m_strSubject;
    UpdateData(false);
    if (m_pAccount) {
        const SmtpOptions options = m_pAccount->Options();
        m_port->setValue(options.port);
        // An unknown setting shows no choice, and OK waits for one.
        m_security->setCurrentIndex(options.unusable.empty() ? m_security->findData(static_cast<int>(options.security))
                                                             : -1);
        // Kept with a login, the security was chosen (see CMailAccount); otherwise None is only
        // the default, which a login typed now does not take.
        m_bSecurityChosen = options.unusable.empty() && !options.user.empty();
        m_user->setText(QString::fromStdString(options.user));
        m_password->setText(QString::fromStdString(options.password));
        m_caFile->setText(QString::fromStdString(options.caFile));
        ShowStoreState();
    }
    return true;
}

void CMailDlg::OnOK() {
    if (m_pAccount && !m_bSecurityChosen && !m_user->text().trimmed().isEmpty() &&
        m_security->currentData().toInt() == static_cast<int>(SmtpSecurity::None))
        m_security->setCurrentIndex(-1);
    if (m_pAccount && m_security->currentIndex() < 0) {
        ui::ShowMessage(this, QString::fromLatin1(kChooseSecurity), ui::MessageIcon::warning);
        return;
    }
    UpdateData(true);
    m_pList->m_strFrom = m_strFrom;
    m_pList->m_strServer = m_strServer;
    m_pList->m_strTo = m_strTo;
    m_pList->m_strSubject = m_strSubject;
    if (m_pAccount)
        m_pAccount->Store(ProviderOptions());
    EndDialog(QDialog::Accepted);
}

void CMailDlg::OnChangeFrom() {
    UpdateData(true);
    if (const auto at = m_strFrom.find('@'); at != std::string::npos)
        m_strServer = m_strFrom.substr(at + 1);
    m_strTo = m_strFrom;

    // Writing the fields back must not move the cursor of the user typing in the From field.
    auto* from = GetDlgItem<QLineEdit>(res::IDC_MAIL_FROM);
    const int cursor = from ? from->cursorPosition() : 0;
    UpdateData(false);
    if (from)
        from->setCursorPosition(cursor);
}
