#include "CSpinButtonCtrl.h"

#include "DialogInt.h"
#include "LocalText.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

CSpinButtonCtrl::CSpinButtonCtrl(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this)) {
    for (QToolButton* b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    setFocusPolicy(Qt::NoFocus);
    connect(m_up, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(m_down, &QToolButton::clicked, this, [this] { Step(-1); });
}

void CSpinButtonCtrl::SetBuddy(QLineEdit* buddy, bool arrowKeys) {
    if (m_buddy)
        m_buddy->removeEventFilter(this);
    m_buddy = buddy;
    if (m_buddy && arrowKeys)
        m_buddy->installEventFilter(this);
}

void CSpinButtonCtrl::SetRange(int lower, int upper) {
    m_lower = std::min(lower, upper);
    m_upper = std::max(lower, upper);
    m_pos = std::clamp(m_pos, m_lower, m_upper);
}

void CSpinButtonCtrl::SetPos(int pos) {
    m_pos = std::clamp(pos, m_lower, m_upper);
}

void CSpinButtonCtrl::Step(int delta) {
    if (!isEnabled())
        return;
    if (m_buddy) {
        // The user may have typed a new number since the last step: continue from it.
        if (auto typed = ParseDialogInt(ui::ToLocal(m_buddy->text())))
            m_pos = std::clamp(*typed, m_lower, m_upper);
    }
    const long long next = static_cast<long long>(m_pos) + delta;
    m_pos = static_cast<int>(std::clamp<long long>(next, m_lower, m_upper));
    // Plain digits, no thousands separators: the fields that carry a buddy read integers back.
    if (m_buddy)
        m_buddy->setText(QString::number(m_pos));
    emit stepped(m_pos);
}

bool CSpinButtonCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_buddy && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            Step(key->key() == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void CSpinButtonCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int half = height() / 2;
    m_up->setGeometry(0, 0, width(), half);
    m_down->setGeometry(0, half, width(), height() - half);
}
