#include "CAlertPolicyDlg.h"

#include "LocalText.h"
#include "UserPrompts.h"
#include "UserSettings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>

#include <algorithm>

namespace {
constexpr const char* kAlertAfterKey = "alerts/alertAfter";
constexpr const char* kRealertEveryKey = "alerts/realertEvery"; // 0: never
constexpr const char* kNotifyRecoveryKey = "alerts/notifyRecovery";
constexpr const char* kUplinkKey = "alerts/uplink";
constexpr const char* kBehindKey = "alerts/behind"; // a list of "PARENT=CHILD,CHILD"
constexpr int kBehindLines = 4;

// A value from the file, kept within what the dialog accepts (the file may have been edited).
std::int32_t Passes(const QSettings& settings, const char* key, std::int32_t fallback, std::int32_t least) {
    bool ok = false;
    const int value = settings.value(QString::fromLatin1(key)).toInt(&ok);
    return ok ? std::clamp<std::int32_t>(value, least, CAlertPolicy::kMaxPasses) : fallback;
}
} // namespace

CAlertPolicyDlg::CAlertPolicyDlg(const CAlertPolicy::Settings& settings, QWidget* owner)
    : QDialog(owner), m_pAlertAfter(new QSpinBox(this)), m_pRealertEvery(new QSpinBox(this)),
      m_pNotifyRecovery(new QCheckBox(QStringLiteral("Tell when every alerted connection answers again"), this)),
      m_pUplink(new QLineEdit(this)), m_pBehind(new QPlainTextEdit(this)) {
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
    m_pUplink->setObjectName(QStringLiteral("uplink"));
    m_pUplink->setPlaceholderText(QStringLiteral("none"));
    m_pUplink->setToolTip(QStringLiteral("Echoed with every pass. When it does not answer, the pass is cut off: "
                                         "no entry alerts, one notification."));
    form->addRow(QStringLiteral("Uplink (this computer's way out):"), m_pUplink);
    m_pBehind->setObjectName(QStringLiteral("behind"));
    m_pBehind->setPlaceholderText(QStringLiteral("router=host1,host2"));
    m_pBehind->setToolTip(QStringLiteral("One PARENT=CHILD,CHILD a line (ADDRESS, ADDRESS:PORT or ADDRESS:ICMP). "
                                         "A child that fails while its parent fails is not alerted on its own."));
    m_pBehind->setTabChangesFocus(true);
    m_pBehind->setFixedHeight(m_pBehind->fontMetrics().lineSpacing() * kBehindLines +
                              2 * m_pBehind->frameWidth() + static_cast<int>(m_pBehind->document()->documentMargin() * 2));
    form->addRow(QStringLiteral("Entries behind a parent:"), m_pBehind);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

void CAlertPolicyDlg::SetHolds(const Holds& holds, Validator validate) {
    m_pUplink->setText(ui::FromLocal(holds.uplink));
    QStringList lines;
    for (const std::string& line : holds.behind)
        lines << ui::FromLocal(line);
    m_pBehind->setPlainText(lines.join(QLatin1Char('\n')));
    m_validate = std::move(validate);
}

CAlertPolicyDlg::Holds CAlertPolicyDlg::HoldsValue() const {
    Holds holds{ui::ToLocal(m_pUplink->text().trimmed()), {}};
    for (const QString& line : m_pBehind->toPlainText().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!line.trimmed().isEmpty())
            holds.behind.push_back(ui::ToLocal(line.trimmed()));
    }
    return holds;
}

void CAlertPolicyDlg::accept() {
    if (m_validate) {
        if (const auto why = m_validate(HoldsValue())) {
            ui::Prompts().MessageBox(this, ui::FromLocal(*why), ui::MessageIcon::warning);
            m_pBehind->setFocus();
            return;
        }
    }
    QDialog::accept();
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

CAlertPolicyDlg::Holds CAlertPolicyDlg::LoadHolds() {
    const QSettings settings = ui::UserSettings();
    Holds holds{ui::ToLocal(settings.value(QString::fromLatin1(kUplinkKey)).toString()), {}};
    for (const QString& line : settings.value(QString::fromLatin1(kBehindKey)).toStringList())
        holds.behind.push_back(ui::ToLocal(line));
    return holds;
}

void CAlertPolicyDlg::SaveHolds(const Holds& holds) {
    QSettings settings = ui::UserSettings();
    QStringList lines;
    for (const std::string& line : holds.behind)
        lines << ui::FromLocal(line);
    // Nothing is written for a setting never used.
    if (!holds.uplink.empty() || settings.contains(QString::fromLatin1(kUplinkKey)))
        settings.setValue(QString::fromLatin1(kUplinkKey), ui::FromLocal(holds.uplink));
    if (!lines.isEmpty() || settings.contains(QString::fromLatin1(kBehindKey)))
        settings.setValue(QString::fromLatin1(kBehindKey), lines);
}
