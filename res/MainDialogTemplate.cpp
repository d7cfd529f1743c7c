#include "ResourceIds.h"
#include "Templates.h"

namespace res {

const DialogTemplate& MainDialogTemplate() {
    using K = ControlKind;
    using namespace style;
    constexpr auto editStyle = tabStop | border | autoHScroll;
    constexpr auto fileStyle = editStyle | readOnly;
    constexpr auto spinStyle = autoBuddy | setBuddyInt | alignRight | arrowKeys;
    static const DialogTemplate t{
        IDD_PULSEWICK_DIALOG,
        "Pulsewick",
        313,
        278,
        "MS Sans Serif",
        8,
        dialogStyle::caption | dialogStyle::systemMenu | dialogStyle::minimizeBox | dialogStyle::centered,
        {
            {IDC_LIST, K::listView, "", 15, 7, 221, 74, tabStop | border | singleSelection},
            {IDC_POPUP, K::checkBox, "Popup Alert", 21, 87, 53, 10, tabStop},
            {IDC_STATIC, K::label, "Sound alert:", 21, 107, 43, 8},
            {IDC_SOUND_FILE, K::edit, "", 74, 104, 133, 14, fileStyle},
            {IDC_SOUND_BROWSE, K::pushButton, "...", 206, 104, 16, 14, tabStop},
            {IDC_SOUND_CLEAR, K::pushButton, "x", 222, 104, 16, 14, tabStop},
            {IDC_STATIC, K::label, "Execute alert:", 21, 125, 44, 8},
            {IDC_EXECUTE, K::edit, "", 74, 122, 163, 14, editStyle},
            {IDC_STATIC, K::label, "Period", 21, 193, 21, 8},
            {IDC_PERIOD, K::edit, "", 51, 190, 40, 14, editStyle},
            {IDC_PERIOD_SPIN, K::spin, "", 90, 190, 11, 14, spinStyle},
            {IDC_STATIC, K::label, "minutes.", 104, 193, 27, 8},
            {IDC_START_AUTO, K::checkBox, "Start Automatically", 150, 192, 74, 10, tabStop},
            {IDC_STATIC, K::groupBox, "Logging", 14, 210, 231, 57},
            {IDC_LOG_NEVER, K::radioButton, "Never", 21, 227, 35, 10, tabStop | group},
            {IDC_LOG_ON_FAILURE, K::radioButton, "On failure", 94, 227, 46, 10},
            {IDC_LOG_ALWAYS, K::radioButton, "Always", 178, 227, 38, 10},
            {IDC_STATIC, K::label, "Log file", 21, 247, 24, 8, group},
            {IDC_LOG_FILE, K::edit, "", 74, 244, 133, 14, fileStyle},
            {IDC_LOG_BROWSE, K::pushButton, "...", 206, 244, 16, 14, tabStop},
            {IDC_LOG_CLEAR, K::pushButton, "x", 222, 244, 16, 14, tabStop},
            {IDC_EDIT, K::pushButton, "&Edit", 256, 7, 50, 14, tabStop},
            {IDC_ADD, K::pushButton, "&Add", 256, 22, 50, 14, tabStop},
            {IDC_DELETE, K::pushButton, "&Delete", 256, 37, 50, 14, tabStop},
            {IDC_PING_NOW, K::pushButton, "&Ping Now", 256, 52, 50, 14, tabStop},
            {IDC_SAVE_LIST, K::pushButton, "&Save List", 256, 67, 50, 14, tabStop},
            {IDC_LOAD_LIST, K::pushButton, "&Load List", 256, 82, 50, 14, tabStop},
            {IDC_START, K::pushButton, "S&tart", 256, 97, 50, 14, tabStop},
            {IDC_STOP, K::pushButton, "St&op", 256, 112, 50, 14, tabStop},
            {IDHELP, K::pushButton, "&Help", 256, 127, 50, 14, tabStop},
            {IDC_ABOUT, K::pushButton, "A&bout", 256, 142, 50, 14, tabStop}, // Alt+A is Add's
            {IDCANCEL, K::pushButton, "&Close", 256, 158, 50, 14, tabStop},
            {IDC_PAGER, K::checkBox, "Pager alert", 21, 143, 50, 10, tabStop},
            {IDC_PAGER_SETTINGS, K::pushButton, "...", 74, 141, 16, 14, tabStop},
            {IDC_COMM, K::serialPort, "", 134, 138, 60, 25, invisible},
            {IDC_MAIL, K::checkBox, "E-mail alert", 21, 166, 50, 10, tabStop},
            {IDC_MAIL_SETTINGS, K::pushButton, "...", 74, 165, 16, 14, tabStop},
        },
    };
    return t;
}

} // namespace res
