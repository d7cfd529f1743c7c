#pragma once

#include "CommandLauncher.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ISoundPlayer;

// The alerts raised after a failed scheduled run, strictly in the order pop-up, sound, execute,
// pager, e-mail, each only when its setting asks for it. A failing step never stops the ones
// after it: an error of the serial control is shown through showStopError, anything else a step
// throws is written to standard error under the step's name. RaiseAlerts itself never throws.
//
// The pager and e-mail steps may end later than they return (they wait for a modem or a mail
// server off the caller's event loop): each is handed a StepEnded to call once it is over, and the
// dispatch goes on from there. The dispatch's own end is reported the same way.
class CAlertDispatch {
public:
    static constexpr const char* kPopupText = "One or more connection failed!";
    // The steps' names in the line written to standard error.
    static constexpr const char* kPopupStep = "pop-up alert";
    static constexpr const char* kSoundStep = "sound alert";
    static constexpr const char* kExecuteStep = "execute alert";
    static constexpr const char* kPagerStep = "pager alert";
    static constexpr const char* kMailStep = "e-mail alert";
    static constexpr const char* kNotificationStep = "recovery notification";

    // What is being raised: the alerts of a failed pass, or the notice that an outage is over.
    enum class Event { failed, recovered };

    // The window's own copies of the alert settings, read afresh before each step: the pop-up
    // and the pager pump events, and the user may change a setting meanwhile.
    struct Settings {
        std::int32_t m_bPopup = 0;
        std::string m_strSoundFile;
        std::string m_strExecute;
        std::int32_t m_bPager = 0;
        std::int32_t m_bMail = 0;
    };

    // Called once when a step has ended, with what it threw (null when nothing).
    using StepEnded = std::function<void(std::exception_ptr error)>;
    // A step that may end later: it starts, and calls ended once it is over (before it returns
    // when it does not wait).
    using LaterStep = std::function<void(StepEnded ended)>;

    struct Hooks {
        std::function<Settings()> settings;
        // Modal information box; returns when the user has dismissed it.
        std::function<void(const std::string& text)> showInformation;
        // Modal box with the stop icon, for an error of the serial control.
        std::function<void(const std::string& text)> showStopError;
        // May end with CCommError.
        LaterStep sendPagerAlert;
        LaterStep sendMailAlert;
        // What the execute alert's command is told (see AlertEnvironment.h); nothing when unset.
        std::function<CommandInput(const std::string& commandLine)> executeInput;
        // The end of an outage: the desktop notification (optional) and the e-mail notice.
        std::function<void()> notifyRecovery;
        LaterStep sendRecoveryMail;
    };

    // A step that ends before it returns, for work that does not wait off the event loop.
    static LaterStep AtOnce(std::function<void()> step);

    CAlertDispatch(Hooks hooks, ISoundPlayer& soundPlayer, ICommandLauncher& commandLauncher);
    ~CAlertDispatch();
    CAlertDispatch(const CAlertDispatch&) = delete;
    CAlertDispatch& operator=(const CAlertDispatch&) = delete;

    // Raises the alerts; done runs once all of them have ended (possibly before this returns).
    void RaiseAlerts(std::function<void()> done = {});
    // Says that an outage is over: the notification, the execute alert and the e-mail, each when
    // its setting asks for it (the pop-up, the sound and the pager are for failures only); done as
    // for RaiseAlerts.
    void RaiseRecovery(std::function<void()> done = {});
    // The event being raised, for hooks that tell the two apart (the command's environment).
    Event CurrentEvent() const { return m_event; }

private:
    Settings CurrentSettings() const;
    void RunExecuteStep();
    // Starts the pager or e-mail step when its setting asks for it, then continues with next.
    void RunLaterStep(const char* stepName, bool wanted, const LaterStep& step, std::function<void()> next);
    void PagerEnded(std::exception_ptr error);

    Hooks m_hooks;
    ISoundPlayer& m_soundPlayer;
    ICommandLauncher& m_commandLauncher;
    Event m_event = Event::failed;
    // Cleared by the destructor: a step that ends after the dispatch has gone does nothing.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
