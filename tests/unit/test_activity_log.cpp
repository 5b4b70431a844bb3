// The activity log's lines, secrets kept out, the rotation rule, the last-result line.
#include <gtest/gtest.h>

#include "core/activity_log.h"

using namespace nimbo;

namespace {
LocalTime at(int year, int month, int day, int hour, int minute, int second) {
    LocalTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
}
}  // namespace

TEST(ActivityLog, LinesAreStampedSingleUtf8Lines) {
    const struct {
        LocalTime when;
        const wchar_t* what;
        const char* line;
    } cases[] = {
        {at(2026, 12, 7, 14, 3, 5), L"published: Now playing",
         "2026-12-07 14:03:05 published: Now playing\r\n"},
        {at(2027, 1, 1, 0, 0, 0), L"status cleared at quit",
         "2027-01-01 00:00:00 status cleared at quit\r\n"},
        // A status of several lines stays one log line.
        {at(2026, 12, 7, 9, 5, 0), L"published: one\r\ntwo\nthree",
         "2026-12-07 09:05:00 published: one  two three\r\n"},
        // Cyrillic as UTF-8.
        {at(2026, 12, 7, 9, 5, 0), L"published: \u041F\u0440\u0438",
         "2026-12-07 09:05:00 published: \xD0\x9F\xD1\x80\xD0\xB8\r\n"},
        // A lone half of a surrogate pair becomes U+FFFD, so the file stays valid UTF-8.
        {at(2026, 12, 7, 9, 5, 0), L"x\xD800y", "2026-12-07 09:05:00 x\xEF\xBF\xBDy\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(activityLogLine(c.when, c.what, {}), c.line) << c.line;
}

TEST(ActivityLog, SecretsNeverReachTheLine) {
    const LocalTime when = at(2026, 12, 7, 14, 3, 5);
    const std::wstring cookie = L"remixsid=5f2e8a91c04b", value = L"5f2e8a91c04b";
    const struct {
        const wchar_t* what;
        std::vector<std::wstring> secrets;
        const char* line;
    } cases[] = {
        {L"login rejected for remixsid=5f2e8a91c04b", {value, cookie}, "login rejected for ***"},
        {L"value 5f2e8a91c04b twice 5f2e8a91c04b", {cookie, value}, "value *** twice ***"},
        {L"hash a1b2c3 and pass s3cret!", {L"a1b2c3", L"s3cret!", L""}, "hash *** and pass ***"},
        // An empty secret masks nothing.
        {L"published: a", {L""}, "published: a"},
        // A secret that spans a line break is still masked (masked first).
        {L"pass line\r\nbreak", {L"line\r\nbreak"}, "pass ***"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(activityLogLine(when, c.what, c.secrets),
                  std::string("2026-12-07 14:03:05 ") + c.line + "\r\n");
}

TEST(ActivityLog, RotatesBeforeALineWouldPassTheLimit) {
    const struct {
        uint64_t size;
        size_t line;
        bool rotate;
    } cases[] = {
        {0, 10, false},
        {0, kActivityLogLimit + 1, false},  // an empty file takes even an overlong line
        {kActivityLogLimit - 10, 10, false},
        {kActivityLogLimit - 10, 11, true},
        {kActivityLogLimit, 1, true},
        {kActivityLogLimit * 4, 1, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(activityLogNeedsRotation(c.size, c.line), c.rotate) << c.size << "+" << c.line;
}

TEST(ActivityLog, LastResultLine) {
    EXPECT_EQ(lastResultLine(at(2026, 12, 7, 14, 3, 59), L"published", L""),
              L"Last: published at 14:03");
    EXPECT_EQ(
        lastResultLine(at(2026, 12, 7, 4, 5, 0), L"not published", L"the site did not answer"),
        L"Last: not published at 04:05, the site did not answer");
}
