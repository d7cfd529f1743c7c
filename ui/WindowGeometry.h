#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <vector>

class QScrollBar;
class QWidget;

// The size and place of a window laid out from a template. The window may grow beyond the
// template's size but never shrinks below it: the growing control (the list view) takes the
// extra room, controls to its right move right, controls below it move down, and the stretching
// ones (the status line) widen. Where the screen's work area is smaller than the template, the
// window fits the work area and its content scrolls, following the keyboard focus, so every
// control can still be reached. The title bar is always placed on the screen. The size the user
// gave it is kept in the user's settings.
class WindowGeometry final : public QObject {
    Q_OBJECT
public:
    // Takes the window's current size and controls as the template's layout. preferredExtra is
    // added to the template's size the first time the window opens (before a size was kept).
    WindowGeometry(QWidget& window, QWidget& growing, std::vector<QWidget*> stretching, QSize preferredExtra);

    // Before the window is first shown: the kept size (or the preferred one) within the work
    // area, centred on it.
    void Place();
    // Shows the window again where it was when it was hidden (from the tray).
    void ShowAgain();

    QSize TemplateSize() const { return m_templateSize; }
    // The smallest size the window may take on its screen now.
    QSize MinimumSize() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Control {
        QPointer<QWidget> widget;
        QRect base; // in the template's layout
    };

    void Layout();
    void ScrollIntoView(QWidget* widget);
    QRect WorkArea() const;
    QSize FrameSize() const; // the window manager's frame around the window, or a guess

    QWidget& m_window;
    QWidget* m_growing;
    std::vector<QWidget*> m_stretching;
    QSize m_templateSize;
    QSize m_preferredExtra;
    QRect m_growingBase;
    std::vector<Control> m_controls;
    QScrollBar* m_vertical;
    QScrollBar* m_horizontal;
    QPoint m_hiddenAt; // the frame's place when the window was hidden; null when never hidden
    bool m_bHasHiddenPlace = false;
};
