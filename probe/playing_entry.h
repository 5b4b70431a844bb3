// What the change test compares for the current playlist entry. Portable: the window
// queries live in probe.h.
#pragma once

#include <string>

namespace nimbo {

// A path holding "://" is a stream (internet radio), whose playlist title changes with
// each song while the path stays the same.
bool isStream(const std::wstring& path);

// A title Winamp shows while it connects or buffers: "[Connecting]",
// "[Buffering: 40%] Radio X". It says nothing about the song.
bool isPassingNote(const std::wstring& title);

struct PlayingEntry {
    std::wstring path;         // the entry's full path
    std::wstring streamTitle;  // a stream's playlist title, as Winamp gives it; empty for a file
    bool waiting = false;      // a new stream with only a passing note so far: not yet a change
};

// The entry as the change test sees it. For a stream the title counts too; a passing
// note keeps the title remembered for the same stream (so it is no change), and leaves
// a stream that has not shown a song yet waiting.
PlayingEntry resolveEntry(const std::wstring& path, const std::wstring& title,
                          const std::wstring& lastPath, const std::wstring& lastStreamTitle);

}  // namespace nimbo
