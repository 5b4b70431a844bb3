#include "probe/composer.h"

#include "common/platform.h"
#include "common/text.h"
#include "common/utf8.h"
#include "probe/playing_entry.h"
#include "probe/words.h"
#include "tags/track_tags.h"

namespace nimbo {
namespace {

std::wstring raiseFirstLetter(std::wstring text) {
    if (!text.empty() && text[0] >= L'a' && text[0] <= L'z') text[0] = wchar_t(text[0] - 32);
    return text;
}

std::wstring underscoresToSpaces(std::wstring text) {
    for (wchar_t& c : text)
        if (c == L'_') c = L' ';
    return text;
}

bool isMp3Name(const std::wstring& fileName) {
    const size_t dot = fileName.rfind(L'.');
    return dot != std::wstring::npos && equalsNoCase(fileName.substr(dot), std::wstring(L".mp3"));
}

template <typename Text>
Text ask(const std::function<Text()>& value) {
    return value ? value() : Text();
}

bool maskShows(const std::wstring& text, const wchar_t* placeholder) {
    return text.find(placeholder) != std::wstring::npos;
}

// One composition: the entry, what was found out about it so far, and where from.
struct Composition {
    Composition(const std::wstring& mask, const std::wstring& path, const PlayerValues& values,
                ValueSources& found)
        : statusMask(mask), filePath(path), player(values), sources(found) {}

    const std::wstring& statusMask;
    const std::wstring& filePath;
    const PlayerValues& player;
    ValueSources& sources;
    std::wstring fileName;
    // A stream's playlist title is its song; Winamp's file info and tags would not follow it.
    bool stream = false;
    bool mp3 = false;
    // Album and year frames are read only for a mask that shows them; a value that
    // brings either placeholder in later has them read then.
    bool tagsWithAlbumAndYear = false;
    TrackTags tags;
    bool haveTitle = false;
    std::wstring playlistTitle;
    std::wstring artist, title;
    TrackFields fields;

    // Winamp is asked at most once per field, only for a file and only for what the
    // tags leave empty.
    void fromWinamp(const wchar_t* field, std::wstring& value, std::string& source) {
        if (stream || !value.empty() || !player.fileInfo) return;
        if (!(value = player.fileInfo(filePath, field)).empty()) source = "Winamp";
    }

    // The playlist title is asked for at most once, and only when the tags leave a gap.
    const std::wstring& currentTitle() {
        if (!haveTitle) playlistTitle = ask(player.currentTitle);
        if (!haveTitle && !stream) playlistTitle = withoutFolder(playlistTitle);
        haveTitle = true;
        return playlistTitle;
    }

    // After the tags: Winamp, then the playlist title split by `fromName`; what a
    // listening service gets. The status falls back further: the file name, a word.
    void fillFromPlayer(const wchar_t* field, std::wstring (*fromName)(const std::wstring&),
                        std::wstring& value, std::string& source, std::wstring& found) {
        fromWinamp(field, value, source);
        if (value.empty() && !(value = fromName(currentTitle())).empty()) source = "playlist title";
        found = value;
        if (value.empty() && !(value = fromName(fileName)).empty()) source = "file name";
    }

    void findArtist() {
        sources.artist = tags.artistSource;
        artist = tags.artist;
        fillFromPlayer(L"artist", artistFromName, artist, sources.artist, fields.artist);
        if (artist.empty()) {
            artist = widen(localWord(statusMask, L"$unknown_artist", "Unknown Artist"));
            sources.artist = "the word for an unknown artist";
        }
    }

    void findTitle() {
        sources.title = tags.titleSource;
        title = tags.title;
        fillFromPlayer(L"title", titleFromName, title, sources.title, fields.title);
        if (title.empty()) {
            title = fileName;
            sources.title = "the file name as it is";
        }
    }

    // Album and year: the tags, then Winamp; empty when neither has one.
    std::wstring tagValue(std::wstring TrackTags::*field, const char* TrackTags::*source,
                          const wchar_t* winampField, std::string& explained) {
        if (mp3 && !tagsWithAlbumAndYear) {
            tags = readTrackTags(filePath, true);
            tagsWithAlbumAndYear = true;
        }
        std::wstring value = tags.*field;
        explained = tags.*source;
        fromWinamp(winampField, value, explained);
        if (value.empty()) explained = "none";
        return value;
    }
};

// A file other than an MP3: what Winamp's input plugins name for every format, and the
// MusicBrainz names of Vorbis comments (a plugin that has none answers nothing).
TrackIds idsFromWinamp(const Composition& c) {
    TrackIds ids;
    for (int i = 0; i < kTrackIdCount && c.player.fileInfo; ++i)
        ids.set(TrackId(i), c.player.fileInfo(c.filePath, kTrackIdNames[i].winamp));
    return ids;
}

struct Placeholder {
    const wchar_t* text;
    std::wstring (*value)(Composition&);
};

// Replaced in this order. Each step sees the text left by the one before, so a value
// holding a later placeholder gets it replaced too.
const Placeholder kPlaceholders[] = {
    {L"%artist%", [](Composition& c) { return c.artist; }},
    {L"%title%", [](Composition& c) { return c.title; }},
    {L"%length%", [](Composition& c) { return widen(ask(c.player.lengthText)); }},
    {L"%bitrate%", [](Composition& c) { return widen(ask(c.player.bitrateText)); }},
    {L"%samplerate%", [](Composition& c) { return widen(ask(c.player.sampleRateText)); }},
    {L"%channels%", [](Composition& c) { return widen(ask(c.player.channelsText)); }},
    {L"%curstate%", [](Composition& c) { return widen(ask(c.player.playStateText)); }},
    {L"%album%",
     [](Composition& c) {
         return c.tagValue(&TrackTags::album, &TrackTags::albumSource, L"album", c.sources.album);
     }},
    // "2019-05-01" from any source shows as "2019".
    {L"%year%",
     [](Composition& c) {
         return leadingUnits(
             c.tagValue(&TrackTags::year, &TrackTags::yearSource, L"year", c.sources.year), 4);
     }},
};

std::wstring compose(const std::wstring& statusMask, const std::wstring& filePath,
                     const PlayerValues& player, ValueSources& sources, TrackNames& names,
                     TrackFields* fields) {
    sources = ValueSources();
    Composition c(statusMask, filePath, player, sources);
    std::wstring text = extractBetween(statusMask, L"mask", L"{", L"}").value_or(statusMask);
    c.fileName = withoutFolder(filePath);
    c.stream = isStream(filePath);
    c.mp3 = !c.stream && isMp3Name(c.fileName);
    c.tagsWithAlbumAndYear = fields || maskShows(text, L"%album%") || maskShows(text, L"%year%");
    if (c.mp3) c.tags = readTrackTags(filePath, c.tagsWithAlbumAndYear, fields != nullptr);
    c.findArtist();
    c.findTitle();
    names.artist = c.artist;
    names.title = c.title;
    if (fields) {
        *fields = c.fields;
        if (c.stream) {
            // A station's title is "Artist - Title"; a hyphen inside a name stays.
            const std::wstring& song = c.currentTitle();
            const size_t dash = song.find(L" - ");
            fields->artist =
                dash == std::wstring::npos ? std::wstring() : trimBlanks(song.substr(0, dash));
            fields->title =
                dash == std::wstring::npos ? std::wstring() : trimBlanks(song.substr(dash + 3));
        } else {
            std::string unused;
            fields->album =
                c.tagValue(&TrackTags::album, &TrackTags::albumSource, L"album", unused);
            fields->ids = c.mp3 ? c.tags.ids : idsFromWinamp(c);
        }
    }

    // Exact search, case-blind replace: only a placeholder written as such costs its
    // value's queries, and then every spelling of it is filled in, as masks expect.
    for (const Placeholder& p : kPlaceholders) {
        if (maskShows(text, p.text)) text = replaceText(text, p.text, p.value(c), false);
    }
    return text;
}

}  // namespace

std::wstring withoutFolder(const std::wstring& text) {
    const size_t cut = text.find_last_of(L":\\/");
    return cut == std::wstring::npos ? text : text.substr(cut + 1);
}

std::wstring artistFromName(const std::wstring& text) {
    const size_t dash = text.find(L'-');
    if (dash == std::wstring::npos) return std::wstring();
    return raiseFirstLetter(trimBlanks(underscoresToSpaces(text.substr(0, dash))));
}

std::wstring titleFromName(const std::wstring& text) {
    const size_t dash = text.find(L'-');
    if (dash == std::wstring::npos) return raiseFirstLetter(trimBlanks(text));
    return raiseFirstLetter(trimBlanks(underscoresToSpaces(text.substr(dash + 1))));
}

std::wstring composeStatus(const std::wstring& statusMask, const std::wstring& filePath,
                           const PlayerValues& player, ValueSources* sources, TrackNames* names,
                           TrackFields* fields) {
    try {
        ValueSources ignored;
        TrackNames unused;
        return compose(statusMask, filePath, player, sources ? *sources : ignored,
                       names ? *names : unused, fields);
    } catch (...) {
        // Out of memory or a throwing player callback: publish nothing this time.
        return std::wstring();
    }
}

}  // namespace nimbo
