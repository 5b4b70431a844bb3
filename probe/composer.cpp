#include "probe/composer.h"

#include "common/platform.h"
#include "common/text.h"
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
    return dot != std::wstring::npos && upperText(fileName.substr(dot)) == L".MP3";
}

template <typename Text>
Text ask(const std::function<Text()>& value) {
    return value ? value() : Text();
}

std::wstring compose(const std::wstring& statusMask, const std::wstring& filePath,
                     const PlayerValues& player, ValueSources& sources, TrackNames& names) {
    std::wstring text = extractBetween(statusMask, L"mask", L"{", L"}").value_or(statusMask);

    const std::wstring fileName = withoutFolder(filePath);
    TrackTags tags;
    if (isMp3Name(fileName)) tags = readTrackTags(filePath);

    // The playlist title is asked for at most once, and only when the tags leave a gap.
    bool haveTitle = false;
    std::wstring playlistTitle;
    auto currentTitle = [&]() -> const std::wstring& {
        if (!haveTitle) playlistTitle = ask(player.currentTitle);
        haveTitle = true;
        return playlistTitle;
    };

    sources.artist = tags.artistSource;
    sources.title = tags.titleSource;
    std::wstring artist = tags.artist;
    if (artist.empty() && !(artist = artistFromName(currentTitle())).empty())
        sources.artist = "playlist title";
    if (artist.empty() && !(artist = artistFromName(fileName)).empty()) sources.artist = "file name";
    if (artist.empty()) {
        artist = widen(localWord(statusMask, L"$unknown_artist", "Unknown Artist"));
        sources.artist = "the word for an unknown artist";
    }

    std::wstring title = tags.title;
    if (title.empty() && !(title = titleFromName(currentTitle())).empty())
        sources.title = "playlist title";
    if (title.empty() && !(title = titleFromName(fileName)).empty()) sources.title = "file name";
    if (title.empty()) {
        title = fileName;
        sources.title = "the file name as it is";
    }

    names.artist = artist;
    names.title = title;

    struct Placeholder {
        const wchar_t* name;
        std::function<std::wstring()> value;
    };
    auto player8 = [](const std::function<std::string()>& value) {
        return [&value] { return widen(ask(value)); };
    };
    const Placeholder placeholders[] = {
        {L"%artist%", [&] { return artist; }},
        {L"%title%", [&] { return title; }},
        {L"%length%", player8(player.lengthText)},
        {L"%bitrate%", player8(player.bitrateText)},
        {L"%samplerate%", player8(player.sampleRateText)},
        {L"%channels%", player8(player.channelsText)},
        {L"%curstate%", player8(player.playStateText)},
    };
    // Each step sees the text left by the one before, so a value holding a later
    // placeholder gets it replaced too.
    for (const Placeholder& p : placeholders) {
        if (text.find(p.name) == std::wstring::npos) continue;
        text = replaceText(text, p.name, p.value(), false);
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
