#include "CPagerDlg.h"

#include "CDataExchange.h"
#include "CItemList.h"
#include "CPagerAlert.h"
#include "ResourceIds.h"

CPagerDlg::CPagerDlg(CItemList& list, QWidget* owner) : CDialog(res::IDD_PAGER, owner), m_pList(&list) {}

void CPagerDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, res::IDC_MODEM_INIT, m_strModemInit);
    DDX_Text(dx, res::IDC_MESSAGE_CODE, m_strMessageCode);
    DDX_Text(dx, res::IDC_PAGER_NUMBER, m_strPagerNumber);
    DDX_Text(dx, res::IDC_PAUSE, m_nPause, CPagerAlert::kMinPause, CPagerAlert::kMaxPause);
    // Writing an index outside the port list leaves no port selected; reading that gives -1.
    DDX_CBIndex(dx, res::IDC_COM_PORT, m_nComPort);
}

bool CPagerDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strModemInit = m_pList->m_strModemInit;
    m_strMessageCode = m_pList->m_strMessageCode;
    m_strPagerNumber = m_pList->m_strPagerNumber;
    m_nPause = m_pList->m_nPause;
    m_nComPort = m_pList->m_nComPort;
    UpdateData(false);
    return true;
}

void CPagerDlg::OnOK() {
    // A refused field has shown its message and taken the focus; the list stays untouched.
    if (!UpdateData(true))
        return;
    m_pList->m_strModemInit = m_strModemInit;
    m_pList->m_strMessageCode = m_strMessageCode;
    m_pList->m_strPagerNumber = m_strPagerNumber;
    m_pList->m_nPause = m_nPause;
    m_pList->m_nComPort = m_nComPort;
    EndDialog(QDialog::Accepted);
}
