#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

// Dialog templates as data. Positions and sizes are in dialog units; the builder in ui/
// turns a template into widgets using the dialog font's metrics. Texts are UTF-8.
namespace res {

enum class ControlKind {
    label, // static text
    groupBox,
    pushButton,  // with style::defaultButton for the default push button
    checkBox,    // automatic check box
    radioButton, // automatic radio button; style::group starts a group
    edit,        // single-line text field
    comboList,   // drop-down list without typing
    listView,    // report-mode list view
    spin,        // up-down control attached to the control before it (its buddy)
    progressBar,
    icon,       // static picture of the program icon
    serialPort, // invisible stand-in for the serial-communications control
};

// Style flags of a control.
namespace style {
constexpr std::uint32_t none = 0;
constexpr std::uint32_t tabStop = 1u << 0;
constexpr std::uint32_t group = 1u << 1; // starts a group (radio buttons, tab order)
constexpr std::uint32_t disabled = 1u << 2;
constexpr std::uint32_t invisible = 1u << 3;
constexpr std::uint32_t border = 1u << 4;
constexpr std::uint32_t readOnly = 1u << 5;
constexpr std::uint32_t autoHScroll = 1u << 6;
constexpr std::uint32_t numbersOnly = 1u << 7;
constexpr std::uint32_t defaultButton = 1u << 8;
constexpr std::uint32_t vScroll = 1u << 9;
constexpr std::uint32_t sorted = 1u << 10;
constexpr std::uint32_t singleSelection = 1u << 11; // list view
constexpr std::uint32_t autoBuddy = 1u << 12;       // spin: takes the previous control as buddy
constexpr std::uint32_t setBuddyInt = 1u << 13;     // spin: writes its position into the buddy
constexpr std::uint32_t alignRight = 1u << 14;      // spin: sits at the buddy's right edge
constexpr std::uint32_t arrowKeys = 1u << 15;       // spin: answers the arrow keys
} // namespace style

// Dialog-level style flags.
namespace dialogStyle {
constexpr std::uint32_t none = 0;
constexpr std::uint32_t caption = 1u << 0;
constexpr std::uint32_t systemMenu = 1u << 1;
constexpr std::uint32_t minimizeBox = 1u << 2;
constexpr std::uint32_t modalFrame = 1u << 3;
constexpr std::uint32_t centered = 1u << 4;
constexpr std::uint32_t noCloseBox = 1u << 5;
} // namespace dialogStyle

struct ControlTemplate {
    int id; // control number; -1 for controls that have none (labels, group boxes)
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;
    std::uint32_t styleFlags = style::none;
    std::vector<const char*> items = {}; // combo-box items, in order
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy;
    const char* fontName; // "MS Sans Serif" maps to the desktop's default UI font
    int pointSize;
    std::uint32_t styleFlags;
    std::vector<ControlTemplate> controls; // in tab order
};

// The template with that number, or null.
const DialogTemplate* FindDialogTemplate(int id);

} // namespace res
