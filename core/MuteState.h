#pragma once

#include <cstdint>
#include <limits>
#include <map>
#include <string>

// Alerts held until a time, of a whole list or of single entries (named as EntryNames.h gives
// them): probes, results and logs go on as usual, only the alerts wait. Times are seconds since
// the epoch. The text form is what the state file holds (MuteFile.h).
struct MuteState {
    // Held until somebody resumes the alerts.
    static constexpr std::int64_t kUntilResumed = std::numeric_limits<std::int64_t>::max();

    std::string listPath;                        // the canonical path of the list the state belongs to
    std::int64_t listUntil = 0;                  // 0: the list as a whole is not muted
    std::map<std::string, std::int64_t> entries; // entry name -> until

    // Until when the alerts of the entry named so are held at now: the later of the list's mute
    // and the entry's own; 0 when neither holds at now.
    std::int64_t HeldUntil(const std::string& entryName, std::int64_t now) const;
    // Holds the alerts of the entry named so (the whole list when empty) until then, or longer when
    // they are held longer already: a second mute never shortens the first (resuming does). Gives
    // until when they are held now.
    std::int64_t HoldUntil(const std::string& entryName, std::int64_t until);
    // Forgets the mutes that have ended by now.
    void Expire(std::int64_t now);
    bool IsEmpty() const { return listUntil == 0 && entries.empty(); }
};

// The state as its file holds it.
std::string FormatMuteState(const MuteState& state);
// Reads what FormatMuteState wrote. A line that cannot be read is left out, and a text that is not
// such a state at all gives an empty state; problem then says so (empty when all was read).
MuteState ParseMuteState(const std::string& text, std::string& problem);
