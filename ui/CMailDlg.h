#pragma once

#include "CDialog.h"
#include "SmtpOptions.h"

#include <string>

class CItemList;
class CMailAccount;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// "E-Mail Properties": edits the e-mail alert's settings of the list. Nothing is validated;
// the list changes only on OK. With an account, a group below the template's fields edits how a
// provider is reached (port, security, login, extra trusted certificate), which is kept in the
// user's settings and secret store, never in the list.
class CMailDlg : public CDialog {
    Q_OBJECT
public:
    CMailDlg(CItemList& list, QWidget* owner);
    CMailDlg(CItemList& list, CMailAccount* account, QWidget* owner);

    std::string m_strFrom;
    std::string m_strServer;
    std::string m_strSubject;
    std::string m_strTo;
    CItemList* m_pList;

    // The provider group's controls, by name for tests and accessibility.
    static constexpr const char* kPortName = "mailPort";
    static constexpr const char* kSecurityName = "mailSecurity";
    static constexpr const char* kUserName = "mailUser";
    static constexpr const char* kPasswordName = "mailPassword";
    static constexpr const char* kCaFileName = "mailCaFile";
    static constexpr const char* kCaBrowseName = "mailCaBrowse";
    static constexpr const char* kStoreNoteName = "mailStoreNote";
    // OK while no security is chosen: the setting names none, or a login is typed with the
    // default None.
    static constexpr const char* kChooseSecurity = "Choose the mail provider's security: None, STARTTLS or TLS.";

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnOK() override;

    // The user changed the From field: To mirrors it, and the server follows the part after
    // the first at sign. The dialog's own writes to the fields do not come here.
    void OnChangeFrom();

private:
    void AddProviderGroup();
    void ShowStoreState();
    SmtpOptions ProviderOptions() const;

    CMailAccount* m_pAccount = nullptr;
    QSpinBox* m_port = nullptr;
    QComboBox* m_security = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QLineEdit* m_caFile = nullptr;
    QLabel* m_storeNote = nullptr;
    bool m_bSecurityChosen = false; // by the user in this dialog, or kept with a login
};
