// Turns the user's status mask into the status text for the current track.
#pragma once

#include <functional>
#include <string>

namespace nimbo {

// What the composer asks the player; each is called only when its placeholder occurs.
struct PlayerValues {
    std::function<std::string()> currentTitle, lengthText, bitrateText, sampleRateText,
        channelsText, playStateText;
};

// fileName: the entry's name without folder (as stored for the change test; used for the
// ".MP3" test and the name fallbacks); filePath: the entry's full path, which the tag readers
// open. Never throws; an empty result is not published.
std::wstring composeStatus(const std::wstring& statusMask, const std::string& fileName,
                           const std::string& filePath, const PlayerValues& player);

// Artist and title out of a text of the form artist "-" title.
std::string artistFromName(const std::string& text);
std::string titleFromName(const std::string& text);

}  // namespace nimbo
