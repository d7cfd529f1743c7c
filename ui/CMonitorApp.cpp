#include "CMonitorApp.h"

#include "CMainDlg.h"

std::string CMonitorApp::CommandLineTail(int argc, const char* const* argv) {
    std::string tail;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            tail += ' ';
        tail += argv[i];
    }
    return tail;
}

int CMonitorApp::InitInstance() {
    // POSIX sockets need no library start-up, so there is nothing here that can fail before
    // the window.
    CMainDlg dlg(DefaultMainDlgServices(), m_lpCmdLine);
    dlg.DoModal(); // its result is not looked at
    return 0;
}
