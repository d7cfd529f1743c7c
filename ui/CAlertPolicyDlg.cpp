#include "CAlertPolicyDlg.h"

#include "UserSettings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

#include <algorithm>

namespace {
constexpr const char* kAlertAfterKey = "alerts/alertAfter";
constexpr const char* kRealertEveryKey = "alerts/realertEvery"; // 0: never
constexpr const char* kNotifyRecoveryKey = "alerts/notifyRecovery";

// A value from the file, kept within what the dialog accepts (the file may have been edited).
std::int32_t Passes(const QSettings& settings, const char* key, std::int32_t fallback, std::int32_t least) {
    bool ok = false;
    const int value = settings.value(QString::fromLatin1(key)).toInt(&ok);
    return ok ? std::clamp<std::int32_t>(value, least, CAlertPolicy::kMaxPasses) : fallback;
}
} // namespace

CAlertPolicyDlg::CAlertPolicyDlg(const CAlertPolicy::Settings& settings, QWidget* owner)
    : QDialog(owner), m_pAlertAfter(new QSpinBox(this)), m_pRealertEvery(new QSpinBox(this)),
      m_pNotifyRecovery(new QCheckBox(QStringLiteral("Tell when every alerted connection answers again"), this)) {
    setWindowTitle(QStringLiteral("Alert policy"));
    m_pAlertAfter->setRange(1, CAlertPolicy::kMaxPasses);
    m_pAlertAfter->setValue(settings.alertAfter);
    m_pRealertEvery->setRange(CAlertPolicy::kNever, CAlertPolicy::kMaxPasses);
    m_pRealertEvery->setSpecialValueText(QStringLiteral("never"));
    m_pRealertEvery->setValue(settings.realertEvery);
    m_pNotifyRecovery->setChecked(settings.notifyRecovery);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("Alert after this many failed passes in a row:"), m_pAlertAfter);
    form->addRow(QStringLiteral("While failing, alert again every (passes):"), m_pRealertEvery);
    form->addRow(m_pNotifyRecovery);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

CAlertPolicy::Settings CAlertPolicyDlg::Value() const {
    return {m_pAlertAfter->value(), m_pRealertEvery->value(), m_pNotifyRecovery->isChecked()};
}

CAlertPolicy::Settings CAlertPolicyDlg::Load() {
    const QSettings settings = ui::UserSettings();
    const CAlertPolicy::Settings defaults;
    return {Passes(settings, kAlertAfterKey, defaults.alertAfter, 1),
            Passes(settings, kRealertEveryKey, defaults.realertEvery, CAlertPolicy::kNever),
            settings.value(QString::fromLatin1(kNotifyRecoveryKey), defaults.notifyRecovery).toBool()};
}

void CAlertPolicyDlg::Save(const CAlertPolicy::Settings& value) {
    QSettings settings = ui::UserSettings();
    settings.setValue(QString::fromLatin1(kAlertAfterKey), value.alertAfter);
    settings.setValue(QString::fromLatin1(kRealertEveryKey), value.realertEvery);
    settings.setValue(QString::fromLatin1(kNotifyRecoveryKey), value.notifyRecovery);
}
