#pragma once

#include "CAlertPolicy.h"

#include <QDialog>

class QCheckBox;
class QSpinBox;

// "Alert policy": when failed passes alert, and whether the end of an outage is told. Kept in
// the user's settings file (the list file does not hold it), read back by Load; OK saves.
class CAlertPolicyDlg : public QDialog {
    Q_OBJECT
public:
    CAlertPolicyDlg(const CAlertPolicy::Settings& settings, QWidget* owner);

    CAlertPolicy::Settings Value() const;

    // The settings as saved, or the defaults (every failed pass alerts, no recovery notice).
    static CAlertPolicy::Settings Load();
    static void Save(const CAlertPolicy::Settings& settings);

private:
    QSpinBox* m_pAlertAfter;
    QSpinBox* m_pRealertEvery;
    QCheckBox* m_pNotifyRecovery;
};
