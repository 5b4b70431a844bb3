// The ID3v2 reader: header, frame walk, slots and text decoding.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/platform.h"
#include "tag_builders.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"
#include "tags/id3v2_text.h"

using namespace nimbo;
using namespace nimbo::testing;

namespace {

struct Loaded {
    bool result;
    TID3v2 tag;
};

Loaded loadBytes(const std::string& content) {
    ScratchFolder dir;
    Loaded out;
    out.result = out.tag.load(dir.write("t.mp3", content));
    return out;
}

// A version 3 tag of the given frames, with some padding and audio after it.
TID3v2 v3(const std::string& frames) {
    return loadBytes(id3v2Tag(3, frames, 20) + std::string(64, '\xFF')).tag;
}

struct CodePage {
    explicit CodePage(unsigned cp) { setAnsiCodePage(cp); }
    ~CodePage() { setAnsiCodePage(1252); }
};

}  // namespace

TEST(ID3v2, Latin1TitleAndArtistLoseEncodingByteAndTrailingBlanks) {
    Loaded l = loadBytes(id3v2Tag(
        3, frame3("TIT2", latin1("Song") + bytes({0, 0})) + frame3("TPE1", latin1("Band   "))));
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.tag.found);
    EXPECT_EQ(l.tag.version, 3);
    EXPECT_EQ(l.tag.title, "Song");
    EXPECT_EQ(l.tag.artist, "Band");
}

TEST(ID3v2, TextEncodings) {
    struct Case {
        const char* name;
        std::string tpe1;
        std::string artist;
    } cases[] = {
        {"utf16 with BOM", bytes({1, 0xFF, 0xFE, 0x41, 0, 0x42, 0}), "AB"},
        {"utf16 without BOM", utf16(u"AB", false), "AB"},
        {"utf16 big-endian BOM", bytes({1, 0xFE, 0xFF, 0, 0x41, 0, 0x42}), "AB"},
        {"utf16 zero unit ends the text", utf16(u"A\0B"), "A"},
        {"utf16 trimmed", utf16(u"  Mid  "), "Mid"},
        {"utf16 y-diaeresis kept", utf16(u"\u00FF!"), "\xFF!"},
        {"utf16 unmappable", utf16(u"\u4E2D"), "?"},
        {"latin1 bytes unchanged", latin1("Caf\xE9"), "Caf\xE9"},
        {"latin1 zero inside kept", latin1(std::string("A\0B", 3)), std::string("A\0B", 3)},
        // UTF-16BE and UTF-8 frames are skipped; the original artist steps in.
        {"encoding 2 ignored", bytes({2, 0, 0x41}), "Fallback"},
        {"encoding 3 ignored", std::string("\3Real"), "Fallback"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TID3v2 tag = v3(frame3("TPE1", c.tpe1) + frame3("TOPE", latin1("Fallback")));
        EXPECT_EQ(tag.artist, c.artist);
    }
}

TEST(ID3v2, FrameTextDirectly) {
    EXPECT_EQ(id3v2::frameText(""), "");
    EXPECT_EQ(id3v2::frameText(bytes({1, 0x41, 0, 0x42})), "A");  // a lone last byte is no unit
    EXPECT_EQ(id3v2::frameText(bytes({1})), "");
    EXPECT_EQ(id3v2::frameText(bytes({0, 0, 0x20, 0x41, 0x09, 0})), "A");
    // A mark after the first unit is dropped, not read as a byte-order switch.
    EXPECT_EQ(id3v2::frameText(bytes({1, 0x41, 0, 0xFF, 0xFE, 0xFE, 0xFF, 0x42, 0})), "A?B");
}

TEST(ID3v2, CyrillicUnitsNarrowThroughCodePage1251) {
    CodePage cp(1251);
    TID3v2 tag = v3(frame3("TIT2", utf16(u"\u041F\u0440\u0438\u0432\u0435\u0442 \u00E9")));
    EXPECT_EQ(tag.title, "\xCF\xF0\xE8\xE2\xE5\xF2 ?");
}

TEST(ID3v2, FallbackSlotsAndLaterFrames) {
    struct Case {
        const char* name;
        std::string frames;
        std::string title, artist, album;
    } cases[] = {
        {"blank title falls back to TIT1",
         frame3("TIT2", latin1("   ")) + frame3("TIT1", latin1("Group")), "Group", "", ""},
        {"second TIT2 wins", frame3("TIT2", latin1("One")) + frame3("TIT2", latin1("Two")), "Two",
         "", ""},
        {"empty TIT2 after a filled one",
         frame3("TIT1", latin1("Group")) + frame3("TIT2", latin1("One")) + frame3("TIT2", ""),
         "Group", "", ""},
        {"original artist and album",
         frame3("TOPE", latin1("Orig")) + frame3("TOAL", latin1("First")), "", "Orig", "First"},
        {"primary slots beat fallbacks",
         frame3("TOPE", latin1("Orig")) + frame3("TPE1", latin1("Main")) +
             frame3("TALB", latin1("Alb")) + frame3("TOAL", latin1("First")),
         "", "Main", "Alb"},
        {"ids are case-sensitive", frame3("Tit2", latin1("No")), "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TID3v2 tag = v3(c.frames);
        EXPECT_EQ(tag.title, c.title);
        EXPECT_EQ(tag.artist, c.artist);
        EXPECT_EQ(tag.album, c.album);
    }
}

TEST(ID3v2, TrackNumbers) {
    struct Case {
        std::string text;
        int track;
        std::string trackText;
    } cases[] = {
        {"7/12", 7, "7/12"}, {"07", 7, "07"},       {"3 /12", 0, "3 /12"},
        {"/12", 0, "/12"},   {"x", 0, "x"},         {"  5", 5, "5"},  // frame text is trimmed
        {"+9", 9, "+9"},     {"$1F", 31, "$1F"},    {"0x10/2", 16, "0x10/2"},
        {"-1", 65535, "-1"}, {"65537", 1, "65537"}, {"2147483648", 0, "2147483648"},
        {"12a", 0, "12a"},   {"$G", 0, "$G"},       {"", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TID3v2 tag = v3(frame3("TRCK", latin1(c.text)));
        EXPECT_EQ(tag.track, c.track);
        EXPECT_EQ(tag.trackText, c.trackText);
    }
}

TEST(ID3v2, IntegerConversion) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"  42", true, 42},
        {"-0x1f", true, -31},
        {"$7FFFFFFF", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"$80000000", false, 0},
        {"0x", false, 0},
        {"-", false, 0},
        {"4 ", false, 0},
        {"\t4", false, 0},
        {"1e3", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int32_t value = 0;
        EXPECT_EQ(id3v2::parseInt32(c.text, value), c.ok);
        if (c.ok) EXPECT_EQ(value, c.value);
    }
}

TEST(ID3v2, GenreAndYear) {
    struct Case {
        std::string frames;
        std::string genre, year;
    } cases[] = {
        {frame3("TCON", latin1("(17)Rock")), "Rock", ""},
        {frame3("TCON", latin1("(17)")), "", ""},
        {frame3("TCON", latin1("Rock")), "Rock", ""},
        {frame3("TCON", latin1("Rock (live)")), "", ""},
        {frame3("TDRC", latin1("2004-05-06")), "", "2004"},
        {frame3("TDRC", latin1("99")), "", "99"},
        {frame3("TYER", latin1("1999")) + frame3("TDRC", latin1("2004-05-06")), "", "1999"},
    };
    for (const Case& c : cases) {
        TID3v2 tag = v3(c.frames);
        EXPECT_EQ(tag.genre, c.genre);
        EXPECT_EQ(tag.year, c.year);
    }
}

TEST(ID3v2, CommentAndUrlSkipTheirDescriptions) {
    const std::string utf16Comm = bytes({1}) + "eng" + bytes({0xFF, 0xFE, 0x64, 0, 0, 0}) +
                                  bytes({0xFF, 0xFE, 0x48, 0, 0x69, 0});
    // Two zero bytes at an odd distance are not a terminator: units 0041, 4200, then 0000.
    const std::string oddZero =
        bytes({1}) + "eng" + bytes({0x41, 0, 0, 0x42, 0, 0, 0x48, 0, 0x69, 0});
    struct Case {
        const char* name;
        std::string frames;
        std::string comment, url;
    } cases[] = {
        {"latin1 comment", frame3("COMM", latin1("engd") + bytes({0}) + "Hi"), "Hi", ""},
        {"utf16 comment", frame3("COMM", utf16Comm), "Hi", ""},
        {"utf16 terminator at an even distance", frame3("COMM", oddZero), "Hi", ""},
        {"latin1 url", frame3("WXXX", latin1("home") + bytes({0}) + "http://x.example/"), "",
         "http://x.example/"},
        {"utf16 url", frame3("WXXX", utf16(u"d") + bytes({0, 0}) + utf16(u"http://y/").substr(1)),
         "", "http://y/"},
        {"empty description", frame3("COMM", latin1("eng") + bytes({0}) + "Plain"), "Plain", ""},
        {"short comment frame", frame3("COMM", latin1("en")), "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TID3v2 tag = v3(c.frames);
        EXPECT_EQ(tag.comment, c.comment);
        EXPECT_EQ(tag.url, c.url);
    }
    // Without a terminator in the 500 bytes, everything after the language code is kept.
    EXPECT_EQ(id3v2::describedText(latin1("eng" + std::string(496, 'd')), true),
              std::string(496, 'd'));
    EXPECT_EQ(id3v2::describedText(bytes({1}) + "eng" + std::string(496, 'd'), true),
              std::string(248, '?'));
}

TEST(ID3v2, OtherTextFields) {
    TID3v2 tag = v3(frame3("TCOM", latin1("Comp")) + frame3("TENC", latin1("Enc")) +
                    frame3("TCOP", latin1("(c)")) + frame3("TLAN", latin1("eng")) +
                    frame3("TALB", latin1("Album")));
    EXPECT_EQ(tag.composer, "Comp");
    EXPECT_EQ(tag.encoder, "Enc");
    EXPECT_EQ(tag.copyright, "(c)");
    EXPECT_EQ(tag.language, "eng");
    EXPECT_EQ(tag.album, "Album");
}

TEST(ID3v2, FrameWalk) {
    const std::string big = latin1(std::string(799, 'x'));
    struct Case {
        const char* name;
        std::string file;
        std::string title, artist;
    } cases[] = {
        {"800-byte frame: first 500 bytes, next frame after all of it",
         id3v2Tag(3, frame3("TIT2", big) + frame3("TPE1", latin1("Next"))), std::string(499, 'x'),
         "Next"},
        {"padding ends the walk",
         id3v2Tag(3, frame3("TIT2", latin1("T")) + std::string(10, '\0') +
                         frame3("TPE1", latin1("Hidden"))),
         "T", ""},
        {"compressed v3 frame not stored",
         id3v2Tag(3, frame3("TIT2", latin1("Zip"), 0x80) + frame3("TPE1", latin1("A"))), "", "A"},
        {"encrypted v3 frame not stored", id3v2Tag(3, frame3("TIT2", latin1("Enc"), 0x40)), "", ""},
        {"other v3 flags stored", id3v2Tag(3, frame3("TIT2", latin1("Ok"), 0x01)), "Ok", ""},
        {"compressed v4 frame not stored",
         id3v2Tag(4, frame4("TIT2", latin1("Zip"), 0x08) + frame4("TPE1", latin1("A"))), "", "A"},
        {"v4 top flag bit has no meaning", id3v2Tag(4, frame4("TIT2", latin1("Ok"), 0x80)), "Ok",
         ""},
        {"version 2 frames",
         id3v2Tag(2, frame2("TT2", latin1("Two")) + frame2("TP1", latin1("Band")), 10), "Two",
         "Band"},
        {"version 2 ignores version 3 ids", id3v2Tag(2, frame2("TIT", latin1("No")), 10), "", ""},
        {"version 3 ignores version 2 ids", id3v2Tag(3, frame3("TT2 ", latin1("No"))), "", ""},
        // Syncsafe sizes: 200 is 01 48; read as a plain number it would be 328.
        {"v4 syncsafe size",
         id3v2Tag(4,
                  frame4("TXXX", latin1(std::string(199, 'p'))) + frame4("TIT2", latin1("Four"))),
         "Four", ""},
        {"v4 plain size from a non-syncsafe writer",
         id3v2Tag(4, "TXXX" + plain32(200) + bytes({0, 0}) + latin1(std::string(199, 'p')) +
                         frame4("TIT2", latin1("Four"))),
         "Four", ""},
        {"frame cut by the end of the file",
         id3v2Tag(3, frame3("TIT2", latin1("Kept")) + "TPE1" + plain32(40) + bytes({0, 0}) +
                         latin1("Cut")),
         "Kept", ""},
        {"frame header cut by the end of the file",
         id3v2Tag(3, frame3("TIT2", latin1("Kept")) + "TPE"), "Kept", ""},
        {"frame ending exactly at the tag's end",
         id3v2Tag(3, frame3("TIT2", latin1("Last"))) + frame3("TPE1", latin1("Audio")), "Last", ""},
        {"frame size of 2^31 ends the walk",
         id3v2Tag(3, frame3("TIT2", latin1("Before")) + "TPE1" + plain32(0x80000000u) +
                         bytes({0, 0}) + latin1("Huge") + frame3("TALB", latin1("After"))),
         "Before", ""},
        {"v4 frame size of 2^32-1 ends the walk",
         id3v2Tag(4, frame4("TIT2", latin1("Before")) + "TPE1" + plain32(0xFFFFFFFFu) +
                         bytes({0, 0}) + latin1("Huge")),
         "Before", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l = loadBytes(c.file);
        EXPECT_TRUE(l.result);
        EXPECT_EQ(l.tag.title, c.title);
        EXPECT_EQ(l.tag.artist, c.artist);
    }
}

TEST(ID3v2, ExtendedHeaderIsSkipped) {
    // ID3v2.3: size of what follows the size field (6), flags, padding size.
    const std::string ext3 = plain32(6) + bytes({0, 0, 0, 0, 0, 0});
    // ID3v2.4: syncsafe size of the whole extended header (6), one flag byte, no flags.
    const std::string ext4 = syncsafe(6) + bytes({1, 0});
    struct Case {
        const char* name;
        std::string file;
        std::string title;
    } cases[] = {
        {"v3", id3v2Tag(3, ext3 + frame3("TIT2", latin1("Ext3")), 0, 0x40), "Ext3"},
        {"v4", id3v2Tag(4, ext4 + frame4("TIT2", latin1("Ext4")), 0, 0x40), "Ext4"},
        {"flag set without an extended header",
         id3v2Tag(4, frame4("TIT2", latin1("NoExt")), 0, 0x40), "NoExt"},
        {"extended header larger than the tag",
         id3v2Tag(3, plain32(500) + frame3("TIT2", latin1("Odd")), 0, 0x40), ""},
        {"v2 has no extended header", id3v2Tag(2, frame2("TT2", latin1("Two")), 10, 0x40), "Two"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l = loadBytes(c.file);
        EXPECT_TRUE(l.result);
        EXPECT_EQ(l.tag.title, c.title);
    }
}

TEST(ID3v2, HeaderAndSize) {
    struct Case {
        const char* name;
        std::string file;
        bool result, found;
        int version, tagSize;
        std::string title;
    } cases[] = {
        {"no tag", std::string(64, 'x'), true, false, 0, 0, ""},
        {"lower-case marker", "id3" + std::string(64, '\0'), true, false, 0, 0, ""},
        {"version 5",
         "ID3" + bytes({5, 0, 0}) + syncsafe(20) + frame3("TIT2", latin1("x")) +
             std::string(10, '\0'),
         true, true, 5, 30, ""},
        {"tag beyond the file", id3v2Header(3, 1000) + frame3("TIT2", latin1("x")), true, true, 3,
         0, ""},
        {"tag exactly the file", id3v2Tag(3, frame3("TIT2", latin1("Fits"))), true, true, 3, 25,
         "Fits"},
        {"footer adds ten bytes",
         id3v2Tag(4, frame4("TIT2", latin1("Foot")), 0, 0x10) + "3DI" + std::string(7, '\0'), true,
         true, 4, 35, "Foot"},
        {"size bytes taken whole", "ID3" + bytes({3, 0, 0, 0, 0, 0, 0x80}) + std::string(200, '\0'),
         true, true, 3, 138, ""},
        {"nine bytes", "ID3" + bytes({3, 0, 0, 0, 0, 0}), false, false, 0, 0, ""},
        {"empty", "", false, false, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l = loadBytes(c.file);
        EXPECT_EQ(l.result, c.result);
        EXPECT_EQ(l.tag.found, c.found);
        EXPECT_EQ(l.tag.version, c.version);
        EXPECT_EQ(l.tag.tagSize, c.tagSize);
        EXPECT_EQ(l.tag.title, c.title);
    }
}

TEST(ID3v2, MissingFileAndHandles) {
    const int before = openFileCount();
    ScratchFolder dir;
    TID3v2 tag;
    tag.title = "stale";
    EXPECT_FALSE(tag.load(dir.path() + "/missing.mp3"));
    EXPECT_FALSE(tag.found);
    EXPECT_EQ(tag.title, "");
    EXPECT_FALSE(tag.load(dir.path()));
    // Every path through the walk closes the file again.
    tag.load(dir.write("a.mp3", id3v2Tag(3, frame3("TIT2", latin1("x")))));
    tag.load(dir.write("b.mp3", id3v2Header(3, 100) + "TIT2" + plain32(50)));
    EXPECT_EQ(openFileCount(), before);
}

// Files from public projects' test data; skipped where the folder is absent.
TEST(RealWorldTags, KnownValuesAndNoLeaks) {
    const std::string folder = std::string(NIMBO_TESTDATA_DIR) + "/id3";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no " << folder;
    const int before = openFileCount();
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        TID3v1 v1;
        TID3v2 v2;
        v1.load(entry.path().string());
        v2.load(entry.path().string());
        ++files;
    }
    EXPECT_GT(files, 50);
    EXPECT_EQ(openFileCount(), before);

    struct Case {
        const char* file;
        std::string v2title, v2artist, v1title, v1artist;
    } cases[] = {
        {"mm-id3v2.3.mp3", "Home", "Explosions In The Sky/Another/And Another", "Home",
         "Explosions In The Sky/Another/"},
        // Version 2 frames with 6-byte headers.
        {"mutagen-id3v22-test.mp3", "cosmic american", "Anais Mitchell", "", ""},
        // Two TPE1 frames: the later one wins.
        {"mutagen-silence-44-s.mp3", "Silence", "jzig", "Silence", "piman"},
        {"mm-id3v1_Blood_Sugar.mp3", "", "", "Blood Sugar", "Pendulum"},
        // UTF-16 with a big-endian byte-order mark; the artist follows frames of 128 bytes
        // and more, which only syncsafe size reading steps over correctly.
        {"mm-bug-utf16bom-encoding.mp3", "It's All Over You Know", "The Apers", "", ""},
        // UTF-8 frames are ignored; the ID3v1 tag still holds the title.
        {"mm-id3v2.4.mp3", "", "", "Home", "Explo"},
        // An ID3v2.4 extended header before the frames.
        {"taglib-extended-header.mp3", "Druids", "Excelsis", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TID3v1 v1;
        TID3v2 v2;
        v1.load(folder + "/" + c.file);
        v2.load(folder + "/" + c.file);
        EXPECT_EQ(v2.title, c.v2title);
        EXPECT_EQ(v2.artist, c.v2artist);
        EXPECT_EQ(v1.title, c.v1title);
        EXPECT_EQ(v1.artist, c.v1artist);
    }

    TID3v2 tag;
    ASSERT_TRUE(tag.load(folder + "/mutagen-id3v22-test.mp3"));
    EXPECT_EQ(tag.album, "Hymns for the Exiled");
    EXPECT_EQ(tag.track, 3);
    EXPECT_EQ(tag.trackText, "3/11");
    EXPECT_EQ(tag.year, "2004");
    EXPECT_EQ(tag.encoder, "iTunes v4.6");
    EXPECT_EQ(tag.comment, "3");  // the last COM frame wins
    ASSERT_TRUE(tag.load(folder + "/mm-id3v2-utf16.mp3"));
    EXPECT_EQ(tag.artist, "YourEnigma");
    EXPECT_EQ(tag.year, "2014");
    EXPECT_EQ(tag.comment, "Visit http://yourenigma.bandcamp.com");
    // ID3v2.4 with COMM frames of 129 bytes (syncsafe 00 00 01 01) before these.
    ASSERT_TRUE(tag.load(folder + "/mm-issue-502.mp3"));
    EXPECT_EQ(tag.album, "Sorry You Couldn't Make It");
    EXPECT_EQ(tag.year, "2020");
    EXPECT_EQ(tag.track, 8);
    EXPECT_EQ(tag.comment, "CLEAN");
    // Declares more tag than the file holds: no frames at all.
    ASSERT_TRUE(tag.load(folder + "/taglib-compressed_id3_frame.mp3"));
    EXPECT_TRUE(tag.found);
    EXPECT_EQ(tag.tagSize, 0);
    EXPECT_EQ(tag.title, "");
    ASSERT_TRUE(tag.load(folder + "/mutagen-id3v24_extended_header.id3"));
    EXPECT_EQ(tag.comment, "This is a comment!");
}
