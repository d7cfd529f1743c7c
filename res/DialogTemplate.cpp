#include "DialogTemplate.h"

#include "ResourceIds.h"
#include "Templates.h"

namespace res {

const DialogTemplate* FindDialogTemplate(int id) {
    switch (id) {
    case IDD_ABOUTBOX:
        return &AboutDialogTemplate();
    case IDD_PULSEWICK_DIALOG:
        return &MainDialogTemplate();
    case IDD_ITEM:
        return &ItemDialogTemplate();
    case IDD_PROGRESS:
        return &ProgressDialogTemplate();
    case IDD_PAGER:
        return &PagerDialogTemplate();
    case IDD_MAIL:
        return &MailDialogTemplate();
    default:
        return nullptr;
    }
}

} // namespace res
