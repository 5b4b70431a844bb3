// The stand-in's playlist and playback state, and its answers to the WM_USER
// queries a general-purpose plugin sends to the main window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tools/player/file_info.h"

namespace player {

struct Entry {
    std::string path;  // 8-bit text in the ANSI code page, for queries 211/212
    std::string title;
    std::wstring widePath;  // the same texts in UTF-16, for queries 214/213
    std::wstring wideTitle;
    int length = -1;      // seconds; negative = unknown
    int bitrate = 128;    // kbps
    int sampleRate = 44;  // kHz
    int channels = 2;
};

// Playback states as query 104 reports them.
enum PlayState { kStopped = 0, kPlaying = 1, kPaused = 3 };

// The host hands out entry texts through one static buffer of this size; the next
// 211/212 call overwrites it, exactly as callers of the real host must expect.
const size_t kEntryBufferBytes = 1040;
// The wide queries 213/214 answer from a buffer of their own, in UTF-16 units.
const size_t kEntryBufferUnits = 1040;

class Model {
  public:
    std::vector<Entry> playlist;
    int position = 0;  // raw: a test may put it outside the playlist
    int state = kStopped;
    // What the "current track" reports; loaded from an entry by play/next and kept
    // after a stop, so query 126 still gives the last track's values.
    int length = -1;
    int bitrate = 0;
    int sampleRate = 0;
    int channels = 0;
    // Off: 213 and 214 get 1, as from a host that predates them.
    bool wideQueries = true;
    // Query 0's answer: 1 (a window that does not know it) until `version` sets one.
    LRESULT version = 1;
    // Query 3026 and the tag tables it answers from.
    FileInfo fileInfo;

    // Answers one WM_USER query; every query id not handled gives 1.
    LRESULT answer(WPARAM wParam, LPARAM query);

    // Loads the entry at `position` into the current-track values, its playing
    // position at 0; false outside the playlist.
    bool loadCurrent();

    // The playing position in ms: it runs while the state is playing, as the host's
    // does, and stands while paused or stopped.
    int playedMs() const;
    // Changes the state (the raw value too), keeping the position's clock.
    void setState(int newState);
    void seek(int ms);

    const char* entryBuffer() const { return buffer_; }

  private:
    LRESULT entryText(WPARAM wParam, bool title);
    int playedBefore_ = 0;    // ms played up to playingSince_
    DWORD playingSince_ = 0;  // GetTickCount when the state last became playing
    LRESULT entryTextWide(WPARAM wParam, bool title);

    char buffer_[kEntryBufferBytes] = {};
    wchar_t wideBuffer_[kEntryBufferUnits] = {};
};

}  // namespace player
