// The user's words for states and unknown values, and the length format.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "probe/words.h"

using namespace nimbo;

TEST(LocalWord, DefinitionsInTheMaskReplaceTheDefaults) {
    struct Case {
        const wchar_t* mask;
        const wchar_t* key;
        const char* expected;
    } cases[] = {
        {L"", L"$playing", "playing"},
        {L"$playing=spielt;", L"$playing", "spielt"},
        {L"x $playing = on air ; y", L"$playing", "on air"},
        // The first definition wins.
        {L"$playing=one;$playing=two;", L"$playing", "one"},
        // Incomplete definitions fall back.
        {L"$playing=never ends", L"$playing", "playing"},
        {L"$playing;", L"$playing", "playing"},
        // A word that reads None counts as missing.
        {L"$playing=None;", L"$playing", "playing"},
        // "<br>" gives a CR.
        {L"$playing=on<br>air;", L"$playing", "on\rair"},
        // Keys match exactly, letter case included.
        {L"$PLAYING=loud;", L"$playing", "playing"},
        // "$unknown" is found at the start of "$unknown_artist".
        {L"$unknown_artist=Nobody; $unknown=n/a;", L"$unknown", "Nobody"},
        {L"$unknown=n/a; $unknown_artist=Nobody;", L"$unknown_artist", "Nobody"},
    };
    for (const Case& c : cases) {
        std::string fallback = c.key == std::wstring(L"$playing") ? "playing" : "Unknown";
        EXPECT_EQ(localWord(c.mask, c.key, fallback), c.expected) << c.mask;
    }
}

TEST(LocalWord, NarrowsThroughTheCodePage) {
    setAnsiCodePage(1251);
    EXPECT_EQ(localWord(L"$paused=\u043F\u0430\u0443\u0437\u0430;", L"$paused", "paused"),
              "\xEF\xE0\xF3\xE7\xE0");
    setAnsiCodePage(1252);
    // No equivalent in 1252: the code page's substitute character.
    EXPECT_EQ(localWord(L"$paused=\u043F;", L"$paused", "paused"), "?");
}

TEST(FormatLength, MinutesAndSecondsWithTwoDigitsAtLeast) {
    EXPECT_EQ(formatLength(0), "00:00");
    EXPECT_EQ(formatLength(59), "00:59");
    EXPECT_EQ(formatLength(61), "01:01");
    EXPECT_EQ(formatLength(3600), "60:00");
    EXPECT_EQ(formatLength(6000), "100:00");
}
