#include "CAlertDispatch.h"

#include "CommError.h"
#include "CommandLauncher.h"
#include "ContainedStep.h"
#include "ISoundPlayer.h"

#include <utility>

CAlertDispatch::CAlertDispatch(Hooks hooks, ISoundPlayer& soundPlayer, ICommandLauncher& commandLauncher)
    : m_hooks(std::move(hooks)), m_soundPlayer(soundPlayer), m_commandLauncher(commandLauncher) {}

CAlertDispatch::Settings CAlertDispatch::CurrentSettings() const {
    return m_hooks.settings ? m_hooks.settings() : Settings{};
}

CAlertDispatch::~CAlertDispatch() {
    *m_alive = false;
}

CAlertDispatch::LaterStep CAlertDispatch::AtOnce(std::function<void()> step) {
    return [step = std::move(step)](const StepEnded& ended) {
        std::exception_ptr error;
        try {
            step();
        } catch (...) {
            error = std::current_exception();
        }
        ended(error);
    };
}

void CAlertDispatch::RunExecuteStep() {
    // Whether the command started is not looked at.
    alerts::RunContained(kExecuteStep, [this] {
        if (const std::string command = CurrentSettings().m_strExecute; !command.empty())
            (void)m_commandLauncher.Launch(command,
                                           m_hooks.executeInput ? m_hooks.executeInput(command) : CommandInput{});
    });
}

void CAlertDispatch::RaiseRecovery(std::function<void()> done) {
    m_event = Event::recovered;
    alerts::RunContained(kNotificationStep, [this] {
        if (m_hooks.notifyRecovery)
            m_hooks.notifyRecovery();
    });
    RunExecuteStep();
    RunLaterStep(kMailStep, CurrentSettings().m_bMail != 0, m_hooks.sendRecoveryMail, [done = std::move(done)] {
        if (done)
            done();
    });
}

void CAlertDispatch::RaiseAlerts(std::function<void()> done) {
    m_event = Event::failed;
    // Each step is contained: whatever one of them throws (an allocation failure, a player or
    // launcher that gives up) is reported and the next step still runs.
    alerts::RunContained(kPopupStep, [this] {
        if (CurrentSettings().m_bPopup != 0 && m_hooks.showInformation)
            m_hooks.showInformation(kPopupText);
    });

    alerts::RunContained(kSoundStep, [this] {
        if (const std::string sound = CurrentSettings().m_strSoundFile; !sound.empty())
            m_soundPlayer.Play(sound);
    });

    RunExecuteStep();

    const auto finish = [done = std::move(done)] {
        if (done)
            done();
    };
    RunLaterStep(kPagerStep, CurrentSettings().m_bPager != 0, m_hooks.sendPagerAlert, [this, finish] {
        RunLaterStep(kMailStep, CurrentSettings().m_bMail != 0, m_hooks.sendMailAlert, finish);
    });
}

void CAlertDispatch::RunLaterStep(const char* stepName, bool wanted, const LaterStep& step,
                                  std::function<void()> next) {
    if (!wanted || !step) {
        next();
        return;
    }
    // The step may call ended before it returns, after it returned, or (by mistake) twice, or
    // throw after it called it: the dispatch goes on exactly once.
    auto pending = std::make_shared<bool>(true);
    const std::shared_ptr<bool> aliveHere = m_alive; // the step may end the dispatch's owner
    const std::weak_ptr<bool> alive = m_alive;
    const bool isPager = stepName == kPagerStep;
    auto ended = [this, alive, pending, stepName, isPager, next](std::exception_ptr error) {
        const auto live = alive.lock();
        if (!live || !*live || !std::exchange(*pending, false))
            return;
        if (isPager)
            PagerEnded(error);
        else if (error)
            alerts::RunContained(stepName, [&error] { std::rethrow_exception(error); });
        next();
    };
    const LaterStep stepHere = step;
    if (!alerts::RunContained(stepName, [&stepHere, &ended] { stepHere(ended); }) && *aliveHere && *pending) {
        *pending = false;
        next();
    }
}

void CAlertDispatch::PagerEnded(std::exception_ptr error) {
    alerts::RunContained(kPagerStep, [this, &error] {
        try {
            if (error)
                std::rethrow_exception(error);
        } catch (const CCommError& commError) {
            // The one unattended failure the user is told about; the dispatch goes on after it.
            if (m_hooks.showStopError)
                m_hooks.showStopError(commError.what());
        }
    });
}
