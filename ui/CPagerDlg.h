#pragma once

#include "CDialog.h"

#include <cstdint>
#include <string>

class CItemList;

// "Pager properties": edits the modem and pager settings of the list. The list changes only
// when OK succeeds; Cancel leaves it as it was.
class CPagerDlg : public CDialog {
    Q_OBJECT
public:
    CPagerDlg(CItemList& list, QWidget* owner);

    std::string m_strModemInit;
    std::string m_strMessageCode;
    std::string m_strPagerNumber;
    std::int32_t m_nPause = 0;
    std::int32_t m_nComPort = 0; // index of the selected port, -1 for none
    CItemList* m_pList;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnOK() override;
};
