#include "CSplashWindow.h"

#include "WindowGeometry.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimer>

namespace {

constexpr const char* kDefaultPicturePath = ":/pulsewick/splash.png";

bool g_bSplashEnabled = false;
CSplashWindow* g_pCurrentSplash = nullptr;
QString g_picturePath = QString::fromLatin1(kDefaultPicturePath);

} // namespace

CSplashWindow::CSplashWindow(QWidget* owner, const QPixmap& picture)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint), m_picture(picture), m_owner(owner),
      m_timer(new QTimer(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setCursor(Qt::ArrowCursor);
    setFixedSize(m_picture.deviceIndependentSize().toSize());
    m_timer->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the picture is promised its full time.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &CSplashWindow::OnTimer);
}

CSplashWindow::~CSplashWindow() {
    if (g_pCurrentSplash == this)
        g_pCurrentSplash = nullptr;
}

void CSplashWindow::EnableSplashScreen(bool enable) {
    g_bSplashEnabled = enable;
}

bool CSplashWindow::IsSplashScreenEnabled() {
    return g_bSplashEnabled;
}

void CSplashWindow::SetPicturePath(const QString& path) {
    g_picturePath = path.isEmpty() ? QString::fromLatin1(kDefaultPicturePath) : path;
}

CSplashWindow* CSplashWindow::ShowSplash(QWidget* owner) {
    if (!g_bSplashEnabled || g_pCurrentSplash)
        return nullptr;
    QPixmap picture(g_picturePath);
    if (picture.isNull())
        return nullptr; // no picture, no splash, no message
    // A screen smaller than the picture (a large scale factor) shows it smaller, whole.
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() : QSize();
    if (const QSizeF size = picture.deviceIndependentSize();
        room.isValid() && (size.width() > room.width() || size.height() > room.height())) {
        const qreal ratio = picture.devicePixelRatio();
        picture = picture.scaled(room * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        picture.setDevicePixelRatio(ratio);
    }

    auto* splash = new CSplashWindow(owner, picture); // deletes itself when its time is up
    g_pCurrentSplash = splash;
    splash->CenterOnOwner();
    splash->m_timer->start(kDisplayMs);
    splash->m_bInShow = true;
    splash->show();
    splash->m_bInShow = false;
    if (splash->m_bTimeUp) {
        splash->close();
        return nullptr;
    }
    splash->repaint();
    return splash;
}

void CSplashWindow::CenterOnOwner() {
    QRect area;
    if (m_owner && m_owner->isVisible()) {
        area = m_owner->frameGeometry();
    } else {
        QScreen* screen = m_owner ? m_owner->screen() : QGuiApplication::primaryScreen();
        if (screen)
            area = screen->availableGeometry();
    }
    if (!area.isValid())
        return;
    QPoint at = area.center() - rect().center();
    // Wholly on the screen, also over a window near its edge.
    if (const QScreen* screen = m_owner ? m_owner->screen() : QGuiApplication::primaryScreen())
        at = WindowGeometry::WithinArea(at, size(), screen->availableGeometry());
    move(at);
}

void CSplashWindow::OnTimer() {
    // The splash is gone from now on, even before Qt deletes the object.
    if (g_pCurrentSplash == this)
        g_pCurrentSplash = nullptr;
    if (m_bInShow) {
        m_bTimeUp = true;
        return;
    }
    QPointer<QWidget> owner = m_owner;
    close();
    if (owner)
        owner->window()->update();
}

void CSplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

// Clicks and keys are taken and dropped: only the timer ends the splash.
void CSplashWindow::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void CSplashWindow::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void CSplashWindow::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}

void CSplashWindow::keyPressEvent(QKeyEvent* event) {
    event->accept();
}

void ShowSplash(QWidget* owner) {
    CSplashWindow::ShowSplash(owner);
}
