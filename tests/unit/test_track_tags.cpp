// The composer's tag read: artist and title from the ID3v2 tag, the ID3v1 block for
// the gaps, each with the place it came from.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "tag_builders.h"
#include "tags/id3v2.h"
#include "tags/track_tags.h"

using namespace nimbo;
using namespace nimbo::testing;

namespace {

std::wstring wide(const std::string& asciiPath) {
    return std::wstring(asciiPath.begin(), asciiPath.end());
}

}  // namespace

TEST(TrackTags, ArtistAndTitleWithTheirSources) {
    const std::string v1 = id3v1Block("V1 Title", "V1 Artist");
    struct Case {
        const char* name;
        std::string file;
        std::wstring artist, title;
        std::string artistSource, titleSource;
    } cases[] = {
        {"ID3v2.3 both",
         id3v2Tag(3, frame3("TPE1", latin1("Band")) + frame3("TIT2", latin1("Song"))) + v1, L"Band",
         L"Song", "ID3v2 TPE1", "ID3v2 TIT2"},
        {"ID3v2.4 both",
         id3v2Tag(4, frame4("TPE1", utf16(u"B\u00E4nd")) + frame4("TIT2", "\3S\xC3\xB6ng")),
         L"B\u00E4nd", L"S\u00F6ng", "ID3v2 TPE1", "ID3v2 TIT2"},
        {"ID3v2.2 ids",
         id3v2Tag(2, frame2("TP1", latin1("Two")) + frame2("TT2", latin1("Song")), 10), L"Two",
         L"Song", "ID3v2 TP1", "ID3v2 TT2"},
        // The fallback frames are among the few the status reads.
        {"fallback frames",
         id3v2Tag(3, frame3("TOPE", latin1("Orig")) + frame3("TIT1", latin1("Group"))), L"Orig",
         L"Group", "ID3v2 TPE1", "ID3v2 TIT2"},
        {"ID3v1 fills the title gap",
         id3v2Tag(3, frame3("TPE1", latin1("Band"))) + std::string(50, '\xFF') + v1, L"Band",
         L"V1 Title", "ID3v2 TPE1", "ID3v1"},
        {"ID3v1 fills the artist gap", id3v2Tag(3, frame3("TIT2", latin1("Song"))) + v1,
         L"V1 Artist", L"Song", "ID3v1", "ID3v2 TIT2"},
        {"ID3v1 alone", std::string(300, '\xFF') + v1, L"V1 Artist", L"V1 Title", "ID3v1", "ID3v1"},
        {"blank ID3v1 fields stay empty", id3v1Block("   ", ""), L"", L"", "", ""},
        {"no tag", std::string(300, '\xFF'), L"", L"", "", ""},
        {"empty file", "", L"", L"", "", ""},
    };
    ScratchFolder dir;
    const int before = openFileCount();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TrackTags tags = readTrackTags(wide(dir.write("t.mp3", c.file)));
        EXPECT_EQ(tags.artist, c.artist);
        EXPECT_EQ(tags.title, c.title);
        EXPECT_STREQ(tags.artistSource, c.artistSource.c_str());
        EXPECT_STREQ(tags.titleSource, c.titleSource.c_str());
    }
    const TrackTags missing = readTrackTags(wide(dir.path() + "/missing.mp3"));
    EXPECT_EQ(missing.artist, L"");
    EXPECT_STREQ(missing.titleSource, "");
    EXPECT_EQ(openFileCount(), before);
}

TEST(TrackTags, Id3v1BytesAreWidenedThroughTheCodePage) {
    ScratchFolder dir;
    const std::wstring path = wide(dir.write("t.mp3", id3v1Block("\xCF\xF0\xE8", "\xC0\xE1")));
    {
        CodePage page(1251);
        const TrackTags tags = readTrackTags(path);
        EXPECT_EQ(tags.title, L"\u041F\u0440\u0438");
        EXPECT_EQ(tags.artist, L"\u0410\u0431");
    }
    const TrackTags tags = readTrackTags(path);
    EXPECT_EQ(tags.title, L"\u00CF\u00F0\u00E8");
    EXPECT_EQ(tags.artist, L"\u00C0\u00E1");
}

// The status's read decodes only the name frames; a full read decodes every field.
TEST(TrackTags, FieldSelectionReadsOnlyTheNameFrames) {
    ScratchFolder dir;
    const std::string path = dir.write(
        "t.mp3", id3v2Tag(3, frame3("TALB", latin1("Album")) + frame3("TPE1", latin1("Band")) +
                                 frame3("TRCK", latin1("4/9")) + frame3("TIT2", latin1("Song"))));
    for (const bool all : {false, true}) {
        ReadOnlyFile file(path);
        int64_t size = 0;
        ASSERT_TRUE(file.size(size));
        TID3v2 tag;
        ASSERT_TRUE(all ? tag.loadAll(file, size)
                        : tag.load(file, size, TID3v2::Fields::artistAndTitle));
        EXPECT_EQ(tag.artist, L"Band");
        EXPECT_EQ(tag.title, L"Song");
        EXPECT_EQ(tag.album, all ? L"Album" : L"");
        EXPECT_EQ(tag.track, all ? 4 : 0);
    }
}
