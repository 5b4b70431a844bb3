// The user's own words for playback states and unknown values, defined inside
// the status mask as key "=" word ";".
#pragma once

#include <string>

namespace nimbo {

// The word defined for `key` in `statusMask` (first occurrence, exact case),
// narrowed to 8-bit; `fallback` when the definition is missing or reads "None".
std::string localWord(const std::wstring& statusMask, const std::wstring& key,
                      const std::string& fallback);

// "m:ss" as minutes ":" seconds, each with at least two digits.
std::string formatLength(int seconds);

}  // namespace nimbo
