#include "Commands.h"
#include "SettingKeys.h"

#include "CItemList.h"
#include "CListFileLock.h"
#include "ListFile.h"

#include <sys/stat.h>

namespace cli {

namespace {
// Loads the list, lets edit change it, and saves it back. edit returns an exit code; the
// list is saved only when it returns kExitOk. The list stays locked from the load to the save,
// so a concurrent editor neither loses this change nor has its own lost.
template <typename Edit>
int EditList(const std::string& path, Edit&& edit) {
    int exitCode = kExitOk;
    CListFileLock lock;
    std::unique_ptr<CItemList> list = LoadListOrReport(path, exitCode, &lock);
    if (!list)
        return exitCode;
    exitCode = edit(*list);
    if (exitCode != kExitOk)
        return exitCode;
    return SaveListOrReport(*list, path, &lock);
}

// A number argument; prints the window's message (prefixed with what) when it is bad.
std::optional<std::int32_t> NumberArgument(const std::string& what, const std::string& text, std::int32_t low,
                                           std::int32_t high) {
    const std::optional<std::int32_t> value = ParseInt32(text);
    if (!value) {
        PrintError(what + ": " + NotAnIntegerText());
        return std::nullopt;
    }
    if (*value < low || *value > high) {
        PrintError(what + ": " + OutOfRangeText(low, high));
        return std::nullopt;
    }
    return value;
}
} // namespace

int RunNew(const Args& args) {
    // Replacing a list by accident would lose it; ask for that explicitly.
    bool force = false;
    const std::optional<std::string> path = ListAndSwitches(args, {{"--force", &force}});
    if (!path)
        return UsageError(kNewSynopsis);
    struct stat st {};
    if (!force && ::stat(path->c_str(), &st) == 0) {
        PrintError(*path + " already exists; use --force to replace it");
        return kExitFileError;
    }
    return SaveListOrReport(CItemList(), *path);
}

int RunAdd(const Args& args) {
    if (args.size() < 3)
        return UsageError(kAddSynopsis);
    const std::string& kind = args.at(1);
    auto item = std::make_unique<CItem>();
    item->m_strAddress = args.at(2);
    if (kind == "icmp" && args.size() == 3) {
        item->m_bConnect = 0;
    } else if (kind == "tcp" && args.size() == 4) {
        // Like the edit dialog, any 32-bit number is taken as the port.
        const auto port = NumberArgument("PORT", args.at(3), INT32_MIN, INT32_MAX);
        if (!port)
            return kExitUsage;
        item->m_bConnect = 1;
        item->m_nPort = *port;
    } else {
        return UsageError(kAddSynopsis);
    }
    return EditList(args.at(0), [&](CItemList& list) {
        list.AddTail(std::move(item));
        return int(kExitOk);
    });
}

int RunRemove(const Args& args) {
    if (args.size() != 2)
        return UsageError(kRemoveSynopsis);
    const auto row = NumberArgument("ROW", args.at(1), INT32_MIN, INT32_MAX);
    if (!row)
        return kExitUsage;
    return EditList(args.at(0), [&](CItemList& list) {
        if (*row < 1 || static_cast<std::size_t>(*row) > list.GetCount()) {
            PrintError("there is no row " + std::to_string(*row) + "; the list has " + std::to_string(list.GetCount()) +
                       " entries");
            return int(kExitUsage);
        }
        list.RemoveAt(static_cast<std::size_t>(*row - 1));
        return int(kExitOk);
    });
}

int RunSet(const Args& args) {
    if (args.size() != 3)
        return UsageError(kSetSynopsis);
    const SettingKey* key = FindSettingKey(args.at(1));
    if (!key) {
        std::string names;
        for (const SettingKey& known : SettingKeys())
            names += (names.empty() ? "" : ", ") + std::string(known.name);
        PrintError("unknown key '" + args.at(1) + "'; keys: " + names);
        return kExitUsage;
    }
    std::int32_t number = 0;
    if (key->intMember) {
        const auto value = NumberArgument(args.at(1), args.at(2), key->low, key->high);
        if (!value)
            return kExitUsage;
        number = *value;
    }
    return EditList(args.at(0), [&](CItemList& list) {
        if (key->intMember)
            list.*key->intMember = number;
        else
            list.*key->textMember = args.at(2);
        return int(kExitOk);
    });
}

} // namespace cli
