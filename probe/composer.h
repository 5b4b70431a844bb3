// Turns the user's status mask into the status text for the current track. Texts from
// the file and the playlist stay UTF-16 all the way; only the player's numbers and the
// user's words are 8-bit text of the system code page.
#pragma once

#include <functional>
#include <string>

#include "core/track_ids.h"

namespace nimbo {

// What the composer asks the player; each is called only when its placeholder occurs.
struct PlayerValues {
    // The playlist title as Winamp shows it; the composer cuts a file's like a path.
    std::function<std::wstring()> currentTitle;
    std::function<std::string()> lengthText, bitrateText, sampleRateText, channelsText,
        playStateText;
    // Winamp's own answer for a field ("artist", "title", "album", "year") of the entry
    // at `path`, from the input plugin that plays it; empty when it has none.
    std::function<std::wstring(const std::wstring& path, const wchar_t* field)> fileInfo;
};

// Where each value of a composition came from, in words (for example "ID3v2 TPE1",
// "ID3v1", "Winamp", "playlist title", "file name"), for people trying masks out. Album
// and year are "" when their placeholders do not occur, "none" when no source has one.
struct ValueSources {
    std::string artist, title, album, year;
};

// The artist and the title a composition settled on, after every fallback.
struct TrackNames {
    std::wstring artist, title;
};

// What a listening service takes: fields, not a sentence. Each is empty when no source
// has it (no word for an unknown artist, no file name standing in for a title); a
// stream's artist and title are its title split at the first " - ".
struct TrackFields {
    std::wstring artist, title, album;
    TrackIds ids;                // a file's: its ID3v2 tag's, or Winamp's answers
    std::wstring playerVersion;  // Winamp's, "5.9.2"; empty when not known
};

// filePath: the current entry's full path, as stored for the change test. For a file the
// tag readers open it (an ".MP3" name) and Winamp is asked for what the tags leave
// empty (every other name); a stream (see isStream) has only its playlist title. Its
// name (after the last ":", "\" or "/") serves the ".MP3" test and the name fallbacks.
// Never throws; an empty result is not published. `fields`, when given, costs the album
// and the IDs too (the tags' frames, or for another file Winamp's answers).
std::wstring composeStatus(const std::wstring& statusMask, const std::wstring& filePath,
                           const PlayerValues& player, ValueSources* sources = nullptr,
                           TrackNames* names = nullptr, TrackFields* fields = nullptr);

// The text after its last ":", "\" or "/" (all of it without any).
std::wstring withoutFolder(const std::wstring& text);

// Artist and title out of a text of the form artist "-" title.
std::wstring artistFromName(const std::wstring& text);
std::wstring titleFromName(const std::wstring& text);

}  // namespace nimbo
