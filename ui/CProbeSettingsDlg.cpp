#include "CProbeSettingsDlg.h"

#include "UserSettings.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

#include <algorithm>

namespace {
constexpr const char* kEchoesKey = "probes/echoes";
constexpr const char* kIntervalKey = "probes/echoIntervalMs";
constexpr const char* kTcpTimeoutKey = "probes/tcpTimeoutSeconds";     // 0: the kernel's limit
constexpr const char* kDegradedLossKey = "probes/degradedLossPercent"; // -1: off
constexpr const char* kDegradedRttKey = "probes/degradedRttMs";        // -1: off

// A value from the file, kept within what the dialog accepts (the file may have been edited, or
// written by root, whose interval may be shorter).
std::int32_t Read(const QSettings& settings, const char* key, std::int32_t fallback, std::int32_t low,
                  std::int32_t high) {
    bool ok = false;
    const int value = settings.value(QString::fromLatin1(key)).toInt(&ok);
    return ok ? std::clamp<std::int32_t>(value, low, high) : fallback;
}

QSpinBox* SpinBox(QWidget* parent, std::int32_t low, std::int32_t high, std::int32_t value, const QString& suffix,
                  const QString& offText = {}) {
    auto* box = new QSpinBox(parent);
    box->setRange(low, high);
    box->setSuffix(suffix);
    box->setSpecialValueText(offText); // shown at the lowest value, when given
    box->setValue(value);
    return box;
}
} // namespace

CProbeSettingsDlg::CProbeSettingsDlg(const ProbeSettings& settings, QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Probe settings"));
    const QString off = QStringLiteral("off");
    m_pEchoes = SpinBox(this, ProbeSettings::kMinEchoes, ProbeSettings::kMaxEchoes, settings.echoes, {});
    m_pInterval = SpinBox(this, MinEchoIntervalMs(), ProbeSettings::kMaxEchoIntervalMs, settings.echoIntervalMs,
                          QStringLiteral(" ms"));
    m_pTcpTimeout = SpinBox(this, 0, ProbeSettings::kMaxTcpTimeoutS, settings.tcpTimeoutS, QStringLiteral(" s"),
                            QStringLiteral("as long as the system tries"));
    m_pDegradedLoss = SpinBox(this, ProbeSettings::kOff, ProbeSettings::kMaxDegradedLossPercent,
                              settings.degradedLossPercent, QStringLiteral(" %"), off);
    // 0 ms would make every answer slow: the lowest value stands for "off".
    m_pDegradedRtt = SpinBox(this, 0, ProbeSettings::kMaxDegradedRttMs, std::max(settings.degradedRttMs, 0),
                             QStringLiteral(" ms"), off);

    auto* form = new QFormLayout(this);
    form->addRow(QStringLiteral("&Attempts per entry and pass:"), m_pEchoes);
    form->addRow(QStringLiteral("&Interval between an entry's attempts:"), m_pInterval);
    form->addRow(QStringLiteral("&TCP connect gives up after:"), m_pTcpTimeout);
    form->addRow(QStringLiteral("Degraded above this &loss:"), m_pDegradedLoss);
    form->addRow(QStringLiteral("Degraded above this &median round trip:"), m_pDegradedRtt);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

ProbeSettings CProbeSettingsDlg::Value() const {
    ProbeSettings value;
    value.echoes = m_pEchoes->value();
    value.echoIntervalMs = m_pInterval->value();
    value.tcpTimeoutS = m_pTcpTimeout->value();
    value.degradedLossPercent = m_pDegradedLoss->value();
    value.degradedRttMs = m_pDegradedRtt->value() > 0 ? m_pDegradedRtt->value() : ProbeSettings::kOff;
    return value;
}

ProbeSettings CProbeSettingsDlg::Load() {
    const QSettings file = ui::UserSettings();
    const ProbeSettings defaults;
    ProbeSettings value;
    value.echoes = Read(file, kEchoesKey, defaults.echoes, ProbeSettings::kMinEchoes, ProbeSettings::kMaxEchoes);
    value.echoIntervalMs =
        Read(file, kIntervalKey, defaults.echoIntervalMs, MinEchoIntervalMs(), ProbeSettings::kMaxEchoIntervalMs);
    value.tcpTimeoutS = Read(file, kTcpTimeoutKey, defaults.tcpTimeoutS, 0, ProbeSettings::kMaxTcpTimeoutS);
    value.degradedLossPercent = Read(file, kDegradedLossKey, defaults.degradedLossPercent, ProbeSettings::kOff,
                                     ProbeSettings::kMaxDegradedLossPercent);
    value.degradedRttMs =
        Read(file, kDegradedRttKey, defaults.degradedRttMs, ProbeSettings::kOff, ProbeSettings::kMaxDegradedRttMs);
    if (value.degradedRttMs == 0)
        value.degradedRttMs = ProbeSettings::kOff;
    return value;
}

void CProbeSettingsDlg::Save(const ProbeSettings& value) {
    QSettings file = ui::UserSettings();
    file.setValue(QString::fromLatin1(kEchoesKey), value.echoes);
    file.setValue(QString::fromLatin1(kIntervalKey), value.echoIntervalMs);
    file.setValue(QString::fromLatin1(kTcpTimeoutKey), value.tcpTimeoutS);
    file.setValue(QString::fromLatin1(kDegradedLossKey), value.degradedLossPercent);
    file.setValue(QString::fromLatin1(kDegradedRttKey), value.degradedRttMs);
}
