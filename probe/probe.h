// What Winamp plays right now, asked through its main window (core/winamp_window.h).
// Every call asks afresh; every query is bounded, and one that runs out gives the
// call's fallback and is remembered for queryRanOut.
#pragma once

#include <string>

#include "probe/composer.h"
#include "probe/playing_entry.h"

namespace nimbo {

// The current entry's full path and its playlist title (cut after its last ":", "\" or
// "/"), asked as wide texts where Winamp knows the wide queries, else through the code page.
std::wstring currentFilePath();
std::wstring currentTitle();

// The current entry for the change test: its path and, for a stream only, its playlist
// title (uncut), resolved against what the last change remembered (see resolveEntry).
// A file entry costs the path query alone; a stream one more title query.
PlayingEntry currentEntry(const std::wstring& lastPath, const std::wstring& lastStreamTitle);

// Winamp's answer to its extended file-info query (WM_USER, 3026) for `field` of the
// file at `path`; empty when it has none or does not know the query.
std::wstring winampFileInfo(const std::wstring& path, const wchar_t* field);
// Winamp's version, "5.9.2"; empty when its window does not say.
std::wstring winampVersion();
std::string lengthText();
std::string bitrateText();
std::string sampleRateText();
std::string channelsText();
// The entry's length in whole seconds; -1 when Winamp does not know it (a stream).
int lengthSeconds();
// Where Winamp is in the entry, in ms; -1 when stopped or not known.
int positionMs();
std::string playStateText();
// Winamp's answer behind the last playStateText (1 playing, 3 paused, 0 stopped; -1 none).
int lastPlayCode();

// True when a query ran out since the last call (Winamp hung, or its window went away
// meanwhile): the texts asked since then are fallbacks, not Winamp's answers.
bool queryRanOut();

// localWord over the current StatusMask setting.
std::string localWord(const std::wstring& key, const std::string& fallback);

}  // namespace nimbo

namespace nimbo {

// The status text for the current entry, composed from the StatusMask setting with
// the live player values (asked only for placeholders that occur). A stream's title is
// the one its change test saw, so a later passing note never reaches the status.
// `names` (when given) receives the artist and title the composition settled on,
// `fields` what a listening service takes.
std::wstring composeCurrentStatus(const std::wstring& filePath,
                                  const std::wstring& streamTitle = std::wstring(),
                                  TrackNames* names = nullptr, TrackFields* fields = nullptr);

}  // namespace nimbo
