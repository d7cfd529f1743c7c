#include "ResourceIds.h"
#include "Templates.h"

namespace res {

const DialogTemplate& MailDialogTemplate() {
    using K = ControlKind;
    using namespace style;
    constexpr auto editStyle = tabStop | border | autoHScroll;
    // OK comes first so that it is the first tab stop and has the focus when the dialog opens.
    static const DialogTemplate t{
        IDD_MAIL,
        "E-Mail Properties",
        249,
        154,
        "MS Sans Serif",
        8,
        dialogStyle::caption | dialogStyle::systemMenu | dialogStyle::modalFrame,
        {
            {IDOK, K::pushButton, "OK", 138, 132, 50, 14, tabStop | defaultButton},
            {IDCANCEL, K::pushButton, "Cancel", 192, 132, 50, 14, tabStop},
            {IDC_STATIC, K::label, "From:", 18, 23, 18, 8},
            {IDC_MAIL_FROM, K::edit, "", 88, 20, 154, 14, editStyle},
            {IDC_STATIC, K::label, "SMTP (Mail) Server:", 18, 50, 64, 8},
            {IDC_MAIL_SERVER, K::edit, "", 88, 47, 154, 14, editStyle},
            {IDC_STATIC, K::label, "To:", 18, 77, 12, 8},
            {IDC_MAIL_TO, K::edit, "", 88, 74, 154, 14, editStyle},
            {IDC_STATIC, K::label, "Subject:", 18, 104, 27, 8},
            {IDC_MAIL_SUBJECT, K::edit, "", 88, 101, 154, 14, editStyle},
        },
    };
    return t;
}

} // namespace res
