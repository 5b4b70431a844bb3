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

std::wstring compose(const std::wstring& statusMask, const std::wstring& filePath,
                     const PlayerValues& player, ValueSources& sources, TrackNames& names) {
    sources = ValueSources();
    std::wstring text = extractBetween(statusMask, L"mask", L"{", L"}").value_or(statusMask);

    const std::wstring fileName = withoutFolder(filePath);
    // A stream's playlist title is its song; Winamp's file info and tags would not follow it.
    const bool stream = isStream(filePath);
    const bool mp3 = !stream && isMp3Name(fileName);
    // Album and year frames are read only for a mask that shows them; a value that brings
    // either placeholder in later has them read then.
    bool tagsWithAlbumAndYear = maskShows(text, L"%album%") || maskShows(text, L"%year%");
    TrackTags tags;
    if (mp3) tags = readTrackTags(filePath, tagsWithAlbumAndYear);

    // Winamp is asked at most once per field, only for a file and only for what the
    // tags leave empty.
    auto fromWinamp = [&](const wchar_t* field, std::wstring& value, std::string& source) {
        if (stream || !value.empty() || !player.fileInfo) return;
        if (!(value = player.fileInfo(filePath, field)).empty()) source = "Winamp";
    };

    // The playlist title is asked for at most once, and only when the tags leave a gap.
    // A file's is cut like a path; a stream's is a song name ("AC/DC - ...") and stays whole.
    bool haveTitle = false;
    std::wstring playlistTitle;
    auto currentTitle = [&]() -> const std::wstring& {
        if (!haveTitle) playlistTitle = ask(player.currentTitle);
        if (!haveTitle && !stream) playlistTitle = withoutFolder(playlistTitle);
        haveTitle = true;
        return playlistTitle;
    };

    sources.artist = tags.artistSource;
    sources.title = tags.titleSource;
    std::wstring artist = tags.artist;
    fromWinamp(L"artist", artist, sources.artist);
    if (artist.empty() && !(artist = artistFromName(currentTitle())).empty())
        sources.artist = "playlist title";
    if (artist.empty() && !(artist = artistFromName(fileName)).empty()) sources.artist = "file name";
    if (artist.empty()) {
        artist = widen(localWord(statusMask, L"$unknown_artist", "Unknown Artist"));
        sources.artist = "the word for an unknown artist";
    }

    std::wstring title = tags.title;
    fromWinamp(L"title", title, sources.title);
    if (title.empty() && !(title = titleFromName(currentTitle())).empty())
        sources.title = "playlist title";
    if (title.empty() && !(title = titleFromName(fileName)).empty()) sources.title = "file name";
    if (title.empty()) {
        title = fileName;
        sources.title = "the file name as it is";
    }

    names.artist = artist;
    names.title = title;

    // Album and year: the tags, then Winamp; empty when neither has one.
    auto tagValue = [&](std::wstring TrackTags::*field, const char* TrackTags::*source,
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
    };

    // Replaced in this order. Each step sees the text left by the one before, so a
    // value holding a later placeholder gets it replaced too.
    static const wchar_t* const kPlaceholders[] = {
        L"%artist%",   L"%title%",    L"%length%", L"%bitrate%", L"%samplerate%",
        L"%channels%", L"%curstate%", L"%album%",  L"%year%"};
    for (size_t i = 0; i < sizeof kPlaceholders / sizeof kPlaceholders[0]; ++i) {
        if (text.find(kPlaceholders[i]) == std::wstring::npos) continue;
        std::wstring value;
        switch (i) {
            case 0: value = artist; break;
            case 1: value = title; break;
            case 2: value = widen(ask(player.lengthText)); break;
            case 3: value = widen(ask(player.bitrateText)); break;
            case 4: value = widen(ask(player.sampleRateText)); break;
            case 5: value = widen(ask(player.channelsText)); break;
            case 6: value = widen(ask(player.playStateText)); break;
            case 7:
                value = tagValue(&TrackTags::album, &TrackTags::albumSource, L"album",
                                 sources.album);
                break;
            default:
                // "2019-05-01" from any source shows as "2019".
                value = leadingUnits(
                    tagValue(&TrackTags::year, &TrackTags::yearSource, L"year", sources.year), 4);
        }
        text = replaceText(text, kPlaceholders[i], value, false);
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
                           const PlayerValues& player, ValueSources* sources,
                           TrackNames* names) {
    try {
        ValueSources ignored;
        TrackNames unused;
        return compose(statusMask, filePath, player, sources ? *sources : ignored,
                       names ? *names : unused);
    } catch (...) {
        // Out of memory or a throwing player callback: publish nothing this time.
        return std::wstring();
    }
}

}  // namespace nimbo
