// What the change test compares for the current playlist entry, and how an answer of
// Winamp's file-info query is read. Portable: the window queries live in probe.h.
#pragma once

#include <cstddef>
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

// The text in a buffer of `units` wide characters that the answer to the file-info
// query filled: up to the first zero, or all of it when there is none. Nothing past
// `units` is looked at.
std::wstring answeredText(const wchar_t* buffer, size_t units);

}  // namespace nimbo
