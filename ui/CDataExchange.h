#pragma once

#include <QString>
#include <cstdint>
#include <string>

class CDialog;
class QWidget;

// One pass of a dialog's data exchange. When reading, the first field that fails shows its
// message, takes the focus with its text selected, and every later exchange is skipped.
class CDataExchange {
public:
    CDataExchange(CDialog& dialog, bool saveAndValidate) : m_dlg(dialog), m_bSaveAndValidate(saveAndValidate) {}

    CDialog& m_dlg;
    const bool m_bSaveAndValidate; // true: controls to members, validating
    bool m_bFailed = false;
    bool m_bButtonsOnly = false; // exchange check boxes and radio groups only, no text

    // The control with that number; a missing control is a programming error (asserts).
    QWidget* Control(int id) const;
    // Shows the message, puts the focus on the control with its text selected, stops the pass.
    void Fail(QWidget* control, const QString& message);
};

// Texts of the validation messages.
inline constexpr const char* kMsgEnterInteger = "Please enter an integer.";
inline constexpr const char* kMsgEnterIntegerBetween = "Please enter an integer between %1 and %2.";

// A text field as 8-bit text in the locale's encoding. A text that the field shows unchanged
// since it was written reads back as the very bytes written, even where they are not valid in
// that encoding.
void DDX_Text(CDataExchange& dx, int id, std::string& value);
// A text field as an integer ("Please enter an integer." when it is none).
void DDX_Text(CDataExchange& dx, int id, std::int32_t& value);
// The same, then a range check ("Please enter an integer between %1 and %2."). The member
// keeps its previous value when either check fails.
void DDX_Text(CDataExchange& dx, int id, std::int32_t& value, std::int32_t min, std::int32_t max);
// A check box: 1 checked, 0 clear; any nonzero value checks it.
void DDX_Check(CDataExchange& dx, int id, std::int32_t& value);
// A radio group, given its first button: the index of the checked button, -1 for none.
void DDX_Radio(CDataExchange& dx, int firstId, std::int32_t& value);
// A drop-down list: the index of the selected item, -1 for none.
void DDX_CBIndex(CDataExchange& dx, int id, std::int32_t& value);
// A drop-down list: the selected item's text. Writing selects the first item that begins with
// the text (ignoring case); an empty text or no match leaves no item selected.
void DDX_CBString(CDataExchange& dx, int id, std::string& value);
