// What names a recording exactly, beyond its artist and title: the MusicBrainz IDs a
// tagger wrote into the file, its ISRC, its place on the release and the album's artist.
// A listening service matches a listen that carries them to the very recording.
#pragma once

#include <string>

namespace nimbo {

// In the order they are stored and sent.
enum class TrackId {
    recording,  // MusicBrainz IDs
    release,
    artists,  // several, joined by ","
    releaseGroup,
    track,
    works,  // several, joined by ","
    isrc,
    trackNumber,  // the digits of a number above 0
    discNumber,
    albumArtist,
};
constexpr int kTrackIdCount = 10;

struct TrackIds {
    std::wstring texts[kTrackIdCount];  // each as it is sent; empty when not known

    const std::wstring& operator[](TrackId id) const { return texts[int(id)]; }
    // Keeps what `raw` gives for `id`: an ID only when well formed (a cut or damaged one
    // is never sent half), of a list the items that are IDs, each once ("/", ";" or ","
    // between them, as taggers join them), of a number the one before any "/" ("3/12"),
    // of a text itself; blanks around go.
    void set(TrackId id, const std::wstring& raw);
    bool empty() const;
};

// Where each goes: ListenBrainz's member of additional_info (none for the album artist)
// and the field Winamp's file-info query knows it by.
struct TrackIdNames {
    const char* listenBrainz;
    const wchar_t* winamp;
};
extern const TrackIdNames kTrackIdNames[kTrackIdCount];

// A MusicBrainz ID as written: 36 characters, hexadecimal digits with hyphens after the
// 8th, 12th, 16th and 20th.
bool isMbid(const std::wstring& text);

}  // namespace nimbo
