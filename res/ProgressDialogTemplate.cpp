#include "ResourceIds.h"
#include "Templates.h"

namespace res {

const DialogTemplate& ProgressDialogTemplate() {
    using K = ControlKind;
    using namespace style;
    static const DialogTemplate t{
        IDD_PROGRESS,
        "Checking connections.  Please wait...",
        297,
        74,
        "MS Sans Serif",
        8,
        dialogStyle::caption | dialogStyle::modalFrame | dialogStyle::noCloseBox,
        {
            {IDC_PROGRESS, K::progressBar, "", 36, 20, 225, 14, border},
            {IDCANCEL, K::pushButton, "Cancel", 124, 42, 50, 14, tabStop},
        },
    };
    return t;
}

} // namespace res
