// The status text composer: template, artist and title sources, placeholders.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <stdexcept>
#include <tuple>

#include "common/platform.h"
#include "core/settings_codec.h"
#include "probe/composer.h"
#include "probe/playing_entry.h"
#include "tag_builders.h"
#include "tests/ci_skip.h"

using namespace nimbo;
using namespace nimbo::testing;

namespace {

// A player whose answers are fixed and whose questions are counted.
struct FakePlayer {
    std::wstring title = L"";
    std::map<std::wstring, std::wstring> winamp;  // its file-info answers, by field
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
        v.fileInfo = [this](const std::wstring&, const wchar_t* field) {
            ++asked["winamp " + std::string(field, field + wcslen(field))];
            auto found = winamp.find(field);
            return found == winamp.end() ? std::wstring() : found->second;
        };
        return v;
    }
};

// Scratch paths are ASCII; the composer takes wide ones.
std::wstring wide(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

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
    player.title = L"Band - Song";
    EXPECT_EQ(composeStatus(kDefaultStatusMask, L"/nowhere/x.ogg", player.values()),
              L"\u03A9 Now is playing:\r\nArtist: Band\r\nTitle: Song\r\nLength: 03:25\r\n"
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
        player.title = L"Song";
        EXPECT_EQ(composeStatus(c.mask, wide(dir.path() + "/song.ogg"), player.values()),
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
    dir.write("noTitle.mp3", tagFile("V2 Artist", "", "", ""));
    // Leftovers of an older tag behind a zero byte.
    dir.write("v1junk.mp3", tagFile("", "", "V1 Artist", std::string("Song\0old junk", 13)));
    dir.write("zeros.mp3",
              tagFile("", std::string("V2 Title \0old", 13), std::string("\0junk", 5), ""));
    const std::map<std::wstring, std::wstring> flac = {{L"artist", L"W Artist"},
                                                       {L"title", L"W Title"}};
    struct Case {
        const char* name;
        std::string fileName;
        std::wstring playlistTitle;
        const wchar_t* expected;  // "%artist%|%title%"
        std::map<std::wstring, std::wstring> winamp;
    } cases[] = {
        {"Winamp before the playlist title", "01.flac", L"Track 01", L"W Artist|W Title", flac},
        {"Winamp fills what the tags leave empty", "noTitle.mp3", L"PL - T", L"V2 Artist|W Title",
         flac},
        {"ID3v1 before Winamp", "v1title.Mp3", L"PL - T", L"V2 Artist|V1 Title", flac},
        {"tags beat Winamp", "both.mp3", L"PL - T", L"V2 Artist|V2 Title", flac},
        {"Winamp knows one field",
         "x.opus",
         L"PL - T",
         L"PL|T2",
         {{L"artist", L""}, {L"title", L"T2"}}},
        {"a stream: its playlist title, never Winamp", "http://radio.example:8000/stream",
         L"Artist Two - Song Two", L"Artist Two|Song Two", flac},
        {"ID3v2 first", "both.mp3", L"PL Artist - PL Title", L"V2 Artist|V2 Title"},
        {"ID3v1 artist, ID3v2 title", "v1artist.MP3", L"PL - T", L"V1 Artist|V2 Title"},
        {"ID3v2 artist, ID3v1 title", "v1title.Mp3", L"PL - T", L"V2 Artist|V1 Title"},
        {"other extension skips tags", "tagged.ogg", L"pl_artist - pl_title",
         L"Pl artist|Pl title"},
        {"no tags: playlist title", "untagged.mp3", L" my band  -  my song ", L"My band|My song"},
        {"missing file: playlist title", "gone.mp3", L"A - B", L"A|B"},
        {"artist with a dash", "x.ogg", L"Jay-Z - Song", L"Jay|Z - Song"},
        {"playlist title without dash, file name with one", "Band_Name-track.ogg", L"just title",
         L"Band Name|Just title"},
        {"nothing but the file name", "track_01.ogg", L"", L"Unknown Artist|Track_01.ogg"},
        {"dash only", "-", L"", L"Unknown Artist|-"},
        {"non-letter first character stays", "x.ogg", L"\u00E9lan - 1st", L"\u00E9lan|1st"},
        {"a tag text ends at its zero byte", "v1junk.mp3", L"PL - T", L"V1 Artist|Song"},
        {"nothing before the zero: the next source", "zeros.mp3", L"PL - T", L"PL|V2 Title"},
        {"a file's playlist title is cut like a path", "x.ogg", L"AC/DC - Back in Black",
         L"DC|Back in Black"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlayer player;
        player.title = c.playlistTitle;
        player.winamp = c.winamp;
        const std::string path = c.fileName.find("://") == std::string::npos
                                     ? dir.path() + "/" + c.fileName
                                     : c.fileName;
        EXPECT_EQ(composeStatus(L"%artist%|%title%", wide(path), player.values()), c.expected);
        // The same names come out for the private-track rule, also when the mask
        // shows neither of them.
        TrackNames names;
        composeStatus(L"%curstate%", wide(path), player.values(), nullptr, &names);
        EXPECT_EQ(names.artist + L"|" + names.title, c.expected);
    }
}

TEST(ComposeStatus, UnknownArtistWordFromTheMask) {
    FakePlayer player;
    EXPECT_EQ(
        composeStatus(L"$unknown_artist = Nobody ; mask{%artist%}", L"x.ogg", player.values()),
        L"Nobody");
    EXPECT_EQ(composeStatus(L"$unknown_artist=None; mask{%artist%}", L"x.ogg", player.values()),
              L"Unknown Artist");
}

TEST(ComposeStatus, ValuesAreFetchedOnlyWhenTheirPlaceholderOccurs) {
    ScratchFolder dir;
    const std::string path = dir.write("t.mp3", tagFile("Art", "Tit", "", ""));
    FakePlayer player;
    player.title = L"ignored - ignored";
    EXPECT_EQ(composeStatus(L"%artist% %bitrate% %BITRATE% %Length%", wide(path), player.values()),
              L"Art 192 192 %Length%");
    // Tags gave both texts, so the playlist title was never needed.
    EXPECT_EQ(player.asked, (std::map<std::string, int>{{"bitrate", 1}}));

    // Any other file: Winamp once per field, then the playlist title once for both.
    FakePlayer fallback;
    composeStatus(L"%title% %album% %year% %album% %YEAR%", wide(dir.path() + "/none.ogg"),
                  fallback.values());
    EXPECT_EQ(fallback.asked, (std::map<std::string, int>{{"title", 1},
                                                          {"winamp artist", 1},
                                                          {"winamp title", 1},
                                                          {"winamp album", 1},
                                                          {"winamp year", 1}}));
    // Album and year are not asked for a mask without them, nor anything for a stream.
    FakePlayer stream;
    stream.title = L"A - B";
    EXPECT_EQ(composeStatus(L"%artist% %title%", L"http://radio.example/live.mp3", stream.values()),
              L"A B");
    EXPECT_EQ(stream.asked, (std::map<std::string, int>{{"title", 1}}));
}

// Album and year from each source in turn, each source's gaps filled by the next; the
// year is its first four characters wherever it comes from.
TEST(ComposeStatus, AlbumAndYearSources) {
    ScratchFolder dir;
    dir.write("v23.mp3",
              id3v2Tag(3, frame3("TPE1", latin1("A")) + frame3("TALB", latin1("Album 3")) +
                              frame3("TYER", latin1("1991"))));
    dir.write("v24.mp3", id3v2Tag(4, frame4("TALB", "\3Album \xCE\xB1") +
                                         frame4("TDRC", latin1("2019-05-01"))));
    // Three characters and a four-byte one: four units would split its pair.
    dir.write("pair.mp3", id3v2Tag(4, frame4("TDRC",
                                             "\3"
                                             "20R\xF1\xB1\xB1\xB1"
                                             "9")));
    dir.write("v22.mp3",
              id3v2Tag(2, frame2("TAL", latin1("Album 2")) + frame2("TYE", latin1("1977"))));
    dir.write("v1.mp3", std::string(200, '\xFF') + id3v1Block("T", "A", "V1 Album", "1985"));
    dir.write("v2album.mp3", id3v2Tag(3, frame3("TALB", latin1("V2 Album"))) +
                                 std::string(200, '\xFF') +
                                 id3v1Block("T", "A", "V1 Album", "1985"));
    dir.write("bare.mp3", std::string(300, '\xFF'));
    const std::map<std::wstring, std::wstring> winamp = {{L"album", L"W Album"},
                                                         {L"year", L"2001-09-11"}};
    struct Case {
        const char* name;
        std::string fileName;
        std::map<std::wstring, std::wstring> winamp;
        const wchar_t* expected;  // "%album%|%year%"
        const char* albumSource;
        const char* yearSource;
    } cases[] = {
        {"ID3v2.3 TALB and TYER", "v23.mp3", winamp, L"Album 3|1991", "ID3v2 TALB",
         "ID3v2 TYER or TDRC"},
        {"ID3v2.4 TDRC cut to the year",
         "v24.mp3",
         {},
         L"Album \u03B1|2019",
         "ID3v2 TALB",
         "ID3v2 TYER or TDRC"},
        {"a year cut at whole characters", "pair.mp3", {}, L"|20R", "none", "ID3v2 TYER or TDRC"},
        {"ID3v2.2 TAL and TYE", "v22.mp3", {}, L"Album 2|1977", "ID3v2 TAL", "ID3v2 TYE"},
        {"ID3v1", "v1.mp3", winamp, L"V1 Album|1985", "ID3v1", "ID3v1"},
        {"ID3v2 album, ID3v1 year", "v2album.mp3", {}, L"V2 Album|1985", "ID3v2 TALB", "ID3v1"},
        {"untagged MP3: Winamp", "bare.mp3", winamp, L"W Album|2001", "Winamp", "Winamp"},
        {"other format: Winamp", "x.m4a", winamp, L"W Album|2001", "Winamp", "Winamp"},
        {"no source: empty", "x.wma", {}, L"|", "none", "none"},
        {"a stream: empty", "http://radio.example/s", winamp, L"|", "none", "none"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlayer player;
        player.winamp = c.winamp;
        const std::string path = c.fileName.find("://") == std::string::npos
                                     ? dir.path() + "/" + c.fileName
                                     : c.fileName;
        ValueSources sources;
        EXPECT_EQ(composeStatus(L"%album%|%year%", wide(path), player.values(), &sources),
                  c.expected);
        EXPECT_EQ(sources.album, c.albumSource);
        EXPECT_EQ(sources.year, c.yearSource);
    }
    // Replaced after %curstate%: a title bringing in %year% has it filled, from the tag
    // read again for it.
    FakePlayer player;
    player.title = L"X - %year% %curstate%";
    EXPECT_EQ(composeStatus(L"%title%", wide(dir.path() + "/v22.mp3"), player.values()),
              L"1977 playing");
}

TEST(ComposeStatus, LaterPlaceholdersInsideValuesAreReplaced) {
    FakePlayer player;
    player.title = L"Band - 100%length% %curstate%";
    // The title step brings in "%length%" and "%curstate%", which later steps replace.
    EXPECT_EQ(composeStatus(L"%title% %artist%", L"x.ogg", player.values()),
              L"10003:25 playing Band");
    // An earlier placeholder is not looked at again.
    player.title = L"X - %artist%";
    EXPECT_EQ(composeStatus(L"%artist% %title%", L"x.ogg", player.values()), L"X %artist%");
}

// Non-Latin names and tags in every encoding reach the status unchanged under either code
// page; only encoding-0 frames, ID3v1 and the user's words go through the code page.
TEST(ComposeStatus, UnicodeFromTheFileToTheStatus) {
    const std::wstring ja = L"\u611B", ko = L"\uD55C\uAD6D",
                       el = L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1",
                       ru = L"\u041A\u0438\u043D\u043E";
    ScratchFolder dir;
    // Natively a wide path is opened as UTF-8, so these are the names the composer gets.
    const std::string tagged = "\xE6\x84\x9B/\xED\x95\x9C\xEA\xB5\xAD.mp3";  // 愛/한국.mp3
    dir.write(tagged, id3v2Tag(3, frame3("TPE1", utf16(u"\u611B")) +
                                      frame3("TIT2", bytes({2, 0xD5, 0x5C, 0xAD, 0x6D}))));
    dir.write("el.mp3",
              id3v2Tag(4, frame4("TPE1", "\3\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1") +
                              frame4("TIT2", latin1("\xCA\xE8\xED\xEE"))));
    dir.write("v1.mp3", std::string(200, '\xFF') + id3v1Block("\xCA\xE8\xED\xEE", "Band"));
    const std::wstring root = wide(dir.path()) + L"/";
    struct Case {
        const char* name;
        std::wstring path, playlistTitle;
        std::wstring at1251, at1252;  // "%artist%|%title%"
    } cases[] = {
        {"UTF-16 and UTF-16BE tags under a non-Latin path", root + ja + L"/" + ko + L".mp3", L"",
         ja + L"|" + ko, ja + L"|" + ko},
        {"UTF-8 tag; encoding 0 through the code page", root + L"el.mp3", L"", el + L"|" + ru,
         el + L"|\u00CA\u00E8\u00ED\u00EE"},
        {"ID3v1 through the code page", root + L"v1.mp3", L"", L"Band|" + ru,
         L"Band|\u00CA\u00E8\u00ED\u00EE"},
        {"wide playlist title", root + L"x.ogg", ko + L" - " + el, ko + L"|" + el, ko + L"|" + el},
        {"wide file name", L"C:\\" + ru + L"\\" + ja + L" - " + ru + L".ogg", L"",
         ja + L"|" + ru + L".ogg", ja + L"|" + ru + L".ogg"},
        {"file name alone", L"D:" + el + L".mp3", L"", L"Unknown Artist|" + el + L".mp3",
         L"Unknown Artist|" + el + L".mp3"},
    };
    for (unsigned codePage : {1251u, 1252u}) {
        CodePage cp(codePage);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(codePage));
            FakePlayer player;
            player.title = c.playlistTitle;
            EXPECT_EQ(composeStatus(L"%artist%|%title%", c.path, player.values()),
                      codePage == 1251 ? c.at1251 : c.at1252);
        }
        // A word definition is still narrowed: Cyrillic survives 1251 only.
        EXPECT_EQ(composeStatus(L"$unknown_artist=" + ru + L"; mask{%artist%}", L"x",
                                FakePlayer().values()),
                  codePage == 1251 ? ru : L"????");
    }
}

// The shared real-world files through the composer in both code pages, against their
// tags read as UTF-16 elsewhere. Only encoding-0 and ID3v1 bytes depend on the code page.
TEST(ComposeStatus, RealWorldFilesInBothCodePages) {
    const std::string folder = std::string(NIMBO_TESTDATA_DIR) + "/id3";
    NIMBO_NEEDS(std::filesystem::is_directory(folder), folder);
    struct Case {
        const char* file;
        std::wstring at1251, at1252;  // "%artist%|%title%"
    } cases[] = {
        // UTF-16 Korean; the ID3v1 tag holds the same in code page 949.
        {"mm-id3-multi-02.mp3", L"\uC774\uC18C\uB77C|Rain", L"\uC774\uC18C\uB77C|Rain"},
        {"mm-outofbounds.mp3", L"\uD074\uB860(Clone)|\uB108\uC758 \uC0DD\uC77C\uC5D4",
         L"\uD074\uB860(Clone)|\uB108\uC758 \uC0DD\uC77C\uC5D4"},
        // Latin-1 in encoding 0: right under 1252 only.
        {"mm-bug-non_ascii_chars.mp3",
         L"Janelle Mon\u0431e/Roman Gianarthur/Nate Wonder/Roman Gianarthur|Suite II Overture",
         L"Janelle Mon\u00E1e/Roman Gianarthur/Nate Wonder/Roman Gianarthur|Suite II Overture"},
        // UTF-8 frames in an unsynchronised ID3v2.4 tag.
        {"mm-id3v2.4.mp3", L"Explo|Home", L"Explo|Home"},
        // Unsynchronised ID3v2.3, UTF-16 after a TLEN frame.
        {"mm-issue-979.mp3", L"Alexander Hacke|Minnie & Me", L"Alexander Hacke|Minnie & Me"},
    };
    for (unsigned codePage : {1251u, 1252u}) {
        CodePage cp(codePage);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.file) + " at " + std::to_string(codePage));
            EXPECT_EQ(composeStatus(L"%artist%|%title%", wide(folder + "/" + c.file),
                                    FakePlayer().values()),
                      codePage == 1251 ? c.at1251 : c.at1252);
        }
    }
}

TEST(ComposeStatus, MissingOrThrowingPlayerValues) {
    PlayerValues none;
    EXPECT_EQ(composeStatus(L"%artist%|%title%|%length%|%curstate%", L"a - b.ogg", none),
              L"A|B.ogg||");
    PlayerValues throwing;
    throwing.lengthText = []() -> std::string { throw std::runtime_error("gone"); };
    EXPECT_EQ(composeStatus(L"%length%", L"x.ogg", throwing), L"");
}

// What the change test compares: a file is its path; a stream also its song, where a
// passing note is no song.
TEST(PlayingEntry, FilesAndStreamsAgainstTheLastChange) {
    const std::wstring radio = L"http://radio.example:8000/stream";
    struct Case {
        const char* name;
        std::wstring path, title, lastPath, lastTitle;
        std::wstring streamTitle;
        bool waiting;
    } cases[] = {
        {"a file ignores its title", L"C:\\m\\a.flac", L"[Buffering]", L"", L"", L"", false},
        {"a path without :// is a file", L"radio.example:8000/s", L"A - B", L"", L"", L"", false},
        {"a stream's song", radio, L"Artist One - Song One", L"", L"", L"Artist One - Song One",
         false},
        {"the next song", radio, L"Artist Two - Song Two", radio, L"Artist One - Song One",
         L"Artist Two - Song Two", false},
        {"buffering keeps the song", radio, L"[Buffering: 40%] Radio X", radio,
         L"Artist One - Song One", L"Artist One - Song One", false},
        {"a new stream still connecting waits", radio, L"[Connecting]", L"C:\\m\\a.flac", L"", L"",
         true},
        {"another stream connecting waits", L"mms://other/live", L"[Connecting]", radio, L"A - B",
         L"", true},
        {"an open bracket alone is a song", radio, L"[Live - Set", radio, L"A - B", L"[Live - Set",
         false},
        {"a bracket later is a song", radio, L"Band - Song [Live]", radio, L"A - B",
         L"Band - Song [Live]", false},
        {"an empty title is a song too", radio, L"", radio, L"A - B", L"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PlayingEntry entry = resolveEntry(c.path, c.title, c.lastPath, c.lastTitle);
        EXPECT_EQ(entry.path, c.path);
        EXPECT_EQ(entry.streamTitle, c.streamTitle);
        EXPECT_EQ(entry.waiting, c.waiting);
    }
}

TEST(NameSplitting, ArtistAndTitleFromName) {
    struct Case {
        std::wstring text, artist, title;
    } cases[] = {
        {L"band - song", L"Band", L"Song"},
        {L"the_band-the_song", L"The band", L"The song"},
        {L"no dash_here ", L"", L"No dash_here"},
        {L" \nlead - trail \r\n", L"Lead", L"Trail"},
        {L"a-b-c", L"A", L"B-c"},
        {L"-", L"", L""},
        {L"", L"", L""},
        {L"\tx - y", L"\tx", L"Y"},
        {L"1st - \u00E0la", L"1st", L"\u00E0la"},
        // Only a to z is raised; other scripts stay as they are.
        {L"\u03B1_\u03B2 - \u044F_z", L"\u03B1 \u03B2", L"\u044F z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
        EXPECT_EQ(artistFromName(c.text), c.artist);
        EXPECT_EQ(titleFromName(c.text), c.title);
    }
    EXPECT_EQ(withoutFolder(L"C:\\a/b:c\\d.mp3"), L"d.mp3");
    EXPECT_EQ(withoutFolder(L"plain"), L"plain");
}

// What a listening service gets beyond the names: an MP3's from its tag, another file's
// from Winamp's answers (asked only then, one query a field), a stream's none.
TEST(ComposeStatus, ListenFieldsCarryTheIds) {
    ScratchFolder dir;
    const std::string rec = "0b6a7a1c-5d4e-4f3a-9b2c-1d0e9f8a7b6c";
    dir.write("ids.mp3", id3v2Tag(3, frame3("UFID", "http://musicbrainz.org" + bytes({0}) + rec) +
                                         frame3("TRCK", latin1("4/9"))));
    for (const auto& [path, ids, asks] : {std::tuple{dir.path() + "/ids.mp3", wide(rec + "|4"), 0},
                                          {dir.path() + "/x.flac", wide(rec + "|7"), kTrackIdCount},
                                          {std::string("http://radio.example/s"), L"|", 0}}) {
        SCOPED_TRACE(path);
        FakePlayer player;
        player.winamp = {{L"MUSICBRAINZ_TRACKID", wide(" " + rec)}, {L"track", L"07"}};
        TrackFields fields;
        composeStatus(L"%title%", wide(path), player.values(), nullptr, nullptr, &fields);
        EXPECT_EQ(fields.ids[TrackId::recording] + L"|" + fields.ids[TrackId::trackNumber], ids);
        int asked = 0;
        for (const TrackIdNames& name : kTrackIdNames)
            asked +=
                player
                    .asked["winamp " + std::string(name.winamp, name.winamp + wcslen(name.winamp))];
        EXPECT_EQ(asked, asks);
    }
}
