#pragma once

#include <QPointer>
#include <QWidget>

// Keeps a window disabled until Enable() or the end of the scope, whichever comes first, so an
// exception can never leave it greyed out. A window deleted meanwhile is left alone.
class ScopedDisabled {
public:
    explicit ScopedDisabled(QWidget& window) : m_window(&window) { window.setEnabled(false); }
    ~ScopedDisabled() { Enable(); }
    ScopedDisabled(const ScopedDisabled&) = delete;
    ScopedDisabled& operator=(const ScopedDisabled&) = delete;

    void Enable() {
        if (m_window)
            m_window->setEnabled(true);
        m_window = nullptr;
    }

private:
    QPointer<QWidget> m_window;
};
