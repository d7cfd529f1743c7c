#pragma once

#include <QDialog>

class QTextBrowser;

// The manual in a window of the program's own, for a desktop that has no viewer for it: a plain
// text browser that follows the manual's own links, beside the main window (not modal).
class CHelpViewer final : public QDialog {
    Q_OBJECT
public:
    // Shows the manual at path in the viewer (the one already open, or a new one); false when the
    // file cannot be read, and nothing is shown then.
    static bool Open(const QString& path, QWidget* owner);

    QTextBrowser* Browser() const { return m_browser; }

private:
    explicit CHelpViewer(QWidget* owner);

    QTextBrowser* m_browser;
};
