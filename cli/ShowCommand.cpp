#include "Commands.h"
#include "JsonOutput.h"
#include "SettingKeys.h"

#include "CItemList.h"

#include <algorithm>

namespace cli {

namespace {
// The list as the window shows it: the settings, then one row per entry with the columns
// of the list view (address, port or "ICMP", "Yes"/"No").
std::string ListToText(const CItemList& list) {
    std::string out = "Settings:\n";
    for (const SettingKey& key : SettingKeys()) {
        out += "  " + Padded(key.name, 13);
        out += key.intMember ? std::to_string(list.*key.intMember) : JsonQuote(list.*key.textMember);
        out += "\n";
    }
    out += "Entries: " + std::to_string(list.GetCount()) + "\n";
    if (list.IsEmpty())
        return out;

    std::size_t addressWidth = 12;
    list.ForEach(
        [&](const CItem& item) { addressWidth = std::max(addressWidth, Columns(JsonQuote(item.m_strAddress)) + 2); });
    out += "  " + Padded("Row", 6) + Padded("IP Address", addressWidth) + Padded("Port", 7) + "OK\n";
    std::size_t row = 1;
    list.ForEach([&](const CItem& item) {
        out += "  " + Padded(std::to_string(row++), 6) + Padded(JsonQuote(item.m_strAddress), addressWidth) +
               Padded(PortColumnText(item), 7) + (item.m_bResult ? "Yes" : "No") + "\n";
    });
    return out;
}
} // namespace

int RunShow(const Args& args) {
    bool json = false;
    const std::optional<std::string> path = ListAndSwitches(args, {{"--json", &json}});
    if (!path)
        return UsageError(kShowSynopsis);

    int exitCode = kExitOk;
    const std::unique_ptr<CItemList> list = LoadListOrReport(*path, exitCode);
    if (!list)
        return exitCode;
    PrintOut(json ? ListToJson(*list) : ListToText(*list));
    return kExitOk;
}

} // namespace cli
