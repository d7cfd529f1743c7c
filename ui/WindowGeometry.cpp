#include "WindowGeometry.h"

#include "UserSettings.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

namespace {
constexpr const char* kSizeKey = "window/size";
// Until the window manager has framed the window once: a title bar and thin borders.
constexpr int kGuessedTitleHeight = 30;
constexpr int kGuessedBorder = 4;
constexpr int kWheelStep = 3; // lines of the scroll bar per wheel notch
} // namespace

WindowGeometry::WindowGeometry(QWidget& window, QWidget& growing, std::vector<QWidget*> stretching,
                               QSize preferredExtra)
    : QObject(&window), m_window(window), m_growing(&growing), m_stretching(std::move(stretching)),
      m_templateSize(window.size()), m_preferredExtra(preferredExtra), m_growingBase(growing.geometry()) {
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isWindow())
            m_controls.push_back({child, child->geometry()});
    }
    m_vertical = new QScrollBar(Qt::Vertical, &window);
    m_horizontal = new QScrollBar(Qt::Horizontal, &window);
    for (QScrollBar* bar : {m_vertical, m_horizontal}) {
        bar->hide();
        bar->setFocusPolicy(Qt::NoFocus);
        connect(bar, &QScrollBar::valueChanged, this, [this] { Layout(); });
    }
    m_window.setMinimumSize(MinimumSize());
    m_window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_window.setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, false);
    m_window.installEventFilter(this);
    if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        connect(app, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now && m_window.isAncestorOf(now))
                ScrollIntoView(now);
        });
    }
}

QRect WindowGeometry::WorkArea() const {
    QScreen* screen = m_window.screen() ? m_window.screen() : QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(QPoint(), m_templateSize);
}

QSize WindowGeometry::FrameSize() const {
    const QSize frame = m_window.frameGeometry().size() - m_window.geometry().size();
    if (m_window.isVisible() && !frame.isEmpty())
        return frame;
    return {2 * kGuessedBorder, kGuessedTitleHeight + kGuessedBorder};
}

QSize WindowGeometry::MinimumSize() const {
    const QSize room = WorkArea().size() - FrameSize();
    return m_templateSize.boundedTo(room).expandedTo(QSize(1, 1));
}

void WindowGeometry::Place() {
    const QRect area = WorkArea();
    const QSize frame = FrameSize();
    QSize size = ui::UserSettings().value(QString::fromLatin1(kSizeKey)).toSize();
    if (!size.isValid())
        size = m_templateSize + m_preferredExtra;
    size = size.boundedTo(area.size() - frame).expandedTo(MinimumSize());
    m_window.setMinimumSize(MinimumSize());
    m_window.resize(size);
    // move() places the frame: its top-left corner, and with it the title bar, is on the screen.
    const QSize outer = size + frame;
    QPoint at(area.x() + (area.width() - outer.width()) / 2, area.y() + (area.height() - outer.height()) / 2);
    at.setX(std::max(at.x(), area.left()));
    at.setY(std::max(at.y(), area.top()));
    m_window.move(at);
    Layout();
}

void WindowGeometry::ShowAgain() {
    m_window.show();
    if (m_bHasHiddenPlace)
        m_window.move(m_hiddenAt);
}

bool WindowGeometry::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &m_window) {
        switch (event->type()) {
        case QEvent::Resize:
            Layout();
            break;
        case QEvent::Hide:
            if (!event->spontaneous()) {
                m_hiddenAt = m_window.pos();
                m_bHasHiddenPlace = true;
                ui::UserSettings().setValue(QString::fromLatin1(kSizeKey), m_window.size());
            }
            break;
        case QEvent::ScreenChangeInternal:
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
        bar->raise();
    }
    m_vertical->setGeometry(view.width(), 0, extent, view.height());
    m_horizontal->setGeometry(0, view.height(), view.width(), extent);

    const int dx = std::max(0, view.width() - m_templateSize.width());
    const int dy = std::max(0, view.height() - m_templateSize.height());
    const QPoint scroll(needH ? m_horizontal->value() : 0, needV ? m_vertical->value() : 0);
    for (const Control& control : m_controls) {
        if (!control.widget)
            continue;
        QRect r = control.base;
        const bool right = r.left() >= m_growingBase.right();
        // The column under the list moves down; the buttons beside it only move right.
        const bool below = !right && r.top() >= m_growingBase.bottom();
        if (control.widget == m_growing)
            r.setSize(r.size() + QSize(dx, dy));
        if (std::find(m_stretching.begin(), m_stretching.end(), control.widget.data()) != m_stretching.end())
            r.setWidth(r.width() + dx);
        r.translate(right ? dx : 0, below ? dy : 0);
        control.widget->setGeometry(r.translated(-scroll));
    }
}

void WindowGeometry::ScrollIntoView(QWidget* widget) {
    QWidget* control = widget;
    while (control && control->parentWidget() != &m_window)
        control = control->parentWidget();
    if (!control || control == m_vertical || control == m_horizontal)
        return;
    const QRect r = control->geometry();
    const QSize view(m_vertical->isVisible() ? m_vertical->x() : m_window.width(),
                     m_horizontal->isVisible() ? m_horizontal->y() : m_window.height());
    auto follow = [](QScrollBar* bar, int start, int end, int length) {
        if (!bar->isVisible())
            return;
        if (start < 0)
            bar->setValue(bar->value() + start);
        else if (end > length)
            bar->setValue(bar->value() + std::min(start, end - length));
    };
    follow(m_vertical, r.top(), r.bottom() + 1, view.height());
    follow(m_horizontal, r.left(), r.right() + 1, view.width());
}
