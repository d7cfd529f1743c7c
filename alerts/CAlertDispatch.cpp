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

void CAlertDispatch::RaiseAlerts() {
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

    // Whether the command started is not looked at.
    alerts::RunContained(kExecuteStep, [this] {
        if (const std::string command = CurrentSettings().m_strExecute; !command.empty())
            (void)m_commandLauncher.Launch(command, m_hooks.executeEnvironment ? m_hooks.executeEnvironment()
                                                                               : std::vector<std::string>{});
    });

    alerts::RunContained(kPagerStep, [this] {
        if (CurrentSettings().m_bPager == 0 || !m_hooks.sendPagerAlert)
            return;
        try {
            m_hooks.sendPagerAlert();
        } catch (const CCommError& error) {
            // The one unattended failure the user is told about; the dispatch goes on after it.
            if (m_hooks.showStopError)
                m_hooks.showStopError(error.what());
        }
    });

    alerts::RunContained(kMailStep, [this] {
        if (CurrentSettings().m_bMail != 0 && m_hooks.sendMailAlert)
            m_hooks.sendMailAlert();
    });
}
