#include "SettingKeys.h"

#include "CPagerAlert.h"
#include "CScheduler.h"

#include <array>
#include <limits>

namespace cli {

namespace {
constexpr std::int32_t kMinInt = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMaxInt = std::numeric_limits<std::int32_t>::max();

// Ranges are those the window enforces: the period field, the log mode's three buttons, the
// pager dialog's pause field and its port list (-1 when no port is chosen). Flags take any
// number, as in a list file.
constexpr SettingKey Flag(const char* name, std::int32_t CItemList::*member) {
    return {name, member, nullptr, kMinInt, kMaxInt};
}
constexpr SettingKey Number(const char* name, std::int32_t CItemList::*member, std::int32_t low, std::int32_t high) {
    return {name, member, nullptr, low, high};
}
constexpr SettingKey Text(const char* name, std::string CItemList::*member) {
    return {name, nullptr, member, 0, 0};
}

const std::array kKeys{
    Flag("popup", &CItemList::m_bPopup),
    Text("soundFile", &CItemList::m_strSoundFile),
    Text("execute", &CItemList::m_strExecute),
    Flag("pager", &CItemList::m_bPager),
    Number("period", &CItemList::m_nPeriod, CScheduler::kMinPeriod, CScheduler::kMaxPeriod),
    Flag("startAuto", &CItemList::m_bStartAuto),
    Number("logMode", &CItemList::m_nLogMode, 0, 2),
    Text("logFile", &CItemList::m_strLogFile),
    Text("modemInit", &CItemList::m_strModemInit),
    Text("messageCode", &CItemList::m_strMessageCode),
    Text("pagerNumber", &CItemList::m_strPagerNumber),
    Number("pause", &CItemList::m_nPause, CPagerAlert::kMinPause, CPagerAlert::kMaxPause),
    Number("comPort", &CItemList::m_nComPort, -1, 8),
    Flag("mail", &CItemList::m_bMail),
    Text("from", &CItemList::m_strFrom),
    Text("server", &CItemList::m_strServer),
    Text("to", &CItemList::m_strTo),
    Text("subject", &CItemList::m_strSubject),
};
} // namespace

std::span<const SettingKey> SettingKeys() {
    return kKeys;
}

const SettingKey* FindSettingKey(const std::string& name) {
    for (const SettingKey& key : kKeys) {
        if (name == key.name)
            return &key;
    }
    return nullptr;
}

} // namespace cli
