// The activity log: one line per publish, clear, login and failure, in "nimbo.log"
// beside the ini the plugin uses, so a failure the user did not see can be read later.
// The line rules are portable (tested natively); the file is written by the Win32 part.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nimbo {

// A line that would take the file past this size first moves it to "nimbo.log.1".
constexpr uint64_t kActivityLogLimit = 256 * 1024;

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// "2026-12-07 14:03:05 " + what + CR LF, as UTF-8. Line breaks inside `what` become
// spaces, so one event is one line; every non-empty secret found in it (password,
// cookie value, activity hash) is replaced by "***".
std::string activityLogLine(const LocalTime& when, const std::wstring& what,
                            const std::vector<std::wstring>& secrets);

// Whether a log of `currentSize` bytes is moved aside before `lineBytes` more go in.
// An empty file is never moved, so a single overlong line still gets written.
bool activityLogNeedsRotation(uint64_t currentSize, size_t lineBytes);

// The settings window's line about the last result: "Last: " + outcome + " at HH:MM",
// then ", " + detail when there is one.
std::wstring lastResultLine(const LocalTime& when, std::wstring_view outcome,
                            std::wstring_view detail);

// Win32 only, below.

// "nimbo.log" in the folder of the ini the settings were loaded from, which the settings
// store names through setLogBeside when it loads them; empty before.
std::wstring activityLogPath();
void setLogBeside(const std::wstring& iniPath);

// Each target's last result has a line of its own: the site's in the settings window,
// the first account of each listening service in the options window; the further
// accounts' lines follow in account order (listenBrainz + 2 is the third account's).
enum class ResultLine {
    site,
    listenBrainz,
    lastFm,
    listenBrainzMore,
    lastFmMore = listenBrainzMore + 3,
    count = lastFmMore + 3
};

// The texts no line may show (passwords, cookies, tokens), handed over by whoever keeps
// them each time they change (the settings store), so the log reads no settings and a
// new secret needs no edit here. Replaces the texts handed over before.
void setLogSecrets(std::vector<std::wstring> secrets);

// The site's activity hash, handed over by the exchange that learnt it: the log masks
// it without reading the site's state, which its worker writes while others log.
void setLogActivityHash(const std::string& hash);

// Appends one line with the local time and makes `outcome`/`detail` the last result
// of `line` (when `outcome` is not empty). The secrets handed over and the activity
// hash are masked. Never throws; a log that cannot be written is skipped silently.
void logActivity(const std::wstring& what, std::wstring_view outcome = {},
                 std::wstring_view detail = {}, ResultLine line = ResultLine::site);

// The last result as its window shows it; empty before the first one.
std::wstring lastResultText(ResultLine line = ResultLine::site);

// Forgets the last result (init).
void resetLastResult();

}  // namespace nimbo
