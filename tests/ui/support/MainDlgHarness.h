#pragma once

#include "CMainDlg.h"
#include "FakePeriodTimer.h"
#include "FakeUserPrompts.h"
#include "ScriptedCheckRunner.h"

#include "CommandLauncher.h"
#include "ISoundPlayer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QLineEdit;

// A main window on fakes: prompts answered by the test, a hand-driven period timer, scripted
// check runs, and recorded sound, command, dialog and hook requests.
class MainDlgHarness {
public:
    struct Recorder : ISoundPlayer, ICommandLauncher {
        void Play(const std::string& path) override { calls.push_back("sound " + path); }
        bool Launch(const std::string& commandLine, const CommandInput& input) override {
            calls.push_back("execute " + commandLine);
            lastEnvironment = input.environment;
            return true;
        }
        std::vector<std::string>& calls;
        std::vector<std::string> lastEnvironment;
        explicit Recorder(std::vector<std::string>& c) : calls(c) {}
    };

    MainDlgHarness();
    ~MainDlgHarness();

    // Creates the window (with this command-line tail) without showing it.
    CMainDlg& Create(const std::string& commandLineTail = {});
    // Creates the window and shows it, which initialises it, and lets its start-up finish.
    CMainDlg& Open(const std::string& commandLineTail = {});

    CMainDlg& dlg() { return *m_dlg; }
    QWidget* Item(int id) const;
    QLineEdit* Edit(int id) const;
    QAbstractButton* Button(int id) const;
    void Click(int id);
    QStringList Row(int row) const; // the three cells of a row of the list view
    int RowCount() const;
    // The environment the last execute alert was given ("NAME=value" each).
    const std::vector<std::string>& ExecuteEnvironment() const { return m_recorder.lastEnvironment; }

    FakeUserPrompts prompts;
    FakePeriodTimer* timer = nullptr; // owned by the window's scheduler
    ScriptedRuns runs;
    std::vector<std::string> calls;         // sound, execute, pager, mail, edit, splash, about, in order
    std::function<void(CItem&)> onEditItem; // what the "edit dialog" does to the entry
    // Set before Open() to use other check runs than the scripted ones (e.g. the real worker).
    std::function<std::unique_ptr<ICheckRunner>()> makeCheckRunner;
    // Set before Open(): the e-mail dialogue (none: the real one), returning how it ended, and
    // whether a tray exists.
    std::function<std::string(const CItemList&)> sendMail;
    std::function<void(const std::vector<std::string>& recovered)> sendRecoveryMail; // succeeds
    bool trayAvailable = false;
    // Set before Open() to use another timer than the hand-driven one (timer stays null then),
    // or to show a real splash instead of recording "splash".
    std::function<std::unique_ptr<IPeriodTimer>()> makeTimer;
    std::function<void(QWidget* owner)> showSplash;

private:
    Recorder m_recorder{calls};
    std::unique_ptr<CMainDlg> m_dlg;
};
