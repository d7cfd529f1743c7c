#include "CDialog.h"

#include "CDataExchange.h"
#include "CDialogBuilder.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <stdexcept>

namespace {
const res::DialogTemplate& TemplateOrThrow(int id) {
    const res::DialogTemplate* t = res::FindDialogTemplate(id);
    if (!t)
        throw std::invalid_argument("no dialog template " + std::to_string(id));
    return *t;
}
} // namespace

CDialog::CDialog(int templateId, QWidget* parent) : QDialog(parent), m_template(&TemplateOrThrow(templateId)) {
    // Run modally, a dialog with an owner blocks that window only (the tray icon keeps
    // answering); one without blocks the whole program.
    if (parent)
        setWindowModality(Qt::WindowModal);
    for (QWidget* w : CDialogBuilder::Build(*this, *m_template)) {
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            const int id = CDialogBuilder::ControlId(button);
            connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        }
    }
}

CDialog::~CDialog() = default;

QWidget* CDialog::GetDlgItem(int id) const {
    if (id < 0)
        return nullptr;
    return findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

bool CDialog::UpdateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return !dx.m_bFailed;
}

void CDialog::Create() {
    setModal(false);
    show();
}

void CDialog::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CDialog::DoDataExchange(CDataExchange&) {}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    if (!UpdateData(true))
        return;
    EndDialog(QDialog::Accepted);
}

void CDialog::OnCancel() {
    EndDialog(QDialog::Rejected);
}

void CDialog::OnCommand(int id) {
    if (id == 1)
        OnOK();
    else if (id == 2)
        OnCancel();
}

void CDialog::OnKillFocus(int id, std::function<void()> handler) {
    QWidget* control = GetDlgItem(id);
    if (!control)
        return;
    control->installEventFilter(this);
    m_killFocusHandlers[control] = std::move(handler);
}

bool CDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // Another window taking the focus (a message box, the desktop) does not mean the user
        // left the field; coming back finds the focus still there. Nor does the dialog being
        // disabled (for a check run) under the field.
        if (m_killFocusHandlers.count(watched) && isVisible() && isEnabled() && !m_bRestoringFocus &&
            reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            PostKillFocus(watched);
    }
    return QDialog::eventFilter(watched, event);
}

void CDialog::PostKillFocus(QObject* watched) {
    // Run once the focus change is complete, so a handler may put the focus back.
    QMetaObject::invokeMethod(
        this,
        [this, control = QPointer<QObject>(watched), failures = m_nValidationFailures] {
            auto it = m_killFocusHandlers.find(control.data());
            if (!control || it == m_killFocusHandlers.end() || m_bInKillFocus || !isVisible())
                return;
            // The command that took the focus has shown a validation message already.
            if (failures != m_nValidationFailures)
                return;
            // A run disabled the dialog before the check came round: no message may hold up the
            // run, so the check waits for the dialog to be enabled again.
            if (!isEnabled()) {
                m_pendingKillFocus = control.data();
                return;
            }
            m_bInKillFocus = true;
            it->second();
            m_bInKillFocus = false;
        },
        Qt::QueuedConnection);
}

void CDialog::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && isEnabled() && m_pendingKillFocus) {
        PostKillFocus(m_pendingKillFocus.data());
        m_pendingKillFocus = nullptr;
    }
    QDialog::changeEvent(event);
}

void CDialog::RestoreFocus(QWidget* control) {
    m_bRestoringFocus = true;
    control->setFocus(Qt::OtherFocusReason);
    m_bRestoringFocus = false;
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->selectAll();
}

void CDialog::keyPressEvent(QKeyEvent* event) {
    const bool plain = event->modifiers() == Qt::NoModifier ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        // The push button that has the focus takes Enter, else the default button; without
        // one Enter is the OK command.
        if (auto* focused = qobject_cast<QPushButton*>(focusWidget()); focused && focused->isEnabled()) {
            focused->click();
            return;
        }
        for (QPushButton* button : findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
            if (button->isDefault() && button->isVisible()) {
                if (button->isEnabled())
                    button->click();
                return;
            }
        }
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}
