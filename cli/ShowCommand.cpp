#include "Commands.h"
#include "JsonOutput.h"
#include "MuteOptions.h"
#include "SettingKeys.h"

#include "CItemList.h"
#include "MuteFile.h"

#include <algorithm>
#include <ctime>

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

// The mutes that hold now, after the rest: lines, or a "muted" array in the JSON object (an entry
// of null is the whole list, an until of null "until resumed"). Nothing when nothing is muted.
void AddMutes(std::string& out, const MuteState& state, bool json) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (!json) {
        for (const std::string& line : MuteLines(state, now))
            out += "Muted: " + line + "\n";
        return;
    }
    std::string items;
    const auto add = [&](const std::string* entry, std::int64_t until) {
        if (until <= now)
            return;
        items += items.empty() ? "\n" : ",\n";
        items += "    {\"entry\": " + (entry ? JsonQuote(*entry) : std::string("null")) + ", \"until\": " +
                 (until == MuteState::kUntilResumed ? std::string("null") : std::to_string(until)) + "}";
    };
    add(nullptr, state.listUntil);
    for (const auto& [name, until] : state.entries)
        add(&name, until);
    if (items.empty())
        return;
    out.resize(out.size() - 3); // the object's closing "\n}\n"
    out += ",\n  \"muted\": [" + items + "\n  ]\n}\n";
}
} // namespace

int RunShow(const Args& args) {
    bool json = false;
    std::optional<std::string> stateDir;
    const std::optional<std::string> path =
        ListAndSwitches(args, {{"--json", &json}}, {{kStateDirOption, &stateDir}});
    if (!path)
        return UsageError(kShowSynopsis);

    int exitCode = kExitOk;
    const std::unique_ptr<CItemList> list = LoadListOrReport(*path, exitCode);
    if (!list)
        return exitCode;
    std::string out = json ? ListToJson(*list) : ListToText(*list);
    std::string problem;
    AddMutes(out, MuteFile(stateDir.value_or(std::string()), *path).Read(problem), json);
    if (!problem.empty())
        PrintError(problem + "; only what could be read is shown");
    PrintOut(out);
    return kExitOk;
}

} // namespace cli
