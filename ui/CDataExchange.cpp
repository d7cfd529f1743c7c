#include "CDataExchange.h"

#include "CDialog.h"
#include "DialogInt.h"
#include "LocalText.h"
#include "UserPrompts.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <cassert>

namespace {

using ui::FromLocal;
using ui::ToLocal;

// What a text field was last given, kept on the field itself: the bytes and what they showed as.
constexpr const char* kWrittenBytes = "pulsewickWrittenBytes";
constexpr const char* kWrittenText = "pulsewickWrittenText";

QString ControlText(QWidget* control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* combo = qobject_cast<QComboBox*>(control))
        return combo->currentText();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    return control->windowTitle();
}

void SetControlText(QWidget* control, const QString& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
        edit->setCursorPosition(0);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else {
        control->setWindowTitle(text);
    }
}

} // namespace

QWidget* CDataExchange::Control(int id) const {
    QWidget* control = m_dlg.GetDlgItem(id);
    assert(control && "data exchange with a control the template does not have");
    return control;
}

void CDataExchange::Fail(QWidget* control, const QString& message) {
    m_bFailed = true;
    m_dlg.NoteValidationFailure(); // before the message, whose loop may run a pending check
    ui::ShowMessage(&m_dlg, message, ui::MessageIcon::warning);
    if (control)
        m_dlg.RestoreFocus(control);
}

void DDX_Text(CDataExchange& dx, int id, std::string& value) {
    if (dx.m_bFailed || dx.m_bButtonsOnly)
        return;
    QWidget* control = dx.Control(id);
    if (dx.m_bSaveAndValidate) {
        // Bytes that are not valid in the locale's encoding show as replacement characters; a
        // round trip through the field must not store those in their place.
        const QString text = ControlText(control);
        const QVariant written = control->property(kWrittenBytes);
        if (written.isValid() && text == control->property(kWrittenText).toString())
            value = written.toByteArray().toStdString();
        else
            value = ToLocal(text);
        return;
    }
    SetControlText(control, FromLocal(value));
    control->setProperty(kWrittenBytes, QByteArray::fromStdString(value));
    control->setProperty(kWrittenText, ControlText(control));
}

void DDX_Text(CDataExchange& dx, int id, std::int32_t& value) {
    if (dx.m_bFailed || dx.m_bButtonsOnly)
        return;
    QWidget* control = dx.Control(id);
    if (!dx.m_bSaveAndValidate) {
        SetControlText(control, QString::number(value));
        return;
    }
    const auto parsed = ParseDialogInt(ToLocal(ControlText(control)));
    if (!parsed) {
        dx.Fail(control, QString::fromLatin1(kMsgEnterInteger));
        return;
    }
    value = *parsed;
}

void DDX_Text(CDataExchange& dx, int id, std::int32_t& value, std::int32_t min, std::int32_t max) {
    if (dx.m_bFailed || dx.m_bButtonsOnly)
        return;
    std::int32_t read = value;
    DDX_Text(dx, id, read);
    if (dx.m_bFailed || !dx.m_bSaveAndValidate)
        return;
    if (read < min || read > max) {
        dx.Fail(dx.Control(id), QString::fromLatin1(kMsgEnterIntegerBetween).arg(min).arg(max));
        return;
    }
    value = read;
}

void DDX_Check(CDataExchange& dx, int id, std::int32_t& value) {
    if (dx.m_bFailed)
        return;
    auto* box = qobject_cast<QCheckBox*>(dx.Control(id));
    assert(box);
    if (dx.m_bSaveAndValidate)
        value = box->checkState() == Qt::Checked ? 1 : box->checkState() == Qt::PartiallyChecked ? 2 : 0;
    else
        box->setCheckState(value == 2 && box->isTristate() ? Qt::PartiallyChecked
                           : value != 0                    ? Qt::Checked
                                                           : Qt::Unchecked);
}

void DDX_Radio(CDataExchange& dx, int firstId, std::int32_t& value) {
    if (dx.m_bFailed)
        return;
    auto* first = qobject_cast<QRadioButton*>(dx.Control(firstId));
    assert(first && first->group());
    QButtonGroup* group = first->group();
    const QList<QAbstractButton*> buttons = group->buttons();
    if (dx.m_bSaveAndValidate) {
        value = -1;
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            if (buttons[i]->isChecked()) {
                value = static_cast<std::int32_t>(i);
                break;
            }
        }
        return;
    }
    // An exclusive group refuses to uncheck its last button; lift that while writing.
    group->setExclusive(false);
    for (qsizetype i = 0; i < buttons.size(); ++i)
        buttons[i]->setChecked(i == value);
    group->setExclusive(true);
}

void DDX_CBIndex(CDataExchange& dx, int id, std::int32_t& value) {
    if (dx.m_bFailed || dx.m_bButtonsOnly)
        return;
    auto* combo = qobject_cast<QComboBox*>(dx.Control(id));
    assert(combo);
    if (dx.m_bSaveAndValidate)
        value = combo->currentIndex();
    else
        combo->setCurrentIndex(value >= 0 && value < combo->count() ? value : -1);
}

void DDX_CBString(CDataExchange& dx, int id, std::string& value) {
    if (dx.m_bFailed || dx.m_bButtonsOnly)
        return;
    auto* combo = qobject_cast<QComboBox*>(dx.Control(id));
    assert(combo);
    if (dx.m_bSaveAndValidate) {
        value = combo->currentIndex() >= 0 ? ToLocal(combo->currentText()) : std::string();
        return;
    }
    const QString text = FromLocal(value);
    int found = -1;
    if (!text.isEmpty()) {
        for (int i = 0; i < combo->count(); ++i) {
            if (combo->itemText(i).startsWith(text, Qt::CaseInsensitive)) {
                found = i;
                break;
            }
        }
    }
    combo->setCurrentIndex(found);
}
