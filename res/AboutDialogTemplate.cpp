#include "ResourceIds.h"
#include "Templates.h"

namespace res {

const DialogTemplate& AboutDialogTemplate() {
    using K = ControlKind;
    using namespace style;
    static const DialogTemplate t{
        IDD_ABOUTBOX,
        "About Pulsewick",
        217,
        55,
        "MS Sans Serif",
        8,
        dialogStyle::caption | dialogStyle::systemMenu | dialogStyle::modalFrame | dialogStyle::centered,
        {
            {IDC_STATIC, K::icon, "", 11, 17, 20, 20},
            {IDC_STATIC, K::label, "Pulsewick Version 2.1", 40, 10, 119, 8},
            {IDOK, K::pushButton, "OK", 178, 7, 32, 14, tabStop | defaultButton | group},
        },
    };
    return t;
}

} // namespace res
