// Which winamp.ini: the path Winamp names for query 1334, else the places it was
// guessed at before hosts could say; and settings that move over once from a guessed
// file into Winamp's.
#pragma once

#include <optional>
#include <string>

#include "core/ini_file.h"

namespace nimbo {

// Where the settings are read from and written to. When Winamp names its ini and
// that holds no settings yet, settings found in a guessed place are read from there
// once; the save then puts them into Winamp's ini and the old file stays as it is.
struct IniPlaces {
    std::wstring settings;  // read the plugin's section from here
    std::wstring winamp;    // Winamp's ini: its proxy, and where the save goes
    // Winamp's ini as read to decide, so that init reads it once; none when the places
    // were guessed without reading.
    std::optional<IniFile> winampFile;
    // The guessed file as read to decide a move, so the load takes the very bytes that
    // held the section (a second read could fail); none when nothing moves.
    std::optional<IniFile> movedFile;
};

// Asks Winamp's window in this process, so call it on Winamp's thread at init.
// `section`: the plugin's section, whose presence decides a move.
IniPlaces findIniPlaces(const char* section);

}  // namespace nimbo
