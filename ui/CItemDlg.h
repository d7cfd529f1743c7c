#pragma once

#include "CDialog.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

class CItem;
class CSpinButtonCtrl;
class QComboBox;
class QLineEdit;

// Edits one entry of the list: its address, probe kind and TCP port, the port typed or chosen
// by service name. Reads the entry when it opens and writes it only on "Close"; Escape and the
// close box leave it untouched.
class CItemDlg : public CDialog {
    Q_OBJECT
public:
    struct Service {
        const char* name;
        std::int32_t port;
    };
    // Looked up by exact name, in this order; any other name ("Other") has no port.
    static constexpr std::array<Service, 6> kServices{{
        {"HTTP", 80},
        {"FTP", 21},
        {"SMTP", 25},
        {"Telnet", 23},
        {"Finger", 79},
        {"Whois", 43},
    }};
    static std::optional<std::int32_t> ServicePort(const std::string& name);

    // The arrows step through the TCP port range (typed values outside it are still accepted).
    static constexpr int kSpinLower = 0;
    static constexpr int kSpinUpper = 65535;

    CItemDlg(CItem& item, QWidget* parent = nullptr);

    CSpinButtonCtrl* m_spinPort = nullptr; // control 1025
    QLineEdit* m_editPort = nullptr;       // control 1024
    QComboBox* m_comboService = nullptr;   // control 1023
    std::string m_strAddress;
    std::string m_strService;
    std::int32_t m_nPort = 0;
    std::int32_t m_nProtocol = -1; // 0 ICMP (Ping), 1 Connect, -1 none checked
    CItem& m_pItem;

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnOK() override;

    void OnProtocol();
    void OnSelchangeService();

private:
    void EnablePortControls(bool enable);
};
