// The listen queue's lines: every text comes back whole, and a line torn by a crash or
// foreign to the file is skipped without taking the others with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/listen_queue.h"

using namespace nimbo;

namespace {

std::wstring fields(const QueuedListen& l) {
    return std::to_wstring(l.listenedAt) + L"|" + std::to_wstring(l.lengthSeconds) + L"|" +
           l.artist + L"|" + l.title + L"|" + l.album;
}

std::string summary(const QueueContents& c) {
    std::string out;
    for (const QueuedListen& l : c.listens) out += std::to_string(l.listenedAt) + " ";
    return out + "torn " + std::to_string(c.torn) + " skipped " + std::to_string(c.skipped);
}

}  // namespace

TEST(ListenQueue, TextsComeBackWhole) {
    const QueuedListen cases[] = {
        {1765000000, 215, L"\u0418\u0432\u0430\u043D \"Q\"", L"a\tb\r\nc\nd\re\\", L""},
        {0, -1, L"\\09 \\\\", std::wstring(L"x\0y", 3), {wchar_t(0xD83C), wchar_t(0xDFB5)}},
        {-5, 0x7FFFFFFF, L"v1\t1\t2", L"{NextString}", L"\x1F\x7F"},
    };
    std::string file;
    for (const QueuedListen& c : cases) {
        const std::string line = queueLine(c);
        // One line of seven fields: nothing inside a field splits it.
        EXPECT_EQ(line.find_first_of("\r\n"), line.size() - 1);
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), 6);
        file += line;
    }
    const QueueContents back = readQueue(file);
    ASSERT_EQ(back.listens.size(), 3u) << summary(back);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fields(back.listens[i]), fields(cases[i]));
    // Plain UTF-8 a user can read, escapes only where a field needs them.
    const std::string first = queueLine(cases[0]);
    EXPECT_EQ(first.substr(0, first.size() - 9),
              "v1\t1765000000\t215\t\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \"Q\"\t"
              "a\\09b\\0d\\0ac\\0ad\\0de\\\\\t\t");
    // A lone surrogate is no character: U+FFFD, as in every text the plugin writes.
    const QueueContents lone = readQueue(queueLine({1, 60, L"a", {wchar_t(0xD83C)}, L""}));
    EXPECT_EQ(lone.listens.at(0).title, L"\uFFFD");

    // IDs and a player version make a v2 line that brings every one of them back; a
    // listen without them stays the v1 line above.
    QueuedListen tagged{1765000000, 215, L"A", L"T", L"R"};
    for (int i = 0; i < kTrackIdCount; ++i) tagged.ids.texts[i] = L"id\t" + std::to_wstring(i);
    tagged.playerVersion = L"5.9.2";
    const std::string v2 = queueLine(tagged);
    EXPECT_EQ(v2.substr(0, 3), "v2\t");
    EXPECT_EQ(std::count(v2.begin(), v2.end(), '\t'), 17);
    const QueueContents both = readQueue(first + v2);
    ASSERT_EQ(both.listens.size(), 2u) << summary(both);
    EXPECT_TRUE(both.listens[0].ids.empty());
    for (int i = 0; i < kTrackIdCount; ++i)
        EXPECT_EQ(both.listens[1].ids.texts[i], tagged.ids.texts[i]);
    EXPECT_EQ(both.listens[1].playerVersion, L"5.9.2");
}

TEST(ListenQueue, DamagedLinesAreSkippedAlone) {
    auto line = [](int64_t at) { return queueLine({at, 200, L"Artist", L"Title", L"Album"}); };
    const std::string a = line(1), b = line(2), c = line(3);
    std::string changed = b;
    changed[changed.find("Title")] = 't';  // one byte off: the checksum no longer fits
    const struct {
        const char* name;
        std::string bytes;
        const char* expected;
    } cases[] = {
        {"empty file", "", "torn 0 skipped 0"},
        {"last line cut by a crash", a + b + c.substr(0, c.size() / 2), "1 2 torn 1 skipped 0"},
        {"cut inside the checksum", a + c.substr(0, c.size() - 3), "1 torn 1 skipped 0"},
        {"a whole last line without its LF", a + b.substr(0, b.size() - 1), "1 2 torn 0 skipped 0"},
        {"a damaged last line with its LF", a + changed, "1 torn 1 skipped 0"},
        {"a damaged line inside", a + changed + c, "1 3 torn 0 skipped 1"},
        {"foreign and blank lines", "# notes\n" + a + "v2\tx\n" + c + "\n\n",
         "1 3 torn 0 skipped 2"},
        {"CR LF from an editor",
         a.substr(0, a.size() - 1) + "\r\n" + b.substr(0, b.size() - 1) + "\r\n",
         "1 2 torn 0 skipped 0"},
        {"a torn line glued to the next one", a + b.substr(0, 10) + c + line(4),
         "1 4 torn 0 skipped 1"},
    };
    for (const auto& row : cases)
        EXPECT_EQ(summary(readQueue(row.bytes)), row.expected) << row.name;
}

// A rewrite takes out only what it is asked to: a line of a newer version, a damaged
// line and a torn one stay byte for byte in their places, so a downgrade or a second,
// older Winamp on the same folder loses none of them.
TEST(ListenQueue, RewritesKeepEveryLineTheyCannotRead) {
    auto listen = [](int64_t at) { return QueuedListen{at, 200, L"Artist", L"Title", L""}; };
    const std::string a = queueLine(listen(1)), b = queueLine(listen(2)), c = queueLine(listen(3));
    QueuedListen tagged = listen(1);
    tagged.ids.texts[0] = L"0f4f6a1c-7e9b-4a43-9d63-3a1f6b9a2c11";
    const std::string v2 = queueLine(tagged), v3 = "v3\t1\t200\tArtist\tTitle\t\tnew\t0badcafe\n";
    std::string changed = b;
    changed[changed.find("Title")] = 't';
    const std::string crlf = a.substr(0, a.size() - 1) + "\r\n", torn = c.substr(0, 20);
    const size_t all = kAllListens;
    const struct {
        const char* name;
        std::string bytes;
        int64_t gone;  // the listen taken out; 0: none
        size_t most;
        std::string expected;  // the bytes, then how many were removed and dropped
    } cases[] = {
        {"one listen out, the rest in place", v3 + a + changed + c, 1, all,
         v3 + changed + c + "1 0"},
        {"one line a listen, its own only: IDs and all", v2 + a + a, 1, all, v2 + a + "1 0"},
        {"none out; blank lines go, the last gets its LF", "\n" + crlf + v3 + torn, 2, all,
         crlf + v3 + torn + "\n0 0"},
        {"the bound drops the oldest listens, nothing else", v3 + a + changed + b + crlf + c, 0, 2,
         v3 + changed + crlf + c + "0 2"},
    };
    for (const auto& row : cases) {
        std::vector<QueuedListen> gone;
        if (row.gone) gone.push_back(listen(row.gone));
        const QueueRewrite r = rewriteQueue(row.bytes, gone, row.most);
        EXPECT_EQ(r.bytes + std::to_string(r.removed) + " " + std::to_string(r.dropped),
                  row.expected)
            << row.name;
    }
}
