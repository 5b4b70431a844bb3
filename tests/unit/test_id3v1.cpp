// The ID3v1 reader: the 128-byte block at the end of the file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "common/platform.h"
#include "tag_builders.h"
#include "tags/id3v1.h"

using namespace nimbo;
using namespace nimbo::testing;

namespace {

void expectCleared(const TID3v1& tag) {
    EXPECT_FALSE(tag.found);
    EXPECT_EQ(tag.version, 1);
    EXPECT_EQ(tag.title, "");
    EXPECT_EQ(tag.artist, "");
    EXPECT_EQ(tag.album, "");
    EXPECT_EQ(tag.year, "");
    EXPECT_EQ(tag.comment, "");
    EXPECT_EQ(tag.track, 0);
    EXPECT_EQ(tag.genreByte, 255);
}

}  // namespace

TEST(ID3v1, VersionTrackAndCommentFromTheLastTwoCommentBytes) {
    const std::string text28 = "comment that fills 28 bytes.";
    ASSERT_EQ(text28.size(), 28u);
    struct Case {
        const char* name;
        std::string last2;  // comment bytes 29 and 30
        int version, track;
        std::string comment;
    } cases[] = {
        {"zero then track", bytes({0x00, 0x05}), 2, 5, text28},
        {"space then track", bytes({0x20, 0x41}), 2, 65, text28},
        {"both zero", bytes({0x00, 0x00}), 1, 0, text28},
        {"letter then zero", bytes({0x41, 0x00}), 1, 0, text28 + "A"},
        {"both spaces", bytes({0x20, 0x20}), 1, 0, text28},
        {"two letters", "xy", 1, 0, text28 + "xy"},
    };
    ScratchFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file =
            dir.write("t.mp3", std::string(300, 'a') +
                                   id3v1Block("T", "A", "Al", "1999", text28 + c.last2, 17));
        TID3v1 tag;
        ASSERT_TRUE(tag.load(file));
        EXPECT_TRUE(tag.found);
        EXPECT_EQ(tag.version, c.version);
        EXPECT_EQ(tag.track, c.track);
        EXPECT_EQ(tag.comment, c.comment);
        EXPECT_EQ(tag.title, "T");
        EXPECT_EQ(tag.artist, "A");
        EXPECT_EQ(tag.album, "Al");
        EXPECT_EQ(tag.year, "1999");
        EXPECT_EQ(tag.genreByte, 17);
    }
}

TEST(ID3v1, TextRuleDropsOnlyTrailingBlanksAndControls) {
    struct Case {
        std::string field;
        std::string expected;
    } cases[] = {
        {"ABC" + std::string(27, '\0'), "ABC"},
        {"AB" + bytes({0}) + "CD" + std::string(25, ' '), std::string("AB\0CD", 5)},
        {std::string(30, ' '), ""},
        {"  lead" + bytes({0x1F, 0x0A, 0x20, 0x00}), "  lead"},
        {std::string(30, 'x'), std::string(30, 'x')},
        {"caf\xE9", "caf\xE9"},  // bytes pass unchanged, no code-page conversion
    };
    ScratchFolder dir;
    for (const Case& c : cases) {
        const std::string file = dir.write("t.mp3", id3v1Block(c.field, c.field, c.field));
        TID3v1 tag;
        ASSERT_TRUE(tag.load(file));
        EXPECT_EQ(tag.title, c.expected);
        EXPECT_EQ(tag.artist, c.expected);
        EXPECT_EQ(tag.album, c.expected);
    }
}

TEST(ID3v1, FilesWithoutATagOrTooShort) {
    const int before = openFileCount();
    ScratchFolder dir;
    struct Case {
        const char* name;
        std::string content;
        bool result;
    } cases[] = {
        {"lower-case marker", id3v1Block("T", "A", "", "", "", 1, "tag"), true},
        {"no marker", std::string(500, 'x'), true},
        {"127 bytes", id3v1Block("T", "A").substr(1), false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TID3v1 tag;
        tag.title = "stale";
        EXPECT_EQ(tag.load(dir.write("t.mp3", c.content)), c.result);
        expectCleared(tag);
    }
    TID3v1 tag;
    EXPECT_FALSE(tag.load(dir.path() + "/missing.mp3"));
    expectCleared(tag);
    EXPECT_FALSE(tag.load(dir.path()));  // a folder is not a file
    EXPECT_EQ(openFileCount(), before);
}

TEST(ID3v1, ExactlyOneBlockIsATag) {
    ScratchFolder dir;
    TID3v1 tag;
    ASSERT_TRUE(tag.load(dir.write("t.mp3", id3v1Block("Only", "Tag", "", "", "", 0))));
    EXPECT_TRUE(tag.found);
    EXPECT_EQ(tag.title, "Only");
    EXPECT_EQ(tag.genreByte, 0);
}

// The tag is the last 128 bytes of the real file, beyond what 32-bit positions reach.
TEST(ID3v1, FileOfMoreThanTwoGigabytes) {
    ScratchFolder dir;
    const std::string file = dir.path() + "/big.mp3";
    const off_t size = (off_t(1) << 31) + 4096;
    {
        int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        const std::string block = id3v1Block("Far", "Away", "", "", "", 3);
        bool made =
            ftruncate(fd, size) == 0 && pwrite(fd, block.data(), block.size(), size - 128) == 128;
        close(fd);
        if (!made) GTEST_SKIP() << "the file system refused a sparse file of 2 GiB";
    }
    TID3v1 tag;
    ASSERT_TRUE(tag.load(file));
    EXPECT_TRUE(tag.found);
    EXPECT_EQ(tag.title, "Far");
    EXPECT_EQ(tag.artist, "Away");
    EXPECT_EQ(tag.genreByte, 3);
}
