#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <vector>

class QScrollBar;
class QWidget;

// The size and place of a window laid out from a template. A window with a growing control (the
// main window's list view) may grow beyond the template's size: that control takes the extra
// room, controls to its right move right, controls below it move down, and the stretching ones
// (the status line) widen. Where the screen's work area is smaller than the template, the window
// fits the work area and its content scrolls, following the keyboard focus, so every control can
// still be reached, while the pinned controls (the buttons a user presses most) stay in view at
// their edge of the window, over a backdrop that hides what scrolls beneath them. Of a column too
// tall for the window, those from the top down that fit stay; the rest scroll with the content. The title bar
// is always placed on the screen. A growing window keeps its size and place in the user's settings.
class WindowGeometry final : public QObject {
    Q_OBJECT
public:
    // Controls kept in view, and the edge of the window they keep to: the right edge for a column
    // of buttons beside the content (never scrolled), the bottom edge for a row of buttons under it
    // (which keeps to the right edge as well).
    struct Pinned {
        std::vector<QWidget*> controls;
        Qt::Edge edge = Qt::BottomEdge;
    };

    // The main window: takes its current size and controls as the template's layout.
    // preferredExtra is added to the template's size when the window opens without a kept size;
    // the window is never made smaller than that where the work area has room for it.
    WindowGeometry(QWidget& window, QWidget& growing, std::vector<QWidget*> stretching, QSize preferredExtra,
                   Pinned pinned);

    // A dialog of fixed size: when it does not fit the work area of its screen, it takes the
    // largest size that fits and its content scrolls (with a geometry of its own). Nothing
    // otherwise. Before the dialog is first shown.
    static void FitDialog(QWidget& dialog, Pinned pinned);

    // Before the window is first shown: the kept size and place (or the preferred size, centred)
    // within the work area.
    void Place();
    // Shows the window again where it was when it was hidden (from the tray).
    void ShowAgain();

    // The frame the window manager puts around a window, or a guess before it has framed it.
    static QSize FrameOf(const QWidget& window);
    // The place nearest to at where a window of outer size lies wholly in area; where it cannot,
    // its top-left corner (with the title bar) is in the area.
    static QPoint WithinArea(QPoint at, QSize outer, const QRect& area);

    QSize TemplateSize() const { return m_templateSize; }
    // The smallest size the window may take on its screen now.
    QSize MinimumSize() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Control {
        QPointer<QWidget> widget;
        QRect base; // in the template's layout
        bool pinned = false;
        QRect place;       // where it is held, in the template's layout: a column closes its wider gaps
        bool held = false; // pinned and, in the current layout, kept in view
    };

    WindowGeometry(QWidget& window, QWidget* growing, std::vector<QWidget*> stretching, QSize preferredExtra,
                   Pinned pinned);
    void Layout();
    void ScrollIntoView(QWidget* widget);
    QRect WorkArea() const;
    QSize Room() const; // the largest size of the window inside the work area
    void Remember() const;

    QWidget& m_window;
    QWidget* m_growing;
    std::vector<QWidget*> m_stretching;
    QSize m_templateSize;
    QSize m_preferredExtra;
    QRect m_growingBase;
    std::vector<Control> m_controls;
    Qt::Edge m_pinnedEdge;
    QWidget* m_backdrop;
    QRect m_contentView; // where scrolled controls can be seen, in the window
    QScrollBar* m_vertical;
    QScrollBar* m_horizontal;
    QPoint m_hiddenAt; // the frame's place when the window was hidden; null when never hidden
    bool m_bHasHiddenPlace = false;
};
