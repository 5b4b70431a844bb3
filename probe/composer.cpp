#include "probe/composer.h"

#include "common/platform.h"
#include "common/text.h"
#include "probe/words.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

namespace nimbo {
namespace {

std::string raiseFirstLetter(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = char(text[0] - 'a' + 'A');
    return text;
}

std::string underscoresToSpaces(std::string text) {
    for (char& c : text)
        if (c == '_') c = ' ';
    return text;
}

bool isMp3Name(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    return dot != std::string::npos && upperText(widen(fileName.substr(dot))) == L".MP3";
}

// Both tag versions, read once per composition; ID3v2 wins over ID3v1 field by field.
struct TagTexts {
    std::string artist, title;
};

TagTexts readTags(const std::string& filePath) {
    TID3v1 v1;
    TID3v2 v2;
    v1.load(filePath);
    v2.load(filePath);
    return {v2.artist.empty() ? v1.artist : v2.artist, v2.title.empty() ? v1.title : v2.title};
}

std::string ask(const std::function<std::string()>& value) {
    return value ? value() : std::string();
}

std::wstring compose(const std::wstring& statusMask, const std::string& fileName,
                     const std::string& filePath, const PlayerValues& player) {
    std::wstring text = extractBetween(statusMask, L"mask", L"{", L"}");
    if (text == kNone) text = statusMask;

    TagTexts tags;
    if (isMp3Name(fileName)) tags = readTags(filePath);

    // The playlist title is asked for at most once, and only when the tags leave a gap.
    bool haveTitle = false;
    std::string playlistTitle;
    auto currentTitle = [&]() -> const std::string& {
        if (!haveTitle) playlistTitle = ask(player.currentTitle);
        haveTitle = true;
        return playlistTitle;
    };

    std::string artist = tags.artist;
    if (artist.empty()) artist = artistFromName(currentTitle());
    if (artist.empty()) artist = artistFromName(fileName);
    if (artist.empty()) artist = localWord(statusMask, L"$unknown_artist", "Unknown Artist");

    std::string title = tags.title;
    if (title.empty()) title = titleFromName(currentTitle());
    if (title.empty()) title = titleFromName(fileName);
    if (title.empty()) title = fileName;

    struct Placeholder {
        const wchar_t* name;
        std::function<std::string()> value;
    };
    const Placeholder placeholders[] = {
        {L"%artist%", [&] { return artist; }},
        {L"%title%", [&] { return title; }},
        {L"%length%", [&] { return ask(player.lengthText); }},
        {L"%bitrate%", [&] { return ask(player.bitrateText); }},
        {L"%samplerate%", [&] { return ask(player.sampleRateText); }},
        {L"%channels%", [&] { return ask(player.channelsText); }},
        {L"%curstate%", [&] { return ask(player.playStateText); }},
    };
    // Each step sees the text left by the one before, so a value holding a later
    // placeholder gets it replaced too.
    for (const Placeholder& p : placeholders) {
        if (text.find(p.name) == std::wstring::npos) continue;
        text = replaceText(text, p.name, widen(p.value()), false);
    }
    return text;
}

}  // namespace

std::string artistFromName(const std::string& text) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) return std::string();
    return raiseFirstLetter(trimBlanks(underscoresToSpaces(text.substr(0, dash))));
}

std::string titleFromName(const std::string& text) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) return raiseFirstLetter(trimBlanks(text));
    return raiseFirstLetter(trimBlanks(underscoresToSpaces(text.substr(dash + 1))));
}

std::wstring composeStatus(const std::wstring& statusMask, const std::string& fileName,
                           const std::string& filePath, const PlayerValues& player) {
    try {
        return compose(statusMask, fileName, filePath, player);
    } catch (...) {
        // Out of memory or a throwing player callback: publish nothing this time.
        return std::wstring();
    }
}

}  // namespace nimbo
