#include "CMainDlg.h"

#include "AlertEnvironment.h"
#include "CAlertDispatch.h"
#include "CBackgroundTask.h"
#include "CDataExchange.h"
#include "CHelpViewer.h"
#include "CItemList.h"
#include "CPagerAlert.h"
#include "CScheduler.h"
#include "CSpinButtonCtrl.h"
#include "CTrayIcon.h"
#include "ChosenFile.h"
#include "CommandLauncher.h"
#include "IPeriodTimer.h"
#include "ISoundPlayer.h"
#include "ListCopy.h"
#include "LocalText.h"
#include "ResourceIds.h"
#include "ScreenFit.h"
#include "SmtpAlert.h"
#include "SmtpOptions.h"
#include "UserPrompts.h"
#include "WindowGeometry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidget>
#include <QUrl>

using namespace res;

namespace {

constexpr const char* kHelpFileName = "pulsewick.html";
constexpr const char* kHelpFailedText = "Failed to launch help.";
constexpr const char* kSoundFilter = "Sounds (*.wav)";
constexpr const char* kSoundSuffix = "wav";
constexpr const char* kLogFilter = "Log (*.log)";
constexpr const char* kLogSuffix = "log";
constexpr const char* kMailAlertName = "E-mail alert";

// While the pager alert waits for the modem the window stays usable with the mouse, but its
// dialog keys are off: Tab, Enter and Esc must not move the focus, press a button or close the
// window in the middle of a call.
class DialogKeysOff final : public QObject {
public:
    explicit DialogKeysOff(QWidget* dialog) : m_dialog(dialog) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~DialogKeysOff() override { QCoreApplication::instance()->removeEventFilter(this); }
    DialogKeysOff(const DialogKeysOff&) = delete;
    DialogKeysOff& operator=(const DialogKeysOff&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
            return false;
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || (widget != m_dialog && !m_dialog->isAncestorOf(widget)))
            return false;
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            return true;
        default:
            return false;
        }
    }

private:
    QWidget* m_dialog;
};

} // namespace

CMainDlg::CMainDlg(Services services, std::string commandLineTail, QWidget* parent)
    : CDialog(IDD_PULSEWICK_DIALOG, parent), m_services(std::move(services)),
      m_commandLineTail(std::move(commandLineTail)), m_pList(std::make_unique<CItemList>()) {
    CAlertDispatch::Hooks alertHooks;
    alertHooks.settings = [this] {
        CAlertDispatch::Settings s;
        s.m_bPopup = m_bPopup;
        s.m_strSoundFile = m_strSoundFile;
        s.m_strExecute = m_strExecute;
        s.m_bPager = m_bPager;
        s.m_bMail = m_bMail;
        return s;
    };
    alertHooks.showInformation = [this](const std::string& text) {
        // The pop-up names what failed behind its details button.
        ui::Prompts().MessageBox(this, ui::FromLocal(text), ui::MessageIcon::information, FailedEntriesText());
    };
    alertHooks.showStopError = [this](const std::string& text) {
        ui::ShowMessage(this, ui::FromLocal(text), ui::MessageIcon::critical);
    };
    alertHooks.sendPagerAlert = CAlertDispatch::AtOnce([this] { SendPagerAlert(); });
    alertHooks.sendMailAlert = [this](CAlertDispatch::StepEnded ended) { SendMailAlert(std::move(ended)); };
    alertHooks.executeInput = [this](const std::string& commandLine) {
        const bool recovered = m_alerts->CurrentEvent() == CAlertDispatch::Event::recovered;
        return alertenv::ForCommand(
            {recovered ? alertenv::kEventRecovered : alertenv::kEventFailed, m_strListPath, m_passRecord.EndedAt()},
            *m_pList, commandLine, &m_holds);
    };
    alertHooks.notifyRecovery = [this] { NotifyRecovery(); };
    alertHooks.sendRecoveryMail = [this](CAlertDispatch::StepEnded ended) { SendRecoveryMail(std::move(ended)); };
    m_alerts =
        std::make_unique<CAlertDispatch>(std::move(alertHooks), *m_services.soundPlayer, *m_services.commandLauncher);

    CScheduler::Hooks schedulerHooks;
    schedulerHooks.checkConnections = [this] { return CheckConnections(); };
    schedulerHooks.passEnded = [this](int, std::function<void()> done) { ScheduledPassEnded(std::move(done)); };
    schedulerHooks.updateControls = [this] { UpdateControls(); };
    schedulerHooks.period = [this] { return m_pList->m_nPeriod; };
    // No run before the window and its splash are on the screen (see OnInitDialog).
    schedulerHooks.runMustWait = [this] { return m_nEditorDepth > 0 || !m_bStartUpDone; };
    schedulerHooks.armed = [this](std::int64_t delayMs) {
        m_nextPass = QDateTime::currentDateTime().addMSecs(delayMs);
        UpdateStatus();
    };
    m_scheduler = std::make_unique<CScheduler>(std::move(schedulerHooks), std::move(m_services.timer));

    if (auto* spin = GetDlgItem<CSpinButtonCtrl>(IDC_PERIOD_SPIN))
        spin->SetRange(kMinPeriod, kMaxPeriod);
    setWindowIcon(QCoreApplication::instance() ? QApplication::windowIcon() : QIcon());
    ConnectControls();
    ConnectHistory();
    SetTabOrder();
    MarkSaved({});
    CreateStatusLine();
    CreateAlertPolicyButton();
    CreatePauseButton();
    CreateProbeSettingsButton();
    // The buttons beside the list stay in view on a screen too small for the window.
    WindowGeometry::Pinned column{{}, Qt::RightEdge};
    for (int id : {IDC_EDIT, IDC_ADD, IDC_DELETE, IDC_PING_NOW, IDC_SAVE_LIST, IDC_LOAD_LIST, IDC_START, IDC_STOP,
                   IDHELP, IDC_ABOUT, IDCANCEL}) {
        if (QWidget* button = GetDlgItem(id))
            column.controls.push_back(button);
    }
    if (auto* probing = findChild<QWidget*>(QStringLiteral("probeSettings")))
        column.controls.push_back(probing); // sits at the column's foot
    m_geometry = std::make_unique<WindowGeometry>(*this, *ListView(), std::vector<QWidget*>{m_pStatusLine},
                                                  ListExtraRoom(), std::move(column));
    ui::FitWindowsToScreen();
}

CMainDlg::~CMainDlg() {
    // The schedule goes first: its timer must not fire into a half-destroyed window. An e-mail
    // still in flight is given up.
    m_scheduler.reset();
    m_mailTask.reset();
}

QTreeWidget* CMainDlg::ListView() const {
    return GetDlgItem<QTreeWidget>(IDC_LIST);
}

int CMainDlg::IsRunning() const {
    return m_scheduler->m_bRunning;
}

unsigned CMainDlg::TimerId() const {
    return m_scheduler->m_nTimerID;
}

void CMainDlg::ConnectControls() {
    auto onClick = [this](int id, auto handler) {
        if (auto* button = GetDlgItem<QAbstractButton>(id))
            connect(button, &QAbstractButton::clicked, this, handler);
    };
    onClick(IDC_POPUP, [this] { ReadFieldsThen([this] { m_pList->m_bPopup = m_bPopup; }); });
    onClick(IDC_START_AUTO, [this] { ReadFieldsThen([this] { m_pList->m_bStartAuto = m_bStartAuto; }); });
    for (int id : {IDC_LOG_NEVER, IDC_LOG_ON_FAILURE, IDC_LOG_ALWAYS}) {
        onClick(id, [this] {
            ReadFieldsThen([this] { m_pList->m_nLogMode = m_nLogMode; });
            UpdateControls();
        });
    }
    onClick(IDC_PAGER, [this] {
        ReadFieldsThen([this] { m_pList->m_bPager = m_bPager; });
        UpdateControls();
    });
    onClick(IDC_MAIL, [this] {
        ReadFieldsThen([this] { m_pList->m_bMail = m_bMail; });
        UpdateControls();
    });
    auto copyPeriod = [this] {
        // Only a period that passed validation reaches the list.
        if (UpdateData(true))
            m_pList->m_nPeriod = m_nPeriod;
        UpdateStatus();
    };
    OnKillFocus(IDC_PERIOD, copyPeriod);
    if (auto* spin = GetDlgItem<CSpinButtonCtrl>(IDC_PERIOD_SPIN))
        connect(spin, &CSpinButtonCtrl::stepped, this, copyPeriod);
    OnKillFocus(IDC_EXECUTE, [this] { ReadFieldsThen([this] { m_pList->m_strExecute = m_strExecute; }); });
    // Typing is already an unsaved change: the title's mark follows it at once.
    for (int id : {IDC_PERIOD, IDC_EXECUTE}) {
        if (auto* field = GetDlgItem<QLineEdit>(id))
            connect(field, &QLineEdit::textEdited, this, [this] { UpdateStatus(); });
    }

    onClick(IDC_SOUND_BROWSE, [this] {
        const ui::FileDialogRequest request{.mode = ui::FileDialogRequest::Mode::open,
                                            .filter = QString::fromLatin1(kSoundFilter),
                                            .defaultSuffix = QString::fromLatin1(kSoundSuffix)};
        ChooseFile(request, m_strSoundFile, m_pList->m_strSoundFile);
    });
    onClick(IDC_SOUND_CLEAR, [this] { SetFileSetting(m_strSoundFile, m_pList->m_strSoundFile, {}); });
    onClick(IDC_LOG_BROWSE, [this] {
        // The log is appended to, never overwritten: choosing an existing file asks nothing.
        const ui::FileDialogRequest request{.mode = ui::FileDialogRequest::Mode::save,
                                            .filter = QString::fromLatin1(kLogFilter),
                                            .defaultSuffix = QString::fromLatin1(kLogSuffix),
                                            .confirmOverwrite = false};
        ChooseFile(request, m_strLogFile, m_pList->m_strLogFile);
    });
    onClick(IDC_LOG_CLEAR, [this] { SetFileSetting(m_strLogFile, m_pList->m_strLogFile, {}); });

    onClick(IDC_ADD, [this] { AddEntry(); });
    onClick(IDC_EDIT, [this] { EditSelectedEntries(); });
    onClick(IDC_DELETE, [this] { DeleteSelectedEntries(); });
    onClick(IDC_PING_NOW, [this] { PingNow(); });
    onClick(IDC_SAVE_LIST, [this] { SaveList(); });
    onClick(IDC_LOAD_LIST, [this] { LoadList(); });
    onClick(IDC_START, [this] { StartMonitoring(); });
    onClick(IDC_STOP, [this] { StopMonitoring(); });
    onClick(IDHELP, [this] { OnHelp(); });
    onClick(IDC_ABOUT, [this] { OnAbout(); });
    onClick(IDC_PAGER_SETTINGS, [this] {
        if (m_services.editPager)
            m_services.editPager(*m_pList, this);
        UpdateStatus();
    });
    onClick(IDC_MAIL_SETTINGS, [this] {
        if (m_services.editMail)
            m_services.editMail(*m_pList, this);
        UpdateStatus();
    });
    if (QTreeWidget* list = ListView())
        connect(list, &QTreeWidget::itemDoubleClicked, this, [this] { EditSelectedEntries(); });
}

void CMainDlg::SetTabOrder() {
    // The template lists the pager and e-mail rows last; Tab follows what the user sees: the
    // list, the alert and schedule settings top to bottom, then the buttons down the right.
    static constexpr int kVisualOrder[] = {IDC_LIST,        IDC_POPUP,          IDC_SOUND_FILE, IDC_SOUND_BROWSE,
                                           IDC_SOUND_CLEAR, IDC_EXECUTE,        IDC_PAGER,      IDC_PAGER_SETTINGS,
                                           IDC_MAIL,        IDC_MAIL_SETTINGS,  IDC_PERIOD,     IDC_START_AUTO,
                                           IDC_LOG_NEVER,   IDC_LOG_ON_FAILURE, IDC_LOG_ALWAYS, IDC_LOG_FILE,
                                           IDC_LOG_BROWSE,  IDC_LOG_CLEAR,      IDC_EDIT,       IDC_ADD,
                                           IDC_DELETE,      IDC_PING_NOW,       IDC_SAVE_LIST,  IDC_LOAD_LIST,
                                           IDC_START,       IDC_STOP,           IDHELP,         IDC_ABOUT,
                                           IDCANCEL};
    QWidget* previous = nullptr;
    for (int id : kVisualOrder) {
        QWidget* w = GetDlgItem(id);
        if (!w)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void CMainDlg::ReadFieldsThen(const std::function<void()>& copy) {
    // A period that fails stops the reading; the fields after it keep their members, so the
    // copy still writes the last committed value.
    const bool read = UpdateData(true);
    copy();
    if (!read) {
        // The box just clicked was not read: show what the setting still holds. Text fields keep
        // what the user typed, so the period can be corrected.
        CDataExchange dx(*this, false);
        dx.m_bButtonsOnly = true;
        DoDataExchange(dx);
    }
    UpdateStatus();
}

void CMainDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Check(dx, IDC_START_AUTO, m_bStartAuto);
    DDX_Text(dx, IDC_PERIOD, m_nPeriod, kMinPeriod, kMaxPeriod);
    DDX_Text(dx, IDC_SOUND_FILE, m_strSoundFile);
    DDX_Check(dx, IDC_POPUP, m_bPopup);
    DDX_Text(dx, IDC_EXECUTE, m_strExecute);
    DDX_Radio(dx, IDC_LOG_NEVER, m_nLogMode);
    DDX_Text(dx, IDC_LOG_FILE, m_strLogFile);
    DDX_Check(dx, IDC_PAGER, m_bPager);
    DDX_Check(dx, IDC_MAIL, m_bMail);
}

bool CMainDlg::OnInitDialog() {
    // Placed before anything can ask: a message about the list on the command line is centred
    // on the window.
    m_geometry->Place();
    CDialog::OnInitDialog();
    RefreshList();
    UpdateControls();
    bool showSplash = true;
    if (!m_commandLineTail.empty()) {
        // A file that is there but is no list ends the start-up here: no auto-start, no splash.
        if (LoadListFile(m_commandLineTail) == LoadOutcome::corrupt)
            showSplash = false;
        else if (m_pList->m_bStartAuto)
            StartMonitoring();
    }
    // The window is not on the screen yet. The splash and the first run wait until it is, so the
    // run's dialogs have a window to centre on, the splash lies above it, and the run never goes
    // on inside the splash's show() (which lets pending events through).
    QMetaObject::invokeMethod(
        this, [this, showSplash] { FinishStartUp(showSplash); }, Qt::QueuedConnection);
    return true;
}

void CMainDlg::FinishStartUp(bool showSplash) {
    if (showSplash && m_services.showSplash)
        m_services.showSplash(this);
    m_bStartUpDone = true;
    m_scheduler->RunDeferredTick();
}

void CMainDlg::OnCancel() {
    if (m_bInCheckRun)
        return; // the window is disabled for the run; a close request from the desktop waits too
    if (!ConfirmDiscardChanges())
        return;
    EndProgram();
}

void CMainDlg::OnOK() {
    if (m_bInCheckRun)
        return;
    if (!UpdateData(true) || !ConfirmDiscardChanges())
        return;
    EndDialog(QDialog::Accepted);
}

void CMainDlg::RefreshFromList() {
    m_bPopup = m_pList->m_bPopup;
    m_strSoundFile = m_pList->m_strSoundFile;
    m_strExecute = m_pList->m_strExecute;
    m_bPager = m_pList->m_bPager;
    m_bMail = m_pList->m_bMail;
    m_bStartAuto = m_pList->m_bStartAuto;
    m_nPeriod = m_pList->m_nPeriod;
    m_nLogMode = m_pList->m_nLogMode;
    m_strLogFile = m_pList->m_strLogFile;
    UpdateData(false);
    RefreshList();
    UpdateControls();
}

void CMainDlg::UpdateControls() {
    UpdateStatus();
    const bool idle = m_scheduler->m_bRunning == 0;
    auto enable = [this](int id, bool on) {
        if (QWidget* w = GetDlgItem(id))
            w->setEnabled(on);
    };
    for (int id : {IDC_ADD, IDC_EDIT, IDC_DELETE, IDC_LOAD_LIST, IDC_START, IDC_POPUP, IDC_SOUND_BROWSE,
                   IDC_SOUND_CLEAR, IDC_EXECUTE, IDC_PAGER, IDC_MAIL})
        enable(id, idle);
    enable(IDC_STOP, m_scheduler->m_bRunning == 1);
    for (int id : {IDC_LOG_FILE, IDC_LOG_BROWSE, IDC_LOG_CLEAR})
        enable(id, idle && m_nLogMode != 0);
    enable(IDC_PAGER_SETTINGS, idle && m_bPager != 0);
    enable(IDC_MAIL_SETTINGS, idle && m_bMail != 0);
}

void CMainDlg::ChooseFile(const ui::FileDialogRequest& request, std::string& windowCopy, std::string& listSetting) {
    if (const std::string path = ui::AskForFile(this, request); !path.empty())
        SetFileSetting(windowCopy, listSetting, path);
}

void CMainDlg::SetFileSetting(std::string& windowCopy, std::string& listSetting, const std::string& path) {
    windowCopy = path;
    listSetting = path;
    UpdateData(false);
    UpdateStatus();
}

QString CMainDlg::HelpFilePath() {
    const QString name = QString::fromLatin1(kHelpFileName);
    const QDir programDir(QCoreApplication::applicationDirPath());
    QStringList candidates{programDir.filePath(name)};
#ifdef PULSEWICK_MANUAL_DIR_FROM_BIN
    candidates << QDir::cleanPath(programDir.filePath(QStringLiteral(PULSEWICK_MANUAL_DIR_FROM_BIN "/") + name));
#endif
    for (const QString& candidate : candidates) {
        if (QFileInfo(candidate).isFile())
            return candidate;
    }
    return {};
}

void CMainDlg::OnHelp() {
    const QString path = HelpFilePath();
    if (!path.isEmpty() && ui::Prompts().OpenUrl(QUrl::fromLocalFile(path)))
        return;
    // A desktop without a viewer for it gets the program's own; only a manual that is missing or
    // cannot be read gets the box.
    if (path.isEmpty() || !CHelpViewer::Open(path, this))
        ui::ShowMessage(this, QString::fromLatin1(kHelpFailedText), ui::MessageIcon::warning);
}

void CMainDlg::OnAbout() {
    if (m_services.showAbout)
        m_services.showAbout(this);
}

void CMainDlg::StartMonitoring() {
    m_scheduler->StartMonitoring();
}

void CMainDlg::StopMonitoring() {
    m_scheduler->StopMonitoring();
}

void CMainDlg::PingNow() {
    m_scheduler->PingNow();
    UpdateStatus(); // the run has ended: the next pass is what the status line tells again
}

void CMainDlg::RaiseAlerts(std::function<void()> done) {
    UpdateStatus(); // the pass being alerted about, also while the pop-up waits
    // The desktop hears of it first: the notification never waits, the pop-up does.
    ui::Prompts().Notify(QString::fromLatin1(CAlertDispatch::kPopupText), PassText());
    m_alerts->RaiseAlerts(std::move(done));
}

void CMainDlg::SendPagerAlert() {
    // The alert keeps the window's events flowing while it waits for the modem, through the
    // window's own wait.
    const DialogKeysOff keysOff(this);
    CPagerAlert alert(m_comm, *m_pList);
    alert.SetWait([this](int limitSeconds) { WaitForModem(limitSeconds); });
    CPagerAlert* const outer = std::exchange(m_pPagerAlert, &alert);
    struct Restore {
        CPagerAlert*& current;
        CPagerAlert* outer;
        ~Restore() { current = outer; }
    } restore{m_pPagerAlert, outer};
    alert.SendPagerAlert();
}

void CMainDlg::WaitForModem(int limitSeconds) {
    if (m_pPagerAlert)
        m_pPagerAlert->WaitForModem(limitSeconds);
    else
        CPagerAlert(m_comm, *m_pList).WaitForModem(limitSeconds);
}

void CMainDlg::SendMailAlert(std::function<void(std::exception_ptr)> ended) {
    auto send = m_services.sendMail;
    StartMail(
        kMailAlertName,
        [send = std::move(send), holds = m_holds](const CItemList& list, std::stop_token stop) {
            return send ? send(list, holds, stop) : ::SendMailAlert(list, SmtpOptions{}, stop, &holds);
        },
        std::move(ended));
}

void CMainDlg::StartMail(const char* what, MailDialogue dialogue, std::function<void(std::exception_ptr)> ended) {
    // The dialogue may wait on a silent server for seconds: it runs on a thread of its own with
    // a copy of the list (the user may edit meanwhile), and the window keeps answering. The
    // dispatch, and with it the re-arming of the timer, goes on from its end, whatever dialog
    // the user has opened meanwhile. A failure is told in the status line until the next pass.
    std::shared_ptr<const CItemList> copy = CopyList(*m_pList);
    auto outcome = std::make_shared<std::string>(smtp::kOk);
    m_mailTask = std::make_unique<CBackgroundTask>(
        this,
        [copy, dialogue = std::move(dialogue), outcome](std::stop_token stop) { *outcome = dialogue(*copy, stop); },
        [this, what, outcome, ended = std::move(ended)](std::exception_ptr error) {
            if (error || *outcome != smtp::kOk)
                AlertFailed(what, error ? QStringLiteral("it could not be sent") : ui::FromLocal(*outcome));
            if (ended)
                ended(error);
        });
}
