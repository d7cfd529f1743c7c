#include "ResourceIds.h"
#include "Templates.h"

namespace res {

const DialogTemplate& PagerDialogTemplate() {
    using K = ControlKind;
    using namespace style;
    constexpr auto editStyle = tabStop | border | autoHScroll;
    static const DialogTemplate t{
        IDD_PAGER,
        "Pager properties",
        259,
        181,
        "MS Sans Serif",
        8,
        dialogStyle::caption | dialogStyle::systemMenu | dialogStyle::modalFrame | dialogStyle::centered,
        {
            {IDC_STATIC, K::groupBox, "Modem", 7, 7, 245, 81},
            {IDC_STATIC, K::label, "Modem port:", 20, 20, 40, 8},
            {IDC_COM_PORT,
             K::comboList,
             "",
             117,
             17,
             48,
             74,
             tabStop,
             {"COM1:", "COM2:", "COM3:", "COM4:", "COM5:", "COM6:", "COM7:", "COM8:", "COM9:"}},
            {IDC_STATIC, K::label, "Modem initialization string:", 20, 42, 82, 8},
            {IDC_MODEM_INIT, K::edit, "", 117, 39, 121, 14, editStyle},
            {IDC_STATIC, K::label, "Pause after dialing:", 20, 66, 61, 8},
            {IDC_PAUSE, K::edit, "", 117, 64, 48, 14, editStyle | numbersOnly},
            {IDC_PAUSE_SPIN, K::spin, "", 171, 64, 10, 14, autoBuddy | setBuddyInt | alignRight | arrowKeys},
            {IDC_STATIC, K::groupBox, "Pager", 7, 91, 245, 55},
            {IDC_STATIC, K::label, "Pager number:", 20, 109, 47, 8},
            {IDC_PAGER_NUMBER, K::edit, "", 117, 106, 121, 14, editStyle},
            {IDC_STATIC, K::label, "Message code:", 20, 126, 50, 8},
            {IDC_MESSAGE_CODE, K::edit, "", 117, 123, 121, 14, editStyle},
            {IDOK, K::pushButton, "OK", 145, 159, 50, 14, tabStop | defaultButton},
            {IDCANCEL, K::pushButton, "Cancel", 202, 159, 50, 14, tabStop},
        },
    };
    return t;
}

} // namespace res
