// Turns the user's status mask into the status text for the current track. Texts from
// the file and the playlist stay UTF-16 all the way; only the player's numbers and the
// user's words are 8-bit text of the system code page.
#pragma once

#include <functional>
#include <string>

namespace nimbo {

// What the composer asks the player; each is called only when its placeholder occurs.
struct PlayerValues {
    std::function<std::wstring()> currentTitle;
    std::function<std::string()> lengthText, bitrateText, sampleRateText, channelsText,
        playStateText;
};

// Where the artist and the title of a composition came from, in words (for example
// "ID3v2 TPE1", "ID3v1", "playlist title", "file name"), for people trying masks out.
struct ValueSources {
    std::string artist, title;
};

// The artist and the title a composition settled on, after every fallback.
struct TrackNames {
    std::wstring artist, title;
};

// filePath: the current entry's full path, as stored for the change test. The tag readers
// open it; its name (after the last ":", "\" or "/") serves the ".MP3" test and the name
// fallbacks. Never throws; an empty result is not published.
std::wstring composeStatus(const std::wstring& statusMask, const std::wstring& filePath,
                           const PlayerValues& player, ValueSources* sources = nullptr,
                           TrackNames* names = nullptr);

// The text after its last ":", "\" or "/" (all of it without any).
std::wstring withoutFolder(const std::wstring& text);

// Artist and title out of a text of the form artist "-" title.
std::wstring artistFromName(const std::wstring& text);
std::wstring titleFromName(const std::wstring& text);

}  // namespace nimbo
