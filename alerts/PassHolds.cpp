#include "PassHolds.h"

#include "CItemList.h"
#include "EntryNames.h"
#include "MuteState.h"
#include "PassRecord.h"

CAlertPolicy::Hold PassHolds::HoldOf(std::size_t row) const {
    if (row < mutedUntil.size() && mutedUntil[row] != 0)
        return CAlertPolicy::Hold::muted;
    return reach.Unreachable(row) ? CAlertPolicy::Hold::unreachable : CAlertPolicy::Hold::none;
}

PassHolds JudgePass(const CItemList& list, const PassRecord& record, const HoldInputs& inputs) {
    PassHolds holds;
    holds.cutOff = inputs.uplinkAnswered == false;
    if (inputs.mutes && !inputs.mutes->IsEmpty()) {
        holds.mutedUntil.reserve(list.GetCount());
        list.ForEach([&](const CItem& item) {
            holds.mutedUntil.push_back(inputs.mutes->HeldUntil(entrynames::EntryName(item), inputs.now));
        });
    }
    if (inputs.parentOf && !inputs.parentOf->empty()) {
        std::vector<bool> failed(list.GetCount());
        for (std::size_t row = 0; row < failed.size(); ++row)
            failed[row] = record.Failed(row);
        holds.reach = JudgeReachability(*inputs.parentOf, failed);
    }
    return holds;
}

std::string CutOffText(const std::string& uplink, ProbeFailure failure) {
    const std::string why = ProbeFailureText(failure);
    return "uplink " + uplink + " does not answer: this monitor is cut off; alerts held" +
           (why.empty() ? "" : " (" + why + ")");
}

std::string UnjudgedUplinkText(const std::string& uplink, std::optional<bool> answered, ProbeFailure failure) {
    if (answered || failure == ProbeFailure::unknown)
        return {};
    return "uplink " + uplink + " cannot be judged (" + ProbeFailureText(failure) + "): alerts go on";
}

std::string UplinkBackText(const std::string& uplink) {
    return "uplink " + uplink + " answers again: alerts resume";
}
