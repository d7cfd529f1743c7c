#include "WindowGeometry.h"

#include "UserSettings.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>
#include <climits>

namespace {
constexpr const char* kSizeKey = "window/size";
constexpr const char* kPlaceKey = "window/place";
// Until the window manager has framed the window once: a title bar and thin borders.
constexpr int kGuessedTitleHeight = 30;
constexpr int kGuessedBorder = 4;
constexpr int kWheelStep = 3; // lines of the scroll bar per wheel notch

QRect WorkAreaOf(const QWidget& window) {
    QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(QPoint(), window.size());
}

QSize RoomOf(const QWidget& window) {
    return (WorkAreaOf(window).size() - WindowGeometry::FrameOf(window)).expandedTo(QSize(1, 1));
}
} // namespace

WindowGeometry::WindowGeometry(QWidget& window, QWidget& growing, std::vector<QWidget*> stretching,
                               QSize preferredExtra, Pinned pinned)
    : WindowGeometry(window, &growing, std::move(stretching), preferredExtra, std::move(pinned)) {
    m_window.setMinimumSize(MinimumSize());
    m_window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_window.setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, false);
}

WindowGeometry::WindowGeometry(QWidget& window, QWidget* growing, std::vector<QWidget*> stretching,
                               QSize preferredExtra, Pinned pinned)
    : QObject(&window), m_window(window), m_growing(growing), m_stretching(std::move(stretching)),
      m_templateSize(window.size()), m_preferredExtra(preferredExtra),
      m_growingBase(growing ? growing->geometry() : QRect()), m_pinnedEdge(pinned.edge) {
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow())
            continue;
        const bool isPinned = std::find(pinned.controls.begin(), pinned.controls.end(), child) != pinned.controls.end();
        m_controls.push_back({child, child->geometry(), isPinned, child->geometry()});
    }
    // A column held in view closes up to the narrowest gap between its buttons, so that one set
    // apart at its foot still fits where the column only just does.
    if (m_pinnedEdge == Qt::RightEdge) {
        std::vector<Control*> column;
        for (Control& control : m_controls) {
            if (control.pinned)
                column.push_back(&control);
        }
        std::sort(column.begin(), column.end(),
                  [](const Control* a, const Control* b) { return a->base.top() < b->base.top(); });
        int gap = INT_MAX;
        for (std::size_t i = 1; i < column.size(); ++i)
            gap = std::min(gap, std::max(0, column[i]->base.top() - column[i - 1]->base.bottom() - 1));
        for (std::size_t i = 1; i < column.size(); ++i)
            column[i]->place.moveTop(std::min(column[i]->base.top(), column[i - 1]->place.bottom() + 1 + gap));
    }
    m_backdrop = new QWidget(&window);
    m_backdrop->setAutoFillBackground(true);
    m_backdrop->hide();
    m_vertical = new QScrollBar(Qt::Vertical, &window);
    m_horizontal = new QScrollBar(Qt::Horizontal, &window);
    for (QScrollBar* bar : {m_vertical, m_horizontal}) {
        bar->hide();
        bar->setFocusPolicy(Qt::NoFocus);
        connect(bar, &QScrollBar::valueChanged, this, [this] { Layout(); });
    }
    m_window.installEventFilter(this);
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        connect(app, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now && m_window.isAncestorOf(now))
                ScrollIntoView(now);
        });
    }
}

void WindowGeometry::FitDialog(QWidget& dialog, Pinned pinned) {
    const QSize room = RoomOf(dialog);
    if (dialog.findChild<WindowGeometry*>(QString(), Qt::FindDirectChildrenOnly) ||
        (dialog.width() <= room.width() && dialog.height() <= room.height()))
        return;
    auto* geometry = new WindowGeometry(dialog, nullptr, {}, {}, std::move(pinned));
    // A scroll bar in one direction takes room that the other may still have to spare.
    const int extent = dialog.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &dialog);
    QSize fitted = dialog.size().boundedTo(room);
    if (fitted.height() < dialog.height())
        fitted.setWidth(std::min(room.width(), dialog.width() + extent));
    if (fitted.width() < dialog.width())
        fitted.setHeight(std::min(room.height(), fitted.height() + extent));
    dialog.setFixedSize(fitted);
    geometry->Layout();
}

QRect WindowGeometry::WorkArea() const {
    return WorkAreaOf(m_window);
}

QSize WindowGeometry::FrameOf(const QWidget& window) {
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    if (window.isVisible() && !frame.isEmpty())
        return frame;
    return {2 * kGuessedBorder, kGuessedTitleHeight + kGuessedBorder};
}

QPoint WindowGeometry::WithinArea(QPoint at, QSize outer, const QRect& area) {
    return {std::max(std::min(at.x(), area.right() + 1 - outer.width()), area.left()),
            std::max(std::min(at.y(), area.bottom() + 1 - outer.height()), area.top())};
}

QSize WindowGeometry::Room() const {
    return RoomOf(m_window);
}

QSize WindowGeometry::MinimumSize() const {
    // A window that grows never shrinks below the size that shows every column of its list.
    const QSize wanted = m_growing ? m_templateSize + m_preferredExtra : m_templateSize;
    return wanted.boundedTo(Room());
}

void WindowGeometry::Place() {
    const QRect area = WorkArea();
    const QSize frame = FrameOf(m_window);
    const QSettings settings = ui::UserSettings();
    QSize size = settings.value(QString::fromLatin1(kSizeKey)).toSize();
    if (!size.isValid())
        size = m_templateSize + m_preferredExtra;
    size = size.boundedTo(Room()).expandedTo(MinimumSize());
    m_window.setMinimumSize(MinimumSize());
    m_window.resize(size);
    // move() places the frame: its top-left corner, and with it the title bar, is on the screen.
    const QSize outer = size + frame;
    QPoint at(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
    if (const QVariant kept = settings.value(QString::fromLatin1(kPlaceKey)); kept.isValid())
        at = kept.toPoint(); // the screen may have become smaller since
    m_window.move(WithinArea(at, outer, area));
    Layout();
}

void WindowGeometry::ShowAgain() {
    m_window.show();
    if (m_bHasHiddenPlace)
        m_window.move(m_hiddenAt);
}

void WindowGeometry::Remember() const {
    QSettings settings = ui::UserSettings();
    settings.setValue(QString::fromLatin1(kSizeKey), m_window.size());
    settings.setValue(QString::fromLatin1(kPlaceKey), m_window.pos());
}

bool WindowGeometry::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_window) {
        switch (event->type()) {
        case QEvent::Resize:
            Layout();
            break;
        case QEvent::Hide:
            if (!event->spontaneous() && m_growing) {
                m_hiddenAt = m_window.pos();
                m_bHasHiddenPlace = true;
                Remember();
            }
            break;
        case QEvent::ScreenChangeInternal:
            if (m_growing)
                m_window.setMinimumSize(MinimumSize());
            break;
        case QEvent::Wheel:
            if (m_vertical->isVisible()) {
                const int notches =
                    static_cast<QWheelEvent*>(event)->angleDelta().y() / QWheelEvent::DefaultDeltasPerStep;
                m_vertical->setValue(m_vertical->value() - notches * kWheelStep * m_vertical->singleStep());
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowGeometry::Layout() {
    const int extent = m_window.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &m_window);
    // Which bars are needed: each one takes room from the other direction.
    bool needV = m_window.height() < m_templateSize.height();
    bool needH = m_window.width() < m_templateSize.width() + (needV ? extent : 0);
    needV = m_window.height() < m_templateSize.height() + (needH ? extent : 0);
    const QSize view(m_window.width() - (needV ? extent : 0), m_window.height() - (needH ? extent : 0));

    const QSignalBlocker quietV(m_vertical);
    const QSignalBlocker quietH(m_horizontal);
    m_vertical->setVisible(needV);
    m_horizontal->setVisible(needH);
    m_vertical->setRange(0, std::max(0, m_templateSize.height() - view.height()));
    m_horizontal->setRange(0, std::max(0, m_templateSize.width() - view.width()));
    for (QScrollBar* bar : {m_vertical, m_horizontal}) {
        bar->setSingleStep(m_window.fontMetrics().height());
        bar->setPageStep(bar == m_vertical ? view.height() : view.width());
    }
    m_vertical->setGeometry(view.width(), 0, extent, view.height());
    m_horizontal->setGeometry(0, view.height(), view.width(), extent);

    // The pinned controls keep to their edge while the rest scrolls, where they fit the view. The
    // scroll ranges stay those of the whole template: what lies under them can still be scrolled
    // out from beneath them.
    QPoint pinShift;
    QRect pinnedBase; // of the controls held, in the template's layout
    const bool scrolls = needH || needV;
    if (m_pinnedEdge == Qt::RightEdge)
        pinShift = QPoint(view.width() - m_templateSize.width(), 0);
    else
        pinShift = QPoint(std::min(0, view.width() - m_templateSize.width()), view.height() - m_templateSize.height());
    for (Control& control : m_controls) {
        const QRect r = control.place.translated(pinShift);
        // A column keeps what fits above the view's bottom; a row under the content is kept whole.
        control.held = scrolls && control.pinned && r.left() >= 0 && r.top() >= 0 &&
                       (m_pinnedEdge != Qt::RightEdge || r.bottom() < view.height());
        if (control.held)
            pinnedBase |= control.place;
    }
    if (m_pinnedEdge != Qt::RightEdge &&
        std::any_of(m_controls.begin(), m_controls.end(), [](const Control& c) { return c.pinned && !c.held; })) {
        for (Control& control : m_controls)
            control.held = false;
        pinnedBase = QRect();
    }
    const bool pin = !pinnedBase.isNull();
    m_contentView = QRect(QPoint(), view);
    if (pin) {
        const int margin = m_window.fontMetrics().height() / 2;
        const QRect pinned = pinnedBase.translated(pinShift);
        if (m_pinnedEdge == Qt::RightEdge) {
            m_backdrop->setGeometry(
                QRect(QPoint(std::max(0, pinned.left() - margin), 0),
                      QPoint(view.width() - 1, std::min(view.height() - 1, pinned.bottom() + margin))));
            m_contentView.setRight(m_backdrop->x() - 1);
        } else {
            m_backdrop->setGeometry(
                QRect(QPoint(0, std::max(0, pinned.top() - margin)), QPoint(view.width() - 1, view.height() - 1)));
            m_contentView.setBottom(m_backdrop->y() - 1);
        }
        m_backdrop->raise();
    }
    m_backdrop->setVisible(pin);

    const int dx = std::max(0, view.width() - m_templateSize.width());
    const int dy = std::max(0, view.height() - m_templateSize.height());
    const QPoint scroll(needH ? m_horizontal->value() : 0, needV ? m_vertical->value() : 0);
    for (const Control& control : m_controls) {
        if (!control.widget)
            continue;
        QRect r = control.base;
        if (control.held) {
            control.widget->setGeometry(control.place.translated(pinShift));
            control.widget->raise();
            continue;
        }
        const bool right = m_growing && r.left() >= m_growingBase.right();
        // The column under the list moves down; the buttons beside it only move right.
        const bool below = m_growing && !right && r.top() >= m_growingBase.bottom();
        if (control.widget == m_growing)
            r.setSize(r.size() + QSize(dx, dy));
        if (std::find(m_stretching.begin(), m_stretching.end(), control.widget.data()) != m_stretching.end())
            r.setWidth(r.width() + dx);
        r.translate(right ? dx : 0, below ? dy : 0);
        control.widget->setGeometry(r.translated(-scroll));
    }
    m_vertical->raise();
    m_horizontal->raise();
}

void WindowGeometry::ScrollIntoView(QWidget* widget) {
    QWidget* control = widget;
    while (control && control->parentWidget() != &m_window)
        control = control->parentWidget();
    if (!control || control == m_vertical || control == m_horizontal)
        return;
    const auto it =
        std::find_if(m_controls.begin(), m_controls.end(), [control](const Control& c) { return c.widget == control; });
    if (it != m_controls.end() && it->held)
        return; // always in view
    const QRect r = control->geometry();
    QRect visible = m_contentView;
    // Under a pinned column the content has the whole width.
    if (m_backdrop->isVisible() && m_pinnedEdge == Qt::RightEdge && r.top() > m_backdrop->geometry().bottom())
        visible.setRight(m_vertical->isVisible() ? m_vertical->x() - 1 : m_window.width() - 1);
    auto follow = [](QScrollBar* bar, int start, int end, int low, int high) {
        if (!bar->isVisible())
            return;
        if (start < low)
            bar->setValue(bar->value() + start - low);
        else if (end > high)
            bar->setValue(bar->value() + std::min(start - low, end - high));
    };
    follow(m_vertical, r.top(), r.bottom() + 1, visible.top(), visible.bottom() + 1);
    follow(m_horizontal, r.left(), r.right() + 1, visible.left(), visible.right() + 1);
}
