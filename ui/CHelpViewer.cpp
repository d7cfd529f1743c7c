#include "CHelpViewer.h"

#include "LocalText.h"
#include "SmallFile.h"

#include <QDialogButtonBox>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr const char* kObjectName = "helpViewer";
constexpr const char* kTitle = "Pulsewick Help";
// A comfortable page: this many average characters wide and lines high (smaller screens get less).
constexpr int kPageColumns = 90;
constexpr int kPageLines = 40;
// The manual is about 100 KiB; a file many times that is not it, and laying it out would hold up the window.
constexpr std::size_t kMaxManualBytes = 4 * 1024 * 1024;
} // namespace

CHelpViewer::CHelpViewer(QWidget* owner) : QDialog(owner), m_browser(new QTextBrowser(this)) {
    setObjectName(QString::fromLatin1(kObjectName));
    setWindowTitle(QString::fromLatin1(kTitle));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlag(Qt::WindowMinMaxButtonsHint);
    m_browser->setOpenExternalLinks(true); // handed to the desktop, which may have a browser for them
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_browser, 1);
    layout->addWidget(buttons);
    const QFontMetrics metrics(m_browser->font());
    resize(metrics.averageCharWidth() * kPageColumns, metrics.lineSpacing() * kPageLines);
}

bool CHelpViewer::Open(const QString& path, QWidget* owner) {
    // Looked at first without waiting: a FIFO or a huge file in its place would freeze the window.
    if (!ReadSmallFile(ui::ToLocal(path), kMaxManualBytes).failure.empty())
        return false;
    auto* viewer = owner ? owner->findChild<CHelpViewer*>(QString::fromLatin1(kObjectName)) : nullptr;
    if (!viewer)
        viewer = new CHelpViewer(owner);
    viewer->m_browser->setSource(QUrl::fromLocalFile(path));
    viewer->show();
    viewer->raise();
    viewer->activateWindow();
    return true;
}
