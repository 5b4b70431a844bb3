// The ini byte editor: values read and written as the platform's reader sees them,
// every other byte of the file kept.
#include <gtest/gtest.h>

#include "core/ini_text.h"

using namespace nimbo;

TEST(IniText, ReadsTheFirstKeyOfTheFirstSectionAsThePlatformDoes) {
    const std::string file =
        "; comment\r\n[Winamp]\r\nproxy = p:1 \r\n[gen_nimbo]\r\n  cookie =  a=b; c \r\n"
        "Quoted=\"  x "
        "\"\r\nHalf=\"x\r\nBare\r\nCookie=second\r\n\r\n[Gen_Nimbo]\r\nAuthPass=late\r\n"
        "[Other]\nLF=only\nStatusMask=elsewhere\n[\xC0x]\nK=v";
    struct Case {
        const char* section;
        const char* key;
        bool found;
        const char* value;
    } cases[] = {
        {"Gen_Nimbo", "Cookie", true, "a=b; c"},
        {"Gen_Nimbo", "Quoted", true, "  x "},
        {"Gen_Nimbo", "Half", true, "\"x"},
        {"Gen_Nimbo", "Bare", false, ""},      // no "=": no value
        {"Gen_Nimbo", "AuthPass", false, ""},  // only the first section of a name counts
        {"Gen_Nimbo", "StatusMask", false, ""},
        {"WINAMP", "Proxy", true, "p:1"},
        {"Other", "LF", true, "only"},
        {"Other", "StatusMask", true, "elsewhere"},
        {"Missing", "Cookie", false, ""},
        // Only ASCII letters fold: 0xC0 and 0xE0 (a letter pair in code page 1251) differ.
        {"\xC0X", "k", true, "v"},
        {"\xE0x", "K", false, ""},
    };
    for (const Case& c : cases) {
        std::string value = "untouched";
        EXPECT_EQ(readIniValue(file, c.section, c.key, value), c.found) << c.key;
        if (c.found) EXPECT_EQ(value, c.value) << c.key;
        // A key found means its section stands in the file.
        if (c.found) EXPECT_TRUE(hasIniSection(file, c.section)) << c.section;
    }
    EXPECT_TRUE(hasIniSection(file, "GEN_NIMBO"));
    EXPECT_FALSE(hasIniSection(file, "Missing"));
    EXPECT_FALSE(hasIniSection(file, "Gen_Nimbo2"));
    // A line that merely mentions the name in a value is no header.
    EXPECT_FALSE(hasIniSection("[Winamp]\r\nx=[Gen_Nimbo]\r\n", "Gen_Nimbo"));
    EXPECT_TRUE(hasIniSection("  [ Gen_Nimbo ]", "Gen_Nimbo"));
}

TEST(IniText, WritesInPlaceAndKeepsEveryOtherByte) {
    struct Case {
        const char* before;
        const char* key;
        const char* value;
        const char* after;
    } cases[] = {
        {"", "Enabled", "1", "[Gen_Nimbo]\r\nEnabled=1\r\n"},
        {"[Winamp]\r\nproxy=x", "Enabled", "1",
         "[Winamp]\r\nproxy=x\r\n[Gen_Nimbo]\r\nEnabled=1\r\n"},
        {"[gen_nimbo]\r\n cookie = old \r\nNoLogin=0\r\n", "Cookie", "\xE2\x82\xAC",
         "[gen_nimbo]\r\nCookie=\xE2\x82\xAC\r\nNoLogin=0\r\n"},
        // A new key goes after the section's last entry, before blank lines.
        {"[Gen_Nimbo]\nA=1\n\n[Winamp]\nB=2\n", "Cookie", "c",
         "[Gen_Nimbo]\nA=1\nCookie=c\r\n\n[Winamp]\nB=2\n"},
        {"[Gen_Nimbo]\r\nA=1", "Cookie", "c", "[Gen_Nimbo]\r\nA=1\r\nCookie=c\r\n"},
        {"[Gen_Nimbo]\r\n", "Cookie", "", "[Gen_Nimbo]\r\nCookie=\r\n"},
    };
    for (const Case& c : cases) {
        const std::string after = writeIniValue(c.before, "Gen_Nimbo", c.key, c.value);
        EXPECT_EQ(after, c.after) << c.before;
        std::string value;
        EXPECT_TRUE(readIniValue(after, "Gen_Nimbo", c.key, value));
        EXPECT_EQ(value, c.value);
    }
    // Bytes that are no text in a double-byte code page go through untouched.
    const std::string raw = "\x81\x7F\xE3\x81\x82\xF0\x9F\x8E\xB5\xFF";
    std::string value;
    EXPECT_TRUE(readIniValue(writeIniValue("", "S", "K", raw), "S", "K", value));
    EXPECT_EQ(value, raw);
    EXPECT_TRUE(isUtf16Text("\xFF\xFE[\0"));
    EXPECT_FALSE(isUtf16Text("[Gen_Nimbo]"));
}
