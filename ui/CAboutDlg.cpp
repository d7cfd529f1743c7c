#include "CAboutDlg.h"

#include "ResourceIds.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CDialog(res::IDD_ABOUTBOX, parent) {}
