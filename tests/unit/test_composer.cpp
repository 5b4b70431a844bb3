// The status text composer: template, artist and title sources, placeholders.
#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "common/platform.h"
#include "probe/composer.h"
#include "tag_builders.h"

using namespace nimbo;
using namespace nimbo::testing;

namespace {

// The built-in status mask of the settings store (defined in Win32-only code).
const wchar_t kDefaultMask[] =
    L"\u041E\u00A9 Now is %curstate%:\r\nArtist: %artist%\r\nTitle: %title%\r\n"
    L"Length: %length%\r\nBitrate: %bitrate%\r\nSampleRate: %samplerate%\r\n"
    L"Channels: %channels%";

// A player whose answers are fixed and whose questions are counted.
struct FakePlayer {
    std::string title = "";
    std::map<std::string, int> asked;

    PlayerValues values() {
        auto answer = [this](const char* name, std::string value) {
            return [this, name, value] {
                ++asked[name];
                return value;
            };
        };
        PlayerValues v;
        v.currentTitle = [this] {
            ++asked["title"];
            return title;
        };
        v.lengthText = answer("length", "03:25");
        v.bitrateText = answer("bitrate", "192");
        v.sampleRateText = answer("samplerate", "44");
        v.channelsText = answer("channels", "2");
        v.playStateText = answer("state", "playing");
        return v;
    }
};

std::string tagFile(const std::string& v2artist, const std::string& v2title,
                    const std::string& v1artist, const std::string& v1title) {
    std::string frames;
    if (!v2artist.empty()) frames += frame3("TPE1", latin1(v2artist));
    if (!v2title.empty()) frames += frame3("TIT2", latin1(v2title));
    return id3v2Tag(3, frames, 10) + std::string(200, '\xFF') + id3v1Block(v1title, v1artist);
}

}  // namespace

TEST(ComposeStatus, DefaultMaskReplacesEveryPlaceholder) {
    FakePlayer player;
    player.title = "Band - Song";
    EXPECT_EQ(composeStatus(kDefaultMask, "x.ogg", "/nowhere/x.ogg", player.values()),
              L"\u041E\u00A9 Now is playing:\r\nArtist: Band\r\nTitle: Song\r\nLength: 03:25\r\n"
              L"Bitrate: 192\r\nSampleRate: 44\r\nChannels: 2");
}

TEST(ComposeStatus, Templates) {
    struct Case {
        const char* name;
        const wchar_t* mask;
        const wchar_t* expected;
    } cases[] = {
        {"block with definitions outside",
         L"$unknown_artist=Nobody; mask{  %artist%<br>%title% } $playing=on air;", L"Nobody\rSong"},
        {"first mask inside a longer word", L"unmasked {%title%} mask{other}", L"Song"},
        {"no block: untouched", L"  <br>%title% $paused=p; ", L"  <br>Song $paused=p; "},
        {"unclosed block is no block", L"mask{%title%", L"mask{Song"},
        {"upper case only is kept", L"%ARTIST%/%Title%", L"%ARTIST%/%Title%"},
        {"lower case present: all cases replaced", L"%ARTIST% %artist% %Artist%",
         L"Unknown Artist Unknown Artist Unknown Artist"},
        {"empty mask", L"", L""},
    };
    ScratchFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlayer player;
        player.title = "Song";
        EXPECT_EQ(composeStatus(c.mask, "song.ogg", dir.path() + "/song.ogg", player.values()),
                  c.expected);
    }
}

TEST(ComposeStatus, ArtistAndTitleSources) {
    ScratchFolder dir;
    // The tag files lie in a folder other than the current one: only the full path finds them.
    dir.write("both.mp3", tagFile("V2 Artist", "V2 Title", "V1 Artist", "V1 Title"));
    dir.write("v1artist.MP3", tagFile("", "V2 Title", "V1 Artist", "V1 Title"));
    dir.write("v1title.Mp3", tagFile("V2 Artist", "", "", "V1 Title"));
    dir.write("tagged.ogg", tagFile("V2 Artist", "V2 Title", "V1 Artist", "V1 Title"));
    dir.write("untagged.mp3", std::string(300, '\xFF'));
    struct Case {
        const char* name;
        std::string fileName, playlistTitle;
        const wchar_t* expected;  // "%artist%|%title%"
    } cases[] = {
        {"ID3v2 first", "both.mp3", "PL Artist - PL Title", L"V2 Artist|V2 Title"},
        {"ID3v1 artist, ID3v2 title", "v1artist.MP3", "PL - T", L"V1 Artist|V2 Title"},
        {"ID3v2 artist, ID3v1 title", "v1title.Mp3", "PL - T", L"V2 Artist|V1 Title"},
        {"other extension skips tags", "tagged.ogg", "pl_artist - pl_title", L"Pl artist|Pl title"},
        {"no tags: playlist title", "untagged.mp3", " my band  -  my song ", L"My band|My song"},
        {"missing file: playlist title", "gone.mp3", "A - B", L"A|B"},
        {"artist with a dash", "x.ogg", "Jay-Z - Song", L"Jay|Z - Song"},
        {"playlist title without dash, file name with one", "Band_Name-track.ogg", "just title",
         L"Band Name|Just title"},
        {"nothing but the file name", "track_01.ogg", "", L"Unknown Artist|Track_01.ogg"},
        {"dash only", "-", "", L"Unknown Artist|-"},
        {"non-letter first character stays", "x.ogg", "\xE9lan - 1st", L"\u00E9lan|1st"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlayer player;
        player.title = c.playlistTitle;
        EXPECT_EQ(composeStatus(L"%artist%|%title%", c.fileName, dir.path() + "/" + c.fileName,
                                player.values()),
                  c.expected);
    }
}

TEST(ComposeStatus, UnknownArtistWordFromTheMask) {
    FakePlayer player;
    EXPECT_EQ(
        composeStatus(L"$unknown_artist = Nobody ; mask{%artist%}", "x.ogg", "", player.values()),
        L"Nobody");
    EXPECT_EQ(composeStatus(L"$unknown_artist=None; mask{%artist%}", "x.ogg", "", player.values()),
              L"Unknown Artist");
}

TEST(ComposeStatus, ValuesAreFetchedOnlyWhenTheirPlaceholderOccurs) {
    ScratchFolder dir;
    const std::string path = dir.write("t.mp3", tagFile("Art", "Tit", "", ""));
    FakePlayer player;
    player.title = "ignored - ignored";
    EXPECT_EQ(
        composeStatus(L"%artist% %bitrate% %BITRATE% %Length%", "t.mp3", path, player.values()),
        L"Art 192 192 %Length%");
    // Tags gave both texts, so the playlist title was never needed.
    EXPECT_EQ(player.asked, (std::map<std::string, int>{{"bitrate", 1}}));

    FakePlayer fallback;
    composeStatus(L"%title%", "none.ogg", dir.path() + "/none.ogg", fallback.values());
    EXPECT_EQ(fallback.asked, (std::map<std::string, int>{{"title", 1}}));
}

TEST(ComposeStatus, LaterPlaceholdersInsideValuesAreReplaced) {
    FakePlayer player;
    player.title = "Band - 100%length% %curstate%";
    // The title step brings in "%length%" and "%curstate%", which later steps replace.
    EXPECT_EQ(composeStatus(L"%title% %artist%", "x.ogg", "", player.values()),
              L"10003:25 playing Band");
    // An earlier placeholder is not looked at again.
    player.title = "X - %artist%";
    EXPECT_EQ(composeStatus(L"%artist% %title%", "x.ogg", "", player.values()), L"X %artist%");
}

TEST(ComposeStatus, Cyrillic1251) {
    setAnsiCodePage(1251);
    ScratchFolder dir;
    const std::string path =
        dir.write("t.mp3", id3v2Tag(3, frame3("TPE1", utf16(u"\u0410\u043B\u0438\u0441\u0430"))));
    FakePlayer player;
    player.title = "\xC8\xE2\xE0\xED - \xCF\xE5\xF1\xED\xFF";  // "Иван - Песня"
    const std::wstring fromTitle = composeStatus(L"%artist%/%title%", "x.ogg", "", player.values());
    const std::wstring fromTags = composeStatus(L"%artist%", "t.mp3", path, player.values());
    const std::wstring word =
        composeStatus(L"$unknown_artist=\u0410\u043D\u043E\u043D\u0438\u043C; mask{%artist%}", "x",
                      "", FakePlayer().values());
    setAnsiCodePage(1252);
    EXPECT_EQ(fromTitle, L"\u0418\u0432\u0430\u043D/\u041F\u0435\u0441\u043D\u044F");
    EXPECT_EQ(fromTags, L"\u0410\u043B\u0438\u0441\u0430");
    EXPECT_EQ(word, L"\u0410\u043D\u043E\u043D\u0438\u043C");
}

TEST(ComposeStatus, MissingOrThrowingPlayerValues) {
    PlayerValues none;
    EXPECT_EQ(composeStatus(L"%artist%|%title%|%length%|%curstate%", "a - b.ogg", "", none),
              L"A|B.ogg||");
    PlayerValues throwing;
    throwing.lengthText = []() -> std::string { throw std::runtime_error("gone"); };
    EXPECT_EQ(composeStatus(L"%length%", "x.ogg", "", throwing), L"");
}

TEST(NameSplitting, ArtistAndTitleFromName) {
    struct Case {
        std::string text, artist, title;
    } cases[] = {
        {"band - song", "Band", "Song"},
        {"the_band-the_song", "The band", "The song"},
        {"no dash_here ", "", "No dash_here"},
        {" \nlead - trail \r\n", "Lead", "Trail"},
        {"a-b-c", "A", "B-c"},
        {"-", "", ""},
        {"", "", ""},
        {"\tx - y", "\tx", "Y"},
        {"1st - \xE0la", "1st", "\xE0la"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(artistFromName(c.text), c.artist);
        EXPECT_EQ(titleFromName(c.text), c.title);
    }
}
