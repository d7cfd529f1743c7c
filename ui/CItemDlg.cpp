#include "CItemDlg.h"

#include "CDataExchange.h"
#include "CItem.h"
#include "CSpinButtonCtrl.h"
#include "ResourceIds.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

CItemDlg::CItemDlg(CItem& item, QWidget* parent) : CDialog(res::IDD_ITEM, parent), m_pItem(item) {
    for (const int id : {res::IDC_ICMP, res::IDC_CONNECT}) {
        if (auto* radio = GetDlgItem<QAbstractButton>(id))
            connect(radio, &QAbstractButton::clicked, this, [this] { OnProtocol(); });
    }
    // Only a choice of the user counts, not the selection the data exchange writes.
    if (auto* combo = GetDlgItem<QComboBox>(res::IDC_SERVICE))
        connect(combo, &QComboBox::activated, this, [this] { OnSelchangeService(); });
}

std::optional<std::int32_t> CItemDlg::ServicePort(const std::string& name) {
    for (const Service& service : kServices) {
        if (name == service.name)
            return service.port;
    }
    return std::nullopt;
}

void CItemDlg::DoDataExchange(CDataExchange& dx) {
    CDialog::DoDataExchange(dx);
    m_spinPort = GetDlgItem<CSpinButtonCtrl>(res::IDC_PORT_SPIN);
    m_editPort = GetDlgItem<QLineEdit>(res::IDC_PORT);
    m_comboService = GetDlgItem<QComboBox>(res::IDC_SERVICE);
    DDX_Text(dx, res::IDC_ADDRESS, m_strAddress);
    DDX_CBString(dx, res::IDC_SERVICE, m_strService);
    DDX_Text(dx, res::IDC_PORT, m_nPort);
    DDX_Radio(dx, res::IDC_ICMP, m_nProtocol);
}

bool CItemDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // Any nonzero probe kind means Connect (a list file may hold other values than 1); show it
    // checked rather than leave both buttons clear.
    m_nProtocol = m_pItem.m_bConnect != 0 ? 1 : 0;
    m_strAddress = m_pItem.m_strAddress;
    m_nPort = m_pItem.m_nPort;
    UpdateData(false);
    if (m_spinPort)
        m_spinPort->SetRange(kSpinLower, kSpinUpper);
    if (QWidget* first = GetDlgItem(res::IDC_ADDRESS))
        first->setFocus(Qt::OtherFocusReason);
    return false; // the focus has been placed
}

void CItemDlg::OnProtocol() {
    UpdateData(true);
    EnablePortControls(m_nProtocol == 1);
}

void CItemDlg::OnSelchangeService() {
    UpdateData(true);
    if (const auto port = ServicePort(m_strService)) {
        m_nPort = *port;
        UpdateData(false);
    }
}

void CItemDlg::OnOK() {
    if (!UpdateData(true))
        return; // the port field has shown its message and has the focus
    m_pItem.m_bConnect = m_nProtocol;
    m_pItem.m_strAddress = m_strAddress;
    m_pItem.m_nPort = m_nPort;
    EndDialog(QDialog::Accepted);
}

void CItemDlg::EnablePortControls(bool enable) {
    for (QWidget* control : {static_cast<QWidget*>(m_spinPort), static_cast<QWidget*>(m_editPort),
                             static_cast<QWidget*>(m_comboService)}) {
        if (control)
            control->setEnabled(enable);
    }
}
