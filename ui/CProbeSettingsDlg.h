#pragma once

#include "ProbeSettings.h"

#include <QDialog>

class QSpinBox;

// "Probe settings": how many attempts each entry gets per pass and how far apart, the TCP time
// limit, and when an entry that answered reads as degraded. Kept in the user's settings file (the
// list file does not hold it), read back by Load; OK saves.
class CProbeSettingsDlg : public QDialog {
    Q_OBJECT
public:
    CProbeSettingsDlg(const ProbeSettings& settings, QWidget* owner);

    ProbeSettings Value() const;

    // The settings as saved, or the defaults (one echo or connect, nothing degraded).
    static ProbeSettings Load();
    static void Save(const ProbeSettings& settings);

private:
    QSpinBox* m_pEchoes;
    QSpinBox* m_pInterval;
    QSpinBox* m_pTcpTimeout;
    QSpinBox* m_pDegradedLoss;
    QSpinBox* m_pDegradedRtt;
};
