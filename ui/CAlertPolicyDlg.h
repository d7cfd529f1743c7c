#pragma once

#include "CAlertPolicy.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

// "Alert policy": when failed passes alert, whether the end of an outage is told, and what holds
// alerts: the uplink echoed with every pass, and entries behind a parent. Kept in the user's
// settings file (the list file does not hold it), read back by Load and LoadHolds; OK saves.
class CAlertPolicyDlg : public QDialog {
    Q_OBJECT
public:
    struct Holds {
        std::string uplink;              // none when empty
        std::vector<std::string> behind; // "PARENT=CHILD,CHILD" each
    };
    // The error text of holds that cannot be used (a name not in the list, a cycle), or none.
    using Validator = std::function<std::optional<std::string>(const Holds&)>;

    CAlertPolicyDlg(const CAlertPolicy::Settings& settings, QWidget* owner);
    // Shows holds, and lets OK through only when validate finds nothing wrong with the new ones.
    void SetHolds(const Holds& holds, Validator validate);

    CAlertPolicy::Settings Value() const;
    Holds HoldsValue() const;

    // The settings as saved, or the defaults (every failed pass alerts, no recovery notice).
    static CAlertPolicy::Settings Load();
    static void Save(const CAlertPolicy::Settings& settings);
    static Holds LoadHolds();
    static void SaveHolds(const Holds& holds);

private:
    void accept() override;

    QSpinBox* m_pAlertAfter;
    QSpinBox* m_pRealertEvery;
    QCheckBox* m_pNotifyRecovery;
    QLineEdit* m_pUplink;
    QPlainTextEdit* m_pBehind;
    Validator m_validate;
};
