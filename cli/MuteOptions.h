#pragma once

#include "CliSupport.h"

#include <cstdint>
#include <optional>
#include <string>

struct MuteState;

// What mute, unmute, show and monitor share of the mutes: the state folder option, the length
// of a mute and how a mute is told.
namespace cli {

inline constexpr const char* kStateDirOption = "--state-dir";
// The longest mute a DURATION gives: a year; a mute "until resumed" is the window's.
inline constexpr std::int64_t kMaxMuteSeconds = 365LL * 24 * 3600;

// "90m", "2h", "1d" or a sum in that order ("1d12h", "1h30m"): seconds from 1 minute to a year;
// nothing for any other text.
std::optional<std::int64_t> ParseDuration(const std::string& text);
// Why text is not a DURATION, for the user.
std::string BadDurationText(const std::string& text);

// "until 2026-05-01 14:00" in local time, or "until resumed".
std::string UntilText(std::int64_t until);

// One line per mute that holds at now: "the whole list until ..." and "ENTRY until ...".
std::vector<std::string> MuteLines(const MuteState& state, std::int64_t now);

} // namespace cli
