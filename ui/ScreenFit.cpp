#include "ScreenFit.h"

#include "CDialog.h"
#include "CDialogBuilder.h"
#include "ResourceIds.h"
#include "WindowGeometry.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>

namespace ui {
namespace {

// The command buttons of a template dialog, and the edge they sit at: a row under the fields,
// or a column beside them.
WindowGeometry::Pinned CommandButtons(const CDialog& dialog) {
    WindowGeometry::Pinned pinned;
    QRect bounds;
    for (QPushButton* button : dialog.findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
        const int id = CDialogBuilder::ControlId(button);
        if (id == res::IDOK || id == res::IDCANCEL || id == res::IDHELP) {
            pinned.controls.push_back(button);
            bounds |= button->geometry();
        }
    }
    pinned.edge = bounds.top() > dialog.height() / 2 ? Qt::BottomEdge : Qt::RightEdge;
    return pinned;
}

class ScreenFitter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && !event->spontaneous()) {
            // A window with a geometry of its own (the main window) places itself.
            auto* window = qobject_cast<QDialog*>(watched);
            if (window && window->isWindow() &&
                !window->findChild<WindowGeometry*>(QString(), Qt::FindDirectChildrenOnly))
                Fit(*window);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // Runs before the dialog's own show event, which then centres it on its owner as far as the
    // screen allows (QDialog::adjustPosition), at its fitted size.
    static void Fit(QDialog& window) {
        QScreen* screen = window.screen() ? window.screen() : QGuiApplication::primaryScreen();
        if (!screen)
            return;
        if (auto* dialog = qobject_cast<CDialog*>(&window))
            WindowGeometry::FitDialog(*dialog, CommandButtons(*dialog));
        else
            window.resize(window.size()
                              .boundedTo(screen->availableGeometry().size() - WindowGeometry::FrameOf(window))
                              .expandedTo(window.minimumSize()));
    }
};

} // namespace

void FitWindowsToScreen() {
    static ScreenFitter* fitter = nullptr;
    if (fitter || !QCoreApplication::instance())
        return;
    fitter = new ScreenFitter(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(fitter);
}

} // namespace ui
