#pragma once

#include "CAlertPolicy.h"
#include "EntryParents.h"
#include "ProbeFailure.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class CItemList;
class PassRecord;
struct MuteState;

// What holds the alerts of one pass, entry by entry: the monitor cut off from its uplink, a mute,
// a parent that failed too. Judged the same way by the window and the monitor at the end of each
// pass, and read by the policy (through PassRecord), by the alerts (which entries they name, and
// how many failed behind each) and by what the front ends show. With no uplink, no mute and no
// parents it holds nothing, and every alert names what it always named.
struct PassHolds {
    bool cutOff = false;
    std::vector<std::int64_t> mutedUntil; // per row: its alerts are held until then; 0 when not
    Reachability reach;

    CAlertPolicy::Hold HoldOf(std::size_t row) const;
    // The alerts of this pass leave the entry at row out, should it have failed.
    bool Held(std::size_t row) const { return HoldOf(row) != CAlertPolicy::Hold::none; }
};

// What a pass brings beside its results.
struct HoldInputs {
    std::optional<bool> uplinkAnswered;                 // none: no uplink, or its probe did not end
    const MuteState* mutes = nullptr;                   // none: nothing muted
    std::int64_t now = 0;                               // seconds since the epoch, for the mutes
    const std::vector<std::size_t>* parentOf = nullptr; // EntryParents::Resolve's; none: no parents
};

PassHolds JudgePass(const CItemList& list, const PassRecord& record, const HoldInputs& inputs);

// The line, status and notification of a pass cut off (with why the echo failed, when known), and
// of the uplink answering again.
std::string CutOffText(const std::string& uplink, ProbeFailure failure = ProbeFailure::unknown);
std::string UplinkBackText(const std::string& uplink);
// The line of a pass whose uplink probe says nothing of the link (CCheckRun::UplinkAnswered):
// its alerts go on; empty when the uplink could be judged.
std::string UnjudgedUplinkText(const std::string& uplink, std::optional<bool> answered, ProbeFailure failure);
