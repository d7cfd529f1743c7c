#pragma once

#include "CAlertPolicy.h"
#include "CCMSCommCtrl.h"
#include "CDialog.h"
#include "CommandLauncher.h"
#include "EntryHistory.h"
#include "EntryParents.h"
#include "ICheckRunner.h"
#include "IPeriodTimer.h"
#include "ISoundPlayer.h"
#include "ListFileStamp.h"
#include "MuteState.h"
#include "PassHolds.h"
#include "PassRecord.h"
#include "ProbeSettings.h"
#include "UserPrompts.h"

#include <QDateTime>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

class CAlertDispatch;
class CBackgroundTask;
class CPagerAlert;
class CItem;
class CItemList;
class CScheduler;
class CTrayIcon;
class WindowGeometry;
class QLabel;
class QMenu;
class QTreeWidget;

// The main window: the connection list, every alert, schedule and log setting, the list
// commands, the check run and the monitoring schedule. Owns the one list for its whole life.
class CMainDlg : public CDialog {
    Q_OBJECT
public:
    // What the window needs from the platform; the desktop's own by default
    // (DefaultMainDlgServices()), replaceable by tests.
    struct Services {
        std::unique_ptr<IPeriodTimer> timer;
        std::unique_ptr<ISoundPlayer> soundPlayer;
        std::unique_ptr<ICommandLauncher> commandLauncher;
        std::function<std::unique_ptr<ICheckRunner>()> makeCheckRunner;
        std::function<void(CItem& item, QWidget* parent)> editItem;      // the connection edit dialog
        std::function<void(CItemList& list, QWidget* parent)> editPager; // pager properties
        std::function<void(CItemList& list, QWidget* parent)> editMail;  // e-mail properties
        std::function<void(QWidget* parent)> showAbout;                  // the About box
        std::function<void(QWidget* owner)> showSplash;                  // the start-up picture
        // The e-mail dialogue for a private copy of the list; runs off the user-interface thread.
        // Returns how it ended: smtp::kOk, or why it failed.
        // The entries the holds of the pass hold are left out.
        std::function<std::string(const CItemList& list, const PassHolds& holds, std::stop_token stop)> sendMail;
        // The same for the notice that an outage is over, naming the entries that answer again.
        std::function<std::string(const CItemList& list, std::stop_token stop,
                                  const std::vector<std::string>& recovered)>
            sendRecoveryMail;
        // Whether the window may offer a system-tray icon (the desktop's answer by default).
        std::function<bool()> trayAvailable;
        // The history chart of an entry (its name, what the window kept of its results).
        std::function<void(const QString& entry, const EntryRecord& record, QWidget* parent)> showHistory;
    };

    // How the last check run ended, for the status line, the tray and the notification.
    struct PassSummary {
        QDateTime when; // local time the run ended; invalid before the first run
        int probed = 0; // entries whose probe ended in this run
        int failed = 0;
        int degraded = 0; // answered, but poorly
        bool cancelled = false;
    };

    // How a load of a list file ended.
    enum class LoadOutcome { loaded, noList, openFailed, corrupt };

    static constexpr std::int32_t kMinPeriod = 1;
    static constexpr std::int32_t kMaxPeriod = 100000;

    // commandLineTail: the arguments after the program name joined with single blanks.
    CMainDlg(Services services, std::string commandLineTail = {}, QWidget* parent = nullptr);
    ~CMainDlg() override;

    // The bound members: the window's own copies of the list settings it shows.
    std::int32_t m_bStartAuto = 0;
    std::int32_t m_nPeriod = 15;
    std::string m_strSoundFile;
    std::int32_t m_bPopup = 0;
    std::string m_strExecute;
    std::int32_t m_nLogMode = 0;
    std::string m_strLogFile;
    std::int32_t m_bPager = 0;
    std::int32_t m_bMail = 0;

    CItemList& List() const { return *m_pList; }
    QTreeWidget* ListView() const;
    int IsRunning() const;    // m_bRunning of the schedule
    unsigned TimerId() const; // m_nTimerID of the schedule
    bool IsCheckRunInProgress() const { return m_bInCheckRun; }

    // The list file the list came from or was last saved to; empty for a list never saved.
    const std::string& ListPath() const { return m_strListPath; }
    // The list differs from its file (or from a new list): entries added, edited or deleted, or
    // any setting changed, including a period or command typed but not yet left. Probe results
    // do not count.
    bool IsModified() const;
    // Before the list is given up: asks "Save changes to NAME?" when it has unsaved changes.
    // True when the caller may go on (nothing to save, saved, or discarded).
    bool ConfirmDiscardChanges();
    // The desktop ends the session: from now on closing never waits for an answer.
    void OnSessionEnding();
    QString StatusLineText() const; // the status line under the controls
    const PassSummary& LastPass() const { return m_lastPass; }
    CTrayIcon* TrayIcon() const { return m_tray.get(); }
    // Closing the window while monitoring keeps monitoring in the tray when this is set (a
    // setting of the user's desktop account, not of the list).
    static bool MinimiseToTray();
    static void SetMinimiseToTray(bool on);
    // Shows the window again from the tray.
    void ShowFromTray();
    // Ends the program as the "&Close" button does (through the save question).
    void Quit();
    int exec() override;

    // Commands and operations.
    void RefreshList();
    void UpdateControls();
    void AddEntry();
    void EditSelectedEntries();
    void DeleteSelectedEntries();
    void SaveList();
    void LoadList();
    LoadOutcome LoadListFile(const std::string& path);
    int CheckConnections();
    void StartMonitoring();
    void StopMonitoring();
    void PingNow();
    // The alert dispatch; done runs once every alert has ended (the e-mail ends later).
    void RaiseAlerts(std::function<void()> done = {});
    // The pager alert through the modem; throws CCommError when the serial control fails.
    void SendPagerAlert();
    // Part of the pager alert: the wait for the modem's answer, with the window's events flowing.
    void WaitForModem(int limitSeconds);
    // Starts the e-mail alert; ended runs when its dialogue is over, whatever dialog is open then.
    void SendMailAlert(std::function<void(std::exception_ptr)> ended = {});
    void OnHelp();
    void OnAbout();
    // The chart of the selected row's results in this session.
    void ShowHistory();
    const EntryHistory& History() const { return m_history; }

    // "Pause alerts": holds the alerts of the list for so many seconds (MuteState::kUntilResumed:
    // until resumed), kept in the list's mute state, which the monitor and the companion share.
    void PauseAlerts(std::int64_t seconds);
    void ResumeAlerts();
    // A menu of the pauses offered and "Resume alerts", for the tray and the window's button.
    QMenu* CreatePauseMenu(QWidget* parent);

    // Where the manual is looked for: beside the executable, then in the documentation folder.
    static QString HelpFilePath();

signals:
    // A check run has started or ended (the window is disabled exactly in between).
    void checkRunStarted();
    void checkRunFinished(int result);

protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnCancel() override;
    void OnOK() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void ConnectControls();
    void ReadFieldsThen(const std::function<void()>& copy);
    // The end of the start-up, once the window is shown: the splash, then a due first run.
    void FinishStartUp(bool showSplash);
    void RefreshFromList();
    void SetRowStatus(std::size_t row, int result);
    // A row's probe has ended, maybe ahead of the rows before it: its cells show it at once.
    void ShowProbeEnded(std::size_t row, const ProbeOutcome& outcome, std::int64_t endedAt);
    void ConnectHistory();
    void RecordHistory(const CItem& entry);
    void ForgetRemovedHistory();
    // What the list view needs beyond the template's room to show every column of a typical row.
    QSize ListExtraRoom() const;
    void RunEditor(const std::function<void()>& edit);
    // The sound and log file: a path chosen with the file dialog (nothing when cancelled), or
    // none, goes into the list's setting and the window's copy, and the fields are rewritten.
    void ChooseFile(const ui::FileDialogRequest& request, std::string& windowCopy, std::string& listSetting);
    void SetFileSetting(std::string& windowCopy, std::string& listSetting, const std::string& path);

    // The list's document state: saving with or without a name, what counts as unsaved.
    bool SaveListAs();
    bool SaveListTo(const std::string& path);
    // The list now matches the file at path, whose version on disk is stamp.
    void MarkSaved(const std::string& path, const std::optional<ListFileStamp>& stamp = std::nullopt);
    bool FieldsDifferFromList() const;
    QString DocumentName() const;
    void EndProgram();

    // What the window says about monitoring: title, status line, tray, notification.
    void CreateStatusLine();
    // The alert policy (CMainDlgAlertPolicy.cpp): its button, and what a scheduled pass raises.
    void CreateAlertPolicyButton();
    // The probe settings (CMainDlgProbeSettings.cpp): their button, kept in the user's settings.
    void CreateProbeSettingsButton();
    void ScheduledPassEnded(std::function<void()> done);
    // What holds the alerts after a run (CMainDlgHolds.cpp): the uplink's answer, the mute state
    // read afresh, the parents against the list as it is now; the reasons of unreachable rows.
    void JudgeHolds(std::optional<bool> uplinkAnswered);
    void CreatePauseButton();
    // The mute state of the list: its file's (none for a list never saved), or kept in memory.
    void ReadMutes();
    void ChangeMutes(const std::function<void(MuteState&)>& change);
    // The list's file has become path: a pause of a list without a file goes into the new one.
    void MutesFollowPath(const std::string& oldPath);
    QString HoldsText() const; // the status line's part about the holds
    void NotifyRecovery();
    void SendRecoveryMail(std::function<void(std::exception_ptr)> ended);
    // An e-mail dialogue on a copy of the list beside the window; what (its name in the status
    // line) failed when it returns anything but smtp::kOk.
    using MailDialogue = std::function<std::string(const CItemList& list, std::stop_token stop)>;
    void StartMail(const char* what, MailDialogue dialogue, std::function<void(std::exception_ptr)> ended);
    // An alert failed: the status line and the tray say so, and why, until the next pass.
    void AlertFailed(const char* what, const QString& why);
    void UpdateStatus();
    void OnPassEnded();
    void SetTabOrder();
    QString PassText() const;
    QString FailedEntriesText() const;
    // The reason cell of a row that failed behind a parent that failed too.
    void ShowUnreachable(std::size_t row, const QString& reason);
    Services m_services;
    std::string m_commandLineTail;
    std::unique_ptr<CItemList> m_pList;
    CCMSCommCtrl m_comm;                         // the serial control that drives the pager's modem
    CPagerAlert* m_pPagerAlert = nullptr;        // the pager alert in progress, for WaitForModem
    std::unique_ptr<CBackgroundTask> m_mailTask; // the e-mail dialogue in flight
    std::unique_ptr<CAlertDispatch> m_alerts;
    CAlertPolicy m_policy;         // from the user's settings file
    std::string m_uplink;          // likewise, with the parents
    EntryParents m_parents;
    MuteState m_mutes;             // as last read from the list's mute state
    QString m_muteProblem;         // a mute state that cannot be read, for the status line
    QString m_parentsProblem;      // parents that do not fit the list, likewise
    PassHolds m_holds;             // of the last run
    ProbeSettings m_probeSettings; // likewise
    std::unique_ptr<CScheduler> m_scheduler;
    int m_nEditorDepth = 0; // edit dialogs open on entries; a scheduled run waits for them
    bool m_bInCheckRun = false;
    bool m_bStartUpDone = false; // the window has been shown and the splash asked for

    std::string m_strListPath;
    std::unique_ptr<CItemList> m_pSavedContent; // the list as its file holds it
    std::optional<ListFileStamp> m_savedStamp;  // the version of the file read or written last
    bool m_bSessionEnding = false;
    QLabel* m_pStatusLine = nullptr;
    PassSummary m_lastPass;
    PassSummary m_currentPass;
    // What the last run probed and when it ended, for the alert policy and the execute alert.
    PassRecord m_passRecord;
    QString m_alertFailure; // since the last pass; empty when none failed
    QDateTime m_nextPass;   // when the armed period timer falls due; invalid when none
    std::unique_ptr<CTrayIcon> m_tray;
    std::unique_ptr<WindowGeometry> m_geometry; // size and place on the screen
    EntryHistory m_history;                     // this session's results, per entry
};

// The desktop's services: Qt timer, sound effects, the shell, the shared check run, the dialogs.
CMainDlg::Services DefaultMainDlgServices();
