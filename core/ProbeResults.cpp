#include "ProbeResults.h"

#include "CItemList.h"

#include <cstdint>
#include <map>
#include <string>
#include <tuple>

namespace {
// What an entry probes.
using Target = std::tuple<std::string, bool, std::int32_t>;

Target TargetOf(const CItem& item) {
    return {item.m_strAddress, item.m_bConnect != 0, item.m_nPort};
}

struct Occurrences {
    std::size_t count = 0;
    std::size_t row = 0; // the last one
};

std::map<Target, Occurrences> CountTargets(const CItemList& list) {
    std::map<Target, Occurrences> targets;
    for (std::size_t row = 0; row < list.GetCount(); ++row) {
        Occurrences& seen = targets[TargetOf(list.GetAt(row))];
        ++seen.count;
        seen.row = row;
    }
    return targets;
}
} // namespace

std::size_t RecordProbeResults(const CItemList& probed, const std::vector<bool>& wasProbed, CItemList& now) {
    const std::map<Target, Occurrences> probedTargets = CountTargets(probed);
    const std::map<Target, Occurrences> nowTargets = CountTargets(now);
    std::size_t changed = 0;
    for (std::size_t row = 0; row < probed.GetCount() && row < wasProbed.size(); ++row) {
        if (!wasProbed[row])
            continue;
        const CItem& from = probed.GetAt(row);
        const Target target = TargetOf(from);
        std::size_t to = row;
        if (row >= now.GetCount() || TargetOf(now.GetAt(row)) != target) {
            const auto there = nowTargets.find(target);
            if (there == nowTargets.end() || there->second.count != 1 || probedTargets.at(target).count != 1)
                continue;
            to = there->second.row;
        }
        CItem& entry = now.GetAt(to);
        changed += entry.m_bResult != from.m_bResult;
        entry.m_bResult = from.m_bResult;
    }
    return changed;
}
