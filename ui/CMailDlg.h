#pragma once

#include "CDialog.h"

#include <string>

class CItemList;

// "E-Mail Properties": edits the e-mail alert's settings of the list. Nothing is validated;
// the list changes only on OK.
class CMailDlg : public CDialog {
    Q_OBJECT
public:
    CMailDlg(CItemList& list, QWidget* owner);

    std::string m_strFrom;
    std::string m_strServer;
    std::string m_strSubject;
    std::string m_strTo;
    CItemList* m_pList;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnOK() override;

    // The user changed the From field: To mirrors it, and the server follows the part after
    // the first at sign. The dialog's own writes to the fields do not come here.
    void OnChangeFrom();
};
