#include "ResourceIds.h"
#include "Templates.h"

namespace res {

const DialogTemplate& ItemDialogTemplate() {
    using K = ControlKind;
    using namespace style;
    static const DialogTemplate t{
        IDD_ITEM,
        "Protocol used",
        270,
        93,
        "MS Sans Serif",
        8,
        dialogStyle::caption | dialogStyle::systemMenu | dialogStyle::modalFrame | dialogStyle::centered,
        {
            {IDC_STATIC, K::label, "Address", 18, 18, 26, 8},
            {IDC_ADDRESS, K::edit, "", 54, 15, 209, 14, tabStop | border | autoHScroll},
            {IDC_ICMP, K::radioButton, "ICMP (Ping)", 18, 45, 53, 10, group | tabStop},
            {IDC_CONNECT, K::radioButton, "Connect", 18, 63, 43, 10},
            {IDC_STATIC, K::label, "Port", 73, 64, 18, 8},
            {IDC_SERVICE,
             K::comboList,
             "",
             96,
             62,
             48,
             46,
             group | tabStop | vScroll,
             {"HTTP", "FTP", "SMTP", "Whois", "Finger", "Telnet", "Other"}},
            {IDC_PORT, K::edit, "", 152, 61, 33, 14, tabStop | border | autoHScroll},
            {IDC_PORT_SPIN, K::spin, "", 184, 61, 11, 14, autoBuddy | setBuddyInt | alignRight | arrowKeys},
            {IDOK, K::pushButton, "Close", 213, 72, 50, 14, tabStop | defaultButton},
        },
    };
    return t;
}

} // namespace res
