#pragma once

#include "CDialog.h"

// The About box: program icon, name and version, and OK. OK, Enter, Escape and the close box
// end it; it changes nothing.
class CAboutDlg : public CDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
