#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QTimer;

// The start-up picture: a borderless window over its owner that closes itself after a fixed
// time. Neither keys nor clicks end it early. At most one exists at a time.
class CSplashWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDisplayMs = 3000;

    ~CSplashWindow() override;

    // The splash flag: ShowSplash does nothing while it is clear (the default).
    static void EnableSplashScreen(bool enable);
    static bool IsSplashScreenEnabled();

    // Shows the splash over owner, unless the flag is clear, one shows already, or the
    // picture cannot be loaded. Returns the new splash, or null when none is showing.
    static CSplashWindow* ShowSplash(QWidget* owner);

    // Where the picture is loaded from (a Qt resource by default).
    static void SetPicturePath(const QString& path);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    CSplashWindow(QWidget* owner, const QPixmap& picture);
    void CenterOnOwner();
    void OnTimer();

    QPixmap m_picture;
    QPointer<QWidget> m_owner;
    QTimer* m_timer;
    // Qt runs pending events inside the show() of a splash-screen window; a time-up that comes
    // meanwhile waits for show() to return instead of deleting the window under it.
    bool m_bInShow = false;
    bool m_bTimeUp = false;
};

// Shows the start-up picture over owner (see CSplashWindow::ShowSplash).
void ShowSplash(QWidget* owner);
