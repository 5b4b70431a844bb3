// The plugin's keys in winamp.ini's section "Gen_Nimbo", each a member of `Settings`
// (every member is one), in the order the store numbers them.
#pragma once

#include <cstddef>
#include <string>

#include "core/settings.h"

namespace nimbo {

struct SettingsKey {
    const char* name;
    bool Settings::*flag;
    int Settings::*number;
    std::wstring Settings::*text;
};

// The seven original keys first; then the later ones; then accounts 2 to 4; then Discord's
// and the now-playing file's.
constexpr size_t kSettingsKeyCount = 70;
extern const SettingsKey kSettingsKeys[kSettingsKeyCount];

}  // namespace nimbo
