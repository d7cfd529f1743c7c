#pragma once

#include <QObject>

class CMainDlg;
class QAction;
class QMenu;
class QSystemTrayIcon;

// The main window's icon in the desktop's system tray: its picture says not monitoring, all
// answered or something failed; its tooltip gives the last pass; its menu offers Show, Ping Now,
// Start or Stop, Pause alerts, the "minimise to tray" choice and Quit.
class CTrayIcon final : public QObject {
    Q_OBJECT
public:
    enum class State { idle, allAnswered, failed };

    explicit CTrayIcon(CMainDlg& window);
    ~CTrayIcon() override;

    // Re-reads the window's state into the picture, the tooltip and the menu.
    void Update();

    bool IsShown() const;
    State CurrentState() const { return m_state; }
    QString ToolTip() const;
    // The menu's actions, for the keyboard-less ways in (a click on the icon shows the window).
    QAction* ShowAction() const { return m_show; }
    QAction* PingNowAction() const { return m_pingNow; }
    QAction* StartStopAction() const { return m_startStop; }
    QAction* MinimiseAction() const { return m_minimise; }
    QAction* QuitAction() const { return m_quit; }

private:
    void UpdateActions();

    CMainDlg& m_window;
    QMenu* m_menu;
    QSystemTrayIcon* m_icon;
    QAction* m_show;
    QAction* m_pingNow;
    QAction* m_startStop;
    QAction* m_minimise;
    QAction* m_quit;
    State m_state = State::idle;
};
