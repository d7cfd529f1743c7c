#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class ICommandLauncher;
class ISoundPlayer;

// The alerts raised after a failed scheduled run, strictly in the order pop-up, sound, execute,
// pager, e-mail, each only when its setting asks for it. A failing step never stops the ones
// after it: an error of the serial control is shown through showStopError, anything else a step
// throws is written to standard error under the step's name. RaiseAlerts itself never throws.
class CAlertDispatch {
public:
    static constexpr const char* kPopupText = "One or more connection failed!";
    // The steps' names in the line written to standard error.
    static constexpr const char* kPopupStep = "pop-up alert";
    static constexpr const char* kSoundStep = "sound alert";
    static constexpr const char* kExecuteStep = "execute alert";
    static constexpr const char* kPagerStep = "pager alert";
    static constexpr const char* kMailStep = "e-mail alert";

    // The window's own copies of the alert settings, read afresh before each step: the pop-up
    // and the pager pump events, and the user may change a setting meanwhile.
    struct Settings {
        std::int32_t m_bPopup = 0;
        std::string m_strSoundFile;
        std::string m_strExecute;
        std::int32_t m_bPager = 0;
        std::int32_t m_bMail = 0;
    };

    struct Hooks {
        std::function<Settings()> settings;
        // Modal information box; returns when the user has dismissed it.
        std::function<void(const std::string& text)> showInformation;
        // Modal box with the stop icon, for an error of the serial control.
        std::function<void(const std::string& text)> showStopError;
        // May throw CCommError.
        std::function<void()> sendPagerAlert;
        std::function<void()> sendMailAlert;
        // What the execute alert's command gets in its environment ("NAME=value" each); see
        // AlertEnvironment.h. None when unset.
        std::function<std::vector<std::string>()> executeEnvironment;
    };

    CAlertDispatch(Hooks hooks, ISoundPlayer& soundPlayer, ICommandLauncher& commandLauncher);

    void RaiseAlerts();

private:
    Settings CurrentSettings() const;

    Hooks m_hooks;
    ISoundPlayer& m_soundPlayer;
    ICommandLauncher& m_commandLauncher;
};
