// What Winamp plays right now, asked through its main window ("Winamp v1.x").
// Nothing is cached: every call finds the window and asks afresh.
#pragma once

#include <string>

namespace nimbo {

// The current entry's full path and its playlist title (cut after its last ":", "\" or
// "/"), asked as wide texts where Winamp knows the wide queries, else through the code page.
std::wstring currentFilePath();
std::wstring currentTitle();
std::string lengthText();
std::string bitrateText();
std::string sampleRateText();
std::string channelsText();
std::string playStateText();

// localWord over the current StatusMask setting.
std::string localWord(const std::wstring& key, const std::string& fallback);

}  // namespace nimbo

namespace nimbo {

// The status text for the current entry, composed from the StatusMask setting with
// the live player values (asked only for placeholders that occur).
std::wstring composeCurrentStatus(const std::wstring& filePath);

}  // namespace nimbo
