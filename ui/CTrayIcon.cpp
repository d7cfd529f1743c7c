#include "CTrayIcon.h"

#include "CMainDlg.h"
#include "ProgramIcon.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace {

constexpr int kIconSize = 64;

// The program icon with a coloured badge: grey when not monitoring, green when the last pass
// was answered everywhere, red when something failed.
QIcon StateIcon(CTrayIcon::State state) {
    QPixmap pixmap = ui::ProgramIcon().pixmap(kIconSize, kIconSize);
    if (pixmap.isNull()) {
        pixmap = QPixmap(kIconSize, kIconSize);
        pixmap.fill(Qt::transparent);
    }
    QColor badge(Qt::gray);
    if (state == CTrayIcon::State::allAnswered)
        badge = QColor(0x2e, 0x9e, 0x44);
    else if (state == CTrayIcon::State::failed)
        badge = QColor(0xd7, 0x26, 0x26);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, kIconSize / 16));
    painter.setBrush(badge);
    const int d = kIconSize / 2;
    painter.drawEllipse(kIconSize - d - 1, kIconSize - d - 1, d, d);
    return QIcon(pixmap);
}

} // namespace

CTrayIcon::CTrayIcon(CMainDlg& window)
    : m_window(window), m_menu(new QMenu(&window)), m_icon(new QSystemTrayIcon(this)) {
    m_show = m_menu->addAction(QStringLiteral("&Show"), &window, [&window] { window.ShowFromTray(); });
    m_pingNow = m_menu->addAction(QStringLiteral("&Ping Now"), &window, [&window] { window.PingNow(); });
    m_startStop = m_menu->addAction(QStringLiteral("S&tart"), &window, [&window] {
        if (window.IsRunning())
            window.StopMonitoring();
        else
            window.StartMonitoring();
    });
    m_menu->addMenu(window.CreatePauseMenu(m_menu));
    m_menu->addSeparator();
    m_minimise = m_menu->addAction(QStringLiteral("&Keep monitoring in the tray when closed"));
    m_minimise->setCheckable(true);
    connect(m_minimise, &QAction::toggled, this, [](bool on) { CMainDlg::SetMinimiseToTray(on); });
    // Read when the menu opens: another instance of the program may have changed it.
    connect(m_menu, &QMenu::aboutToShow, this, [this] {
        const QSignalBlocker quiet(m_minimise);
        m_minimise->setChecked(CMainDlg::MinimiseToTray());
        UpdateActions(); // a dialog of the window may have opened since
    });
    m_menu->addSeparator();
    m_quit = m_menu->addAction(QStringLiteral("&Quit"), &window, [&window] { window.Quit(); });

    m_icon->setContextMenu(m_menu);
    connect(m_icon, &QSystemTrayIcon::activated, &window, [&window](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            window.ShowFromTray();
    });
    Update();
    m_icon->show();
}

CTrayIcon::~CTrayIcon() = default;

bool CTrayIcon::IsShown() const {
    return m_icon->isVisible();
}

QString CTrayIcon::ToolTip() const {
    return m_icon->toolTip();
}

void CTrayIcon::Update() {
    const CMainDlg::PassSummary& pass = m_window.LastPass();
    State state = State::idle;
    // Neutral until a pass has ended: nothing has answered before.
    if (m_window.IsRunning() && pass.when.isValid())
        state = pass.failed > 0 ? State::failed : State::allAnswered;
    if (state != m_state || m_icon->icon().isNull()) {
        m_state = state;
        m_icon->setIcon(StateIcon(state));
    }
    m_icon->setToolTip(QStringLiteral("Pulsewick\n") + m_window.StatusLineText());

    UpdateActions();
}

void CTrayIcon::UpdateActions() {
    // While a pass runs or a dialog of the window waits for the user, the menu shows the window
    // and keeps the tray choice, but starts, stops and quits nothing under them.
    const bool free = !m_window.IsCheckRunInProgress() && !QApplication::activeModalWidget();
    m_pingNow->setEnabled(free);
    m_startStop->setEnabled(free);
    m_quit->setEnabled(free);
    m_startStop->setText(m_window.IsRunning() ? QStringLiteral("St&op") : QStringLiteral("S&tart"));
}
