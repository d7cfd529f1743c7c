#pragma once

#include "CItemList.h"

#include <cstdint>
#include <span>
#include <string>

namespace cli {

// One setting of a list as the companion names it (for `set` and in JSON), with the range
// the window's controls accept for it.
struct SettingKey {
    const char* name;
    std::int32_t CItemList::*intMember; // null for a text setting
    std::string CItemList::*textMember; // null for a number setting
    std::int32_t low;
    std::int32_t high;
};

// Every setting, in the order they are listed.
std::span<const SettingKey> SettingKeys();
const SettingKey* FindSettingKey(const std::string& name);

} // namespace cli
