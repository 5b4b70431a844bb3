// The private-track rule: entries one a line, matched anywhere, letter case ignored.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "core/private_tracks.h"

using namespace nimbo;

TEST(PrivateTracks, EntriesMatchAnywhereWithoutRegardToCase) {
    const struct {
        const wchar_t* words;
        const wchar_t* text;
        bool matches;
    } cases[] = {
        {L"", L"C:\\Music\\anything.mp3", false},
        {L"\r\n  \r\n\t", L"C:\\Music\\anything.mp3", false},
        {L"audiobooks", L"C:\\AudioBooks\\ch01.mp3", true},
        {L"audiobooks", L"C:\\Audio Books\\ch01.mp3", false},
        // One entry a line; blanks around an entry do not count; inner blanks do.
        {L"guilty pleasure\r\n  Lullaby  \r\n", L"Brahms - LULLABY", true},
        {L"guilty pleasure\r\nlullaby", L"My Guilty Pleasure", true},
        {L"guilty pleasure\r\nlullaby", L"My Guilty  Pleasure", false},
        // A lone LF or CR ends a line as well.
        {L"one\ntwo\rthree", L"Track Two", true},
        {L"one\ntwo\rthree", L"THREE", true},
        // Cyrillic letters in either case.
        {L"\u043A\u043E\u043B\u044B\u0431\u0435\u043B\u044C\u043D\u0430\u044F",
         L"\u041A\u041E\u041B\u042B\u0411\u0415\u041B\u042C\u041D\u0410\u042F", true},
        {L"\u0401\u043B\u043A\u0430", L"\u0451\u041B\u041A\u0410 - x", true},
        // Latin-1 letters.
        {L"\u00C9t\u00E9", L"\u00E9T\u00C9 2003", true},
        // An entry longer than the text, or a text that only shares a part.
        {L"symphony", L"symph", false},
        {L"abc", L"", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PrivateTracks(c.words).matches(c.text), c.matches) << "case " << (&c - cases);
}

TEST(PrivateTracks, EmptyOnlyWithoutEntries) {
    EXPECT_TRUE(PrivateTracks(L"").empty());
    EXPECT_TRUE(PrivateTracks(L" \r\n\r\n ").empty());
    EXPECT_FALSE(PrivateTracks(L"\r\nx\r\n").empty());
}
