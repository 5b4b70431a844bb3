// What Winamp plays right now, asked through its main window ("Winamp v1.x").
// Nothing is cached: every call finds the window and asks afresh.
#pragma once

#include <string>

namespace nimbo {

std::string currentFileName();  // the current entry's file name, folder cut off
std::string currentFilePath();  // the same entry's full path, for reading its tags
std::string currentTitle();     // the current entry's playlist title, cut the same way
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
std::wstring composeCurrentStatus(const std::string& fileName, const std::string& filePath);

}  // namespace nimbo
