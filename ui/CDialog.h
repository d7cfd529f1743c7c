#pragma once

#include "DialogTemplate.h"

#include <QDialog>
#include <QPointer>
#include <functional>
#include <map>

class CDataExchange;

// Base of every dialog of the program: built from its template, controls found by number,
// one data-exchange routine that moves all members at once (reading validates, writing does
// not), and the commands of the dialog keys: button 1 or Enter is OK, button 2, Escape or the
// close box is Cancel.
class CDialog : public QDialog {
    Q_OBJECT
public:
    explicit CDialog(int templateId, QWidget* parent = nullptr);
    ~CDialog() override;

    const res::DialogTemplate& Template() const { return *m_template; }

    // The control with that number, or null.
    QWidget* GetDlgItem(int id) const;
    template <typename T>
    T* GetDlgItem(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }

    // Moves all members into the controls (false) or reads and validates them (true).
    // Returns false when a field failed validation; its message has been shown then.
    bool UpdateData(bool saveAndValidate = true);

    // Runs the dialog modally and returns its result.
    int DoModal() { return exec(); }
    // Shows the dialog as a modeless window (initialised first).
    void Create();
    void EndDialog(int result) { done(result); }

    // Puts the focus back on a field that failed validation, selecting its text. The control
    // that loses the focus thereby does not report it: the user did not leave it.
    void RestoreFocus(QWidget* control);
    // Called by the data exchange just before a validation message: a field left by the same
    // user action is not checked again afterwards.
    void NoteValidationFailure() { ++m_nValidationFailures; }

    void setVisible(bool visible) override;
    void accept() override { OnOK(); }
    void reject() override { OnCancel(); }

protected:
    virtual void DoDataExchange(CDataExchange& dx);
    // Runs once, after the controls exist and before the window is first shown.
    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // A push button was clicked; the base handles OK (1) and Cancel (2).
    virtual void OnCommand(int id);

    // Calls handler whenever the control loses the keyboard focus.
    void OnKillFocus(int id, std::function<void()> handler);

    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void PostKillFocus(QObject* control);

    const res::DialogTemplate* m_template;
    bool m_bInitialised = false;
    bool m_bInKillFocus = false;
    bool m_bRestoringFocus = false;
    std::map<QObject*, std::function<void()>> m_killFocusHandlers;
    unsigned m_nValidationFailures = 0;
    QPointer<QObject> m_pendingKillFocus; // left while the dialog was disabled; checked once enabled
};
