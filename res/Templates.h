#pragma once

#include "DialogTemplate.h"

// One function per dialog template; FindDialogTemplate() looks them up by number.
namespace res {

const DialogTemplate& AboutDialogTemplate();    // 100
const DialogTemplate& MainDialogTemplate();     // 102
const DialogTemplate& ItemDialogTemplate();     // 129
const DialogTemplate& ProgressDialogTemplate(); // 132
const DialogTemplate& PagerDialogTemplate();    // 134
const DialogTemplate& MailDialogTemplate();     // 143

} // namespace res
