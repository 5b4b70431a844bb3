// The ID3v2 reader: header and frame flags, frame walk, slots and text decoding.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/platform.h"
#include "tag_builders.h"
#include "tests/ci_skip.h"
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

// Expected ASCII texts as wide ones, byte by byte: no code page between.
std::wstring ascii(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace

TEST(ID3v2, Latin1TitleAndArtistLoseEncodingByteAndTrailingBlanks) {
    Loaded l = loadBytes(id3v2Tag(
        3, frame3("TIT2", latin1("Song") + bytes({0, 0})) + frame3("TPE1", latin1("Band   "))));
    EXPECT_TRUE(l.result);
    EXPECT_TRUE(l.tag.found);
    EXPECT_EQ(l.tag.version, 3);
    EXPECT_EQ(l.tag.title, L"Song");
    EXPECT_EQ(l.tag.artist, L"Band");
}

TEST(ID3v2, TextEncodings) {
    const std::wstring kJapanese = L"\u3042\u3044\u66F2";                 // あい曲
    const std::wstring kKorean = L"\uD55C\uAD6D\uC5B4";                   // 한국어
    const std::wstring kGreek = L"\u0395\u03BB\u03BB\u03AC\u03B4\u03B1";  // Ελλάδα
    // U+1F3B5 (a note) as its surrogate pair, spelled as units so wchar_t's width is moot.
    const std::wstring kNote = {wchar_t(0xD83C), wchar_t(0xDFB5)};
    struct Case {
        const char* name;
        std::string tpe1;
        std::wstring artist;
    } cases[] = {
        {"utf16 with BOM", bytes({1, 0xFF, 0xFE, 0x41, 0, 0x42, 0}), L"AB"},
        {"utf16 without BOM", utf16(u"AB", false), L"AB"},
        {"utf16 big-endian BOM", bytes({1, 0xFE, 0xFF, 0, 0x41, 0, 0x42}), L"AB"},
        {"utf16 zero unit ends the text", utf16(u"A\0B"), L"A"},
        {"utf16 trimmed", utf16(u"  Mid  "), L"Mid"},
        {"utf16 y-diaeresis kept", utf16(u"\u00FF!"), L"\u00FF!"},
        {"utf16 Japanese, no code page between", utf16(u"\u3042\u3044\u66F2"), kJapanese},
        {"utf16 surrogate pair kept", utf16(u"\U0001F3B5"), kNote},
        {"utf16 lone surrogates replaced", utf16(u"a") + bytes({0x3C, 0xD8, 0x62, 0, 0xB5, 0xDF}),
         L"a\uFFFDb\uFFFD"},
        {"utf16be", bytes({2, 0xD5, 0x5C, 0xAD, 0x6D, 0xC5, 0xB4}), kKorean},
        {"utf16be with its BOM", bytes({2, 0xFE, 0xFF, 0, 0x41}), L"A"},
        {"utf16be with a little-endian BOM", bytes({2, 0xFF, 0xFE, 0x41, 0, 0, 0, 0x42, 0}), L"A"},
        {"utf8 Greek", "\3\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1", kGreek},
        {"utf8 Cyrillic with BOM, trimmed", "\3\xEF\xBB\xBF \xD0\x9A\xD0\xB8\xD0\xBD\xD0\xBE ",
         L"\u041A\u0438\u043D\u043E"},
        {"utf8 four bytes", "\3\xF0\x9F\x8E\xB5", kNote},
        {"utf8 zero byte ends the text", std::string("\3A\0B", 4), L"A"},
        // Each bad sequence is one replacement: a stray follow-up byte, a cut sequence,
        // an overlong slash, an encoded surrogate, a value past U+10FFFF.
        {"utf8 malformed",
         "\3a\x80"
         "b\xE3\x81"
         "c\xC0\xAF"
         "d\xED\xA0\x80"
         "e\xF4\x90\x80\x80",
         L"a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFD"},
        {"latin1 bytes through the code page", latin1("Caf\xE9"), L"Caf\u00E9"},
        {"latin1 zero inside kept", latin1(std::string("A\0B", 3)), std::wstring(L"A\0B", 3)},
        {"unknown encoding ignored", std::string("\4Real"), L"Fallback"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TID3v2 tag = v3(frame3("TPE1", c.tpe1) + frame3("TOPE", latin1("Fallback")));
        EXPECT_EQ(tag.artist, c.artist);
    }
}

TEST(ID3v2, FrameTextDirectly) {
    EXPECT_EQ(id3v2::frameText(""), L"");
    EXPECT_EQ(id3v2::frameText(bytes({1, 0x41, 0, 0x42})), L"A");  // a lone last byte is no unit
    EXPECT_EQ(id3v2::frameText(bytes({1})), L"");
    EXPECT_EQ(id3v2::frameText(bytes({3})), L"");
    EXPECT_EQ(id3v2::frameText(bytes({0, 0, 0x20, 0x41, 0x09, 0})), L"A");
    // A mark after the first unit is dropped, not read as a byte-order switch.
    EXPECT_EQ(id3v2::frameText(bytes({1, 0x41, 0, 0xFF, 0xFE, 0xFE, 0xFF, 0x42, 0})), L"A\uFFFEB");
}

TEST(ID3v2, OnlyEncodingZeroGoesThroughTheCodePage) {
    // The same Cyrillic word as 1251 bytes in encoding 0 and as UTF-16 / UTF-8.
    const std::string cp1251 = latin1("\xCF\xF0\xE8\xE2\xE5\xF2");
    const std::wstring word = L"\u041F\u0440\u0438\u0432\u0435\u0442";
    const std::string frames =
        frame3("TIT2", cp1251) +
        frame3("TPE1", utf16(u"\u041F\u0440\u0438\u0432\u0435\u0442 \u00E9")) +
        frame3("TALB", "\3\xCE\xA9 \xE6\x84\x9B");
    {
        CodePage cp(1251);
        TID3v2 tag = v3(frames);
        EXPECT_EQ(tag.title, word);
        EXPECT_EQ(tag.artist, word + L" \u00E9");
        EXPECT_EQ(tag.album, L"\u03A9 \u611B");
    }
    TID3v2 tag = v3(frames);
    EXPECT_EQ(tag.title, L"\u00CF\u00F0\u00E8\u00E2\u00E5\u00F2");  // the 1252 reading
    EXPECT_EQ(tag.artist, word + L" \u00E9");
    EXPECT_EQ(tag.album, L"\u03A9 \u611B");
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
        EXPECT_EQ(tag.title, ascii(c.title));
        EXPECT_EQ(tag.artist, ascii(c.artist));
        EXPECT_EQ(tag.album, ascii(c.album));
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
        EXPECT_EQ(tag.trackText, ascii(c.trackText));
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
        EXPECT_EQ(tag.genre, ascii(c.genre));
        EXPECT_EQ(tag.year, ascii(c.year));
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
        // UTF-16BE: the terminator is a zero unit; UTF-8: a zero byte.
        {"utf16be comment",
         frame3("COMM", bytes({2}) + "eng" + bytes({0, 0x64, 0, 0, 0, 0x48, 0, 0x69})), "Hi", ""},
        {"utf8 url", frame3("WXXX", "dÃ©" + bytes({0}) + "http://z/"), "", "http://z/"},
        {"short comment frame", frame3("COMM", latin1("en")), "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TID3v2 tag = v3(c.frames);
        EXPECT_EQ(tag.comment, ascii(c.comment));
        EXPECT_EQ(tag.url, ascii(c.url));
    }
    // Without a terminator in the 500 bytes, everything after the language code is kept.
    EXPECT_EQ(id3v2::describedText(latin1("eng" + std::string(496, 'd')), true),
              std::wstring(496, L'd'));
    EXPECT_EQ(id3v2::describedText(bytes({1}) + "eng" + std::string(496, 'd'), true),
              std::wstring(248, L'\u6464'));
}

TEST(ID3v2, OtherTextFields) {
    TID3v2 tag = v3(frame3("TCOM", latin1("Comp")) + frame3("TENC", latin1("Enc")) +
                    frame3("TCOP", latin1("(c)")) + frame3("TLAN", latin1("eng")) +
                    frame3("TALB", latin1("Album")));
    EXPECT_EQ(tag.composer, L"Comp");
    EXPECT_EQ(tag.encoder, L"Enc");
    EXPECT_EQ(tag.copyright, L"(c)");
    EXPECT_EQ(tag.language, L"eng");
    EXPECT_EQ(tag.album, L"Album");
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
        EXPECT_EQ(l.tag.title, ascii(c.title));
        EXPECT_EQ(l.tag.artist, ascii(c.artist));
    }
}

TEST(ID3v2, FrameFlagsAndUnsynchronisation) {
    // FF FE 41 00 written unsynchronised: FF 00 FE 41 00.
    const std::string utf16A = bytes({1, 0xFF, 0, 0xFE, 0x41, 0});
    const std::string big = latin1(std::string(300, '\xFF'));  // 601 bytes once unsynchronised
    const std::string v3body =
        frame3("TXXX", big) + frame3("TIT2", utf16(u"Un")) + frame3("TPE1", latin1("Art\xFF"));
    struct Case {
        const char* name;
        std::string file;
        std::wstring title, artist;
    } cases[] = {
        {"v4 data length indicator",
         id3v2Tag(4,
                  frame4("TIT2", syncsafe(3) + latin1("DL"), 0x01) + frame4("TPE1", latin1("A"))),
         L"DL", L"A"},
        {"v4 group id", id3v2Tag(4, frame4("TIT2", bytes({7}) + utf16(u"G"), 0x40)), L"G", L""},
        {"v4 group id and data length indicator",
         id3v2Tag(4, frame4("TIT2", bytes({7}) + syncsafe(3) + latin1("GD"), 0x41)), L"GD", L""},
        {"v4 flags on a frame too short for their bytes",
         id3v2Tag(4, frame4("TIT2", latin1("Old")) + frame4("TIT2", bytes({0, 0}), 0x01)), L"",
         L""},
        {"v3 group id", id3v2Tag(3, frame3("TIT2", bytes({9}) + utf16(u"G3"), 0x20)), L"G3", L""},
        {"v3 0x01 carries no byte", id3v2Tag(3, frame3("TIT2", latin1("Ok"), 0x01)), L"Ok", L""},
        {"v4 encrypted frame not stored",
         id3v2Tag(4, frame4("TIT2", latin1("Enc"), 0x04) + frame4("TPE1", latin1("A"))), L"", L"A"},
        // Status flags tell an editor what to keep; the data reads as usual.
        {"v3 status flags", id3v2Tag(3, "TIT2" + plain32(3) + bytes({0xE0, 0}) + latin1("St")),
         L"St", L""},
        {"v4 status flags", id3v2Tag(4, "TIT2" + syncsafe(3) + bytes({0x70, 0}) + latin1("St")),
         L"St", L""},
        {"v3 frame flag 0x02 resynchronises nothing",
         id3v2Tag(3, frame3("TIT2", latin1(std::string("\xFF\0!", 3)), 0x02)),
         std::wstring(L"\u00FF\0!", 3), L""},
        {"v3 experimental tag", id3v2Tag(3, frame3("TIT2", latin1("Exp")), 0, 0x20), L"Exp", L""},
        {"v4 unsynchronised frame", id3v2Tag(4, frame4("TIT2", utf16A, 0x02)), L"A", L""},
        {"v4 unsynchronised frame with a data length indicator",
         id3v2Tag(4, frame4("TIT2", syncsafe(5) + utf16A, 0x03)), L"A", L""},
        {"v4 unsynchronised tag: every frame",
         id3v2Tag(4, frame4("TIT2", utf16A) + frame4("TPE1", latin1(std::string("\xFF\0", 2))), 0,
                  0x80),
         L"A", L"\u00FF"},
        {"v4 frame flag 0x02 without the tag flag only for that frame",
         id3v2Tag(4, frame4("TIT2", latin1(std::string("\xFF\0!", 3))) +
                         frame4("TPE1", latin1(std::string("\xFF\0!", 3)), 0x02)),
         std::wstring(L"\u00FF\0!", 3), L"\u00FF!"},
        // Frame sizes count resynchronised bytes; the 601-byte frame is read through.
        {"v3 unsynchronised tag", id3v2Tag(3, unsynchronised(v3body), 0, 0x80), L"Un",
         L"Art\u00FF"},
        {"v2 unsynchronised tag",
         id3v2Tag(2, unsynchronised(frame2("TT2", utf16(u"Two")) + frame2("TP1", latin1("B"))), 10,
                  0x80),
         L"Two", L"B"},
        {"v3 without the flag reads stored bytes", id3v2Tag(3, v3body), L"Un", L"Art\u00FF"},
        {"v3 unsynchronised frame running past the tag",
         id3v2Tag(3,
                  unsynchronised(frame3("TIT2", latin1("T")) + "TXXX" + plain32(5000) +
                                 bytes({0, 0}) + big),
                  0, 0x80) +
             std::string(6000, '\xFF'),
         L"T", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Loaded l = loadBytes(c.file);
        EXPECT_TRUE(l.result);
        EXPECT_EQ(l.tag.title, c.title);
        EXPECT_EQ(l.tag.artist, c.artist);
    }
    EXPECT_EQ(id3v2::resynchronise(bytes({0xFF, 0, 0, 0xFF, 0xFF, 0, 0xE0, 0xFF})),
              bytes({0xFF, 0, 0xFF, 0xFF, 0xE0, 0xFF}));
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
        EXPECT_EQ(l.tag.title, ascii(c.title));
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
        {"footer bit counts in version 3 too",
         id3v2Tag(3, frame3("TIT2", latin1("Foot")), 0, 0x10) + std::string(10, '\0'), true, true,
         3, 35, "Foot"},
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
        EXPECT_EQ(l.tag.title, ascii(c.title));
    }
}

TEST(ID3v2, MissingFileAndHandles) {
    const int before = openFileCount();
    ScratchFolder dir;
    TID3v2 tag;
    tag.title = L"stale";
    EXPECT_FALSE(tag.load(dir.path() + "/missing.mp3"));
    EXPECT_FALSE(tag.found);
    EXPECT_EQ(tag.title, L"");
    EXPECT_FALSE(tag.load(dir.path()));
    // Every path through the walk closes the file again.
    tag.load(dir.write("a.mp3", id3v2Tag(3, frame3("TIT2", latin1("x")))));
    tag.load(dir.write("b.mp3", id3v2Header(3, 100) + "TIT2" + plain32(50)));
    EXPECT_EQ(openFileCount(), before);
}

// Files from public projects' test data; skipped where the folder is absent.
TEST(RealWorldTags, KnownValuesAndNoLeaks) {
    const std::string folder = std::string(NIMBO_TESTDATA_DIR) + "/id3";
    NIMBO_NEEDS(std::filesystem::is_directory(folder), folder);
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
        // UTF-8 frames; TPE1 holds several values, and the first counts.
        {"mm-id3v2.4.mp3", "Home", "Explo", "Home", "Explo"},
        // An ID3v2.4 extended header before the frames.
        {"taglib-extended-header.mp3", "Druids", "Excelsis", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TID3v1 v1;
        TID3v2 v2;
        v1.load(folder + "/" + c.file);
        v2.load(folder + "/" + c.file);
        EXPECT_EQ(v2.title, ascii(c.v2title));
        EXPECT_EQ(v2.artist, ascii(c.v2artist));
        EXPECT_EQ(v1.title, c.v1title);
        EXPECT_EQ(v1.artist, c.v1artist);
    }

    // Frame flags and unsynchronisation.
    struct Flagged {
        const char* file;
        std::wstring title, artist, album, year;
    } flagged[] = {
        // ID3v2.3, whole tag unsynchronised; UTF-16 with a big-endian mark.
        {"mutagen-id3v23_unsynch.id3", L"My babe just cares for me", L"Nina Simone", L"100% Jazz",
         L""},
        {"taglib-unsynch24.id3", L"Hi", L"", L"", L""},  // one unsynchronised ID3v2.4 frame
        // ID3v2.3 unsynchronised with an 8 KB picture; Latin-1 through code page 1252.
        {"id3lib-230-picture.tag", L"Aquarium", L"", L"", L""},
        {"mm-issue-979.mp3", L"Minnie & Me", L"Alexander Hacke", L"Sanctuary", L"2005"},
        // Data length indicators on frames of one and two bytes, then plain frames.
        {"taglib-broken-tenc.id3", L"Take On Me", L"A Ha", L"1985", L"1985"},
        {"mm-id3v2-xheader.mp3", L"title", L"", L"", L""},  // extended header, then a flagged frame
    };
    for (const Flagged& c : flagged) {
        SCOPED_TRACE(c.file);
        TID3v2 v2;
        ASSERT_TRUE(v2.load(folder + "/" + c.file));
        EXPECT_EQ(v2.title, c.title);
        EXPECT_EQ(v2.artist, c.artist);
        EXPECT_EQ(v2.album, c.album);
        EXPECT_EQ(v2.year, c.year);
    }

    TID3v2 tag;
    ASSERT_TRUE(tag.load(folder + "/mutagen-id3v22-test.mp3"));
    EXPECT_EQ(tag.album, L"Hymns for the Exiled");
    EXPECT_EQ(tag.track, 3);
    EXPECT_EQ(tag.trackText, L"3/11");
    EXPECT_EQ(tag.year, L"2004");
    EXPECT_EQ(tag.encoder, L"iTunes v4.6");
    EXPECT_EQ(tag.comment, L"3");  // the last COM frame wins
    ASSERT_TRUE(tag.load(folder + "/mm-id3v2-utf16.mp3"));
    EXPECT_EQ(tag.artist, L"YourEnigma");
    EXPECT_EQ(tag.year, L"2014");
    EXPECT_EQ(tag.comment, L"Visit http://yourenigma.bandcamp.com");
    // ID3v2.4 with COMM frames of 129 bytes (syncsafe 00 00 01 01) before these.
    ASSERT_TRUE(tag.load(folder + "/mm-issue-502.mp3"));
    EXPECT_EQ(tag.album, L"Sorry You Couldn't Make It");
    EXPECT_EQ(tag.year, L"2020");
    EXPECT_EQ(tag.track, 8);
    EXPECT_EQ(tag.comment, L"CLEAN");
    // Declares more tag than the file holds: no frames at all.
    ASSERT_TRUE(tag.load(folder + "/taglib-compressed_id3_frame.mp3"));
    EXPECT_TRUE(tag.found);
    EXPECT_EQ(tag.tagSize, 0);
    EXPECT_EQ(tag.title, L"");
    ASSERT_TRUE(tag.load(folder + "/id3lib-230-picture.tag"));
    EXPECT_EQ(tag.composer, L"Camille Saint-Sa\u00EBns");
    EXPECT_EQ(tag.genre, L"");  // "(32)"
    ASSERT_TRUE(tag.load(folder + "/taglib-broken-tenc.id3"));
    EXPECT_EQ(tag.encoder, L"");
    EXPECT_EQ(tag.copyright, L"");
    EXPECT_EQ(tag.track, 1);
    ASSERT_TRUE(tag.load(folder + "/mutagen-id3v24_extended_header.id3"));
    EXPECT_EQ(tag.comment, L"This is a comment!");
}

namespace {

const std::string kRec = "0b6a7a1c-5d4e-4f3a-9b2c-1d0e9f8a7b6c";
const std::string kRel = "1c7b8b2d-6e5f-4a4b-8c3d-2e1f0a9b8c7d";
const std::string kArt1 = "2d8c9c3e-7f6a-4b5c-9d4e-3f2a1b0c9d8e";
const std::string kArt2 = "3e9dad4f-8a7b-4c6d-8e5f-4a3b2c1d0e9f";
const std::string kGroup = "4faebe5a-9b8c-4d7e-9f6a-5b4c3d2e1f0a";
const std::string kTrk = "5abfcf6b-ac9d-4e8f-8a7b-6c5d4e3f2a1b";
const std::string kWork = "6bc0d07c-bdae-4f9a-9b8c-7d6e5f4a3b2c";

std::string ufid(const std::string& owner, const std::string& id) {
    return owner + bytes({0}) + id;
}
// A TXXX frame's data in encoding 0, 1 (UTF-16 with its mark) or 3 (UTF-8); ASCII texts.
std::string txxx(const std::string& description, const std::string& value, int encoding = 3) {
    if (encoding != 1) return bytes({encoding}) + description + bytes({0}) + value;
    return utf16(std::u16string(description.begin(), description.end())) + bytes({0, 0}) +
           utf16(std::u16string(value.begin(), value.end())).substr(1);
}

// Every frame MusicBrainz's tagger writes, as it writes them: v2.3 in UTF-16 with "/"
// lists, v2.4 in UTF-8 with zero-separated lists, v2.2 with three-letter ids.
std::string picardFrames(int version) {
    const auto frame = [version](const char* id, const char* legacy, const std::string& data) {
        return version == 2   ? frame2(legacy, data)
               : version == 3 ? frame3(id, data)
                              : frame4(id, data);
    };
    const auto user = [&](const std::string& name, const std::string& value) {
        return frame("TXXX", "TXX", txxx("MusicBrainz " + name, value, version == 4 ? 3 : 1));
    };
    return frame("UFID", "UFI", ufid("http://musicbrainz.org", kRec)) +
           user("Artist Id", kArt1 + (version == 4 ? '\0' : '/') + kArt2) + user("Album Id", kRel) +
           user("Release Group Id", kGroup) + user("Release Track Id", kTrk) +
           user("Work Id", kWork) + frame("TSRC", "TRC", latin1("GBAYE0601477")) +
           frame("TRCK", "TRK", latin1("03/12")) + frame("TPOS", "TPA", latin1("2/2")) +
           frame("TPE2", "TP2", latin1("Various Artists"));
}

}  // namespace

TEST(ID3v2, MusicBrainzIdsAndNumbers) {
    const std::string all[] = {kRec, kRel, kArt1 + "," + kArt2, kGroup, kTrk, kWork, "GBAYE0601477",
                               "3",  "2",  "Various Artists"};
    for (const int version : {2, 3, 4}) {
        SCOPED_TRACE(version);
        const TID3v2 tag = loadBytes(id3v2Tag(version, picardFrames(version), 10)).tag;
        for (int i = 0; i < kTrackIdCount; ++i) EXPECT_EQ(tag.ids.texts[i], ascii(all[i])) << i;
    }

    // An ID that is no UUID is left out whole; of a list only its IDs stay, each once;
    // another owner's UFID and a description of another tagger's count for nothing; of
    // two frames for one field the later counts; a list cut at the 500 bytes read keeps
    // the IDs before the cut.
    const std::string longList = kArt1 + "/" + std::string(430, ' ') + "/" + kArt2 + "/" + kArt1;
    const TID3v2 odd =
        v3(frame3("UFID", ufid("http://musicbrainz.org", kRec.substr(0, 35))) +
           frame3("UFID", ufid("http://other.example", kRel)) +
           frame3("TXXX", txxx("MusicBrainz Album Id", kRel + "x")) +
           frame3("TXXX", txxx("MusicBrainz Release Group Id", kRel)) +
           frame3("TXXX", txxx("MusicBrainz Release Group Id", kGroup)) +
           frame3("TXXX", txxx("MusicBrainz Work Id", "not-an-id/" + kWork + "/" + kWork)) +
           frame3("TXXX", txxx("Acoustid Id", kTrk)) +
           frame3("TXXX", txxx("MusicBrainz Artist Id", longList)) + frame3("TRCK", latin1("A1")) +
           frame3("TPOS", latin1("12345")));
    const std::string expected[] = {"", "", kArt1, kGroup, "", kWork, "", "", "", ""};
    for (int i = 0; i < kTrackIdCount; ++i) EXPECT_EQ(odd.ids.texts[i], ascii(expected[i])) << i;
}
