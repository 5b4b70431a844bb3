#include "probe/probe.h"

#include <windows.h>

#include <cstring>
#include <memory>

#include "common/platform.h"
#include "common/utf8.h"
#include "core/settings.h"
#include "core/state.h"
#include "core/winamp_window.h"
#include "probe/composer.h"
#include "probe/words.h"

namespace nimbo {

namespace {

// Winamp's WM_USER queries (the lParam selects, the wParam qualifies).
enum Query : LPARAM {
    kVersion = 0,
    kListPosition = 125,
    kEntryFile = 211,
    kEntryTitle = 212,
    kEntryTitleWide = 213,
    kEntryFileWide = 214,
    kOutputTime = 105,
    kInfo = 126,
    kIsPlaying = 104,
    kExtendedFileInfoWide = 3026,
};

// The wParam of the extended file-info query, laid out as Winamp expects it.
struct ExtendedFileInfoWide {
    const wchar_t* filename;
    const wchar_t* metadata;
    wchar_t* ret;
    size_t retlen;  // in wide characters
};

const size_t kFileInfoUnits = 512;

// One file-info query's block and all its fields point at. Winamp may read and write it
// after the query ran out, so it lives on the heap, and such a block is never freed.
struct FileInfoBlock {
    ExtendedFileInfoWide info;
    std::wstring path, field;
    // Cleared whole: a text written without its terminator ends where it ends.
    wchar_t buffer[kFileInfoUnits] = {};
};

const size_t kNameUnits = 260;

// Set when a query ran out since the tick last asked; only the timer thread probes.
bool gRanOut = false;

// One bounded query. A query that runs out (Winamp hung, or its window went away
// meanwhile) gives false, and the caller's fallback.
bool ask(HWND window, WPARAM wParam, LPARAM query, LRESULT& answer) {
    // Once quit has begun a tick asks nothing more: quit waits for it.
    if (!quitRequested() && askWinamp(window, wParam, query, answer)) return true;
    gRanOut = true;
    return false;
}

// The bytes of the whole characters among the first `bytes` of a text cut without its
// terminator: a double-byte character's first byte alone would read as a character of
// its own. Counted from the start, since a second byte may look like a first one.
size_t wholeCharacters(const char* text, size_t bytes) {
    size_t end = 0;
    for (size_t next; end < bytes; end = next) {
        next = end + (IsDBCSLeadByteEx(CP_ACP, BYTE(text[end])) ? 2 : 1);
        if (next > bytes) break;
    }
    return end;
}

// Winamp's answer to a query it does not know.
const LRESULT kUnknownQuery = 1;

// An entry's text lives in Winamp's memory; Winamp hands out its address. The wide query
// comes first; a Winamp that answers it with 1 does not know it, and the 8-bit query
// then gives the text through the code page. Either way at most 260 units are read.
std::wstring entryText(LPARAM wideQuery, LPARAM narrowQuery) {
    HWND window = winampWindow();
    LRESULT position = 0, address = 0;
    if (!window || !ask(window, 0, kListPosition, position) ||
        !ask(window, WPARAM(position), wideQuery, address))
        return std::wstring();
    if (address != kUnknownQuery) {
        wchar_t buffer[kNameUnits];
        const size_t units =
            readWinampMemory(uintptr_t(address), buffer, sizeof buffer) / sizeof(wchar_t);
        return bufferText(buffer, units);
    }
    if (!ask(window, WPARAM(position), narrowQuery, address)) return std::wstring();
    char buffer[kNameUnits];
    const size_t bytes = readWinampMemory(uintptr_t(address), buffer, sizeof buffer);
    const size_t length = strnlen(buffer, bytes);
    return widen(std::string(buffer, length < bytes ? length : wholeCharacters(buffer, bytes)));
}

std::string numberText(WPARAM which) {
    HWND window = winampWindow();
    LRESULT answer = 0;
    if (!window || !ask(window, which, kInfo, answer)) return "-";
    const int value = int(answer);
    return value < 0 ? localWord(L"$unknown", "Unknown") : std::to_string(value);
}

}  // namespace

bool queryRanOut() {
    const bool ranOut = gRanOut;
    gRanOut = false;
    return ranOut;
}

std::wstring currentFilePath() {
    return entryText(kEntryFileWide, kEntryFile);
}
std::wstring currentTitle() {
    return withoutFolder(entryText(kEntryTitleWide, kEntryTitle));
}

PlayingEntry currentEntry(const std::wstring& lastPath, const std::wstring& lastStreamTitle) {
    std::wstring path = currentFilePath();
    if (!isStream(path)) return resolveEntry(path, std::wstring(), lastPath, lastStreamTitle);
    return resolveEntry(path, entryText(kEntryTitleWide, kEntryTitle), lastPath, lastStreamTitle);
}

std::wstring winampFileInfo(const std::wstring& path, const wchar_t* field) {
    HWND window = winampWindow();
    if (!window || !field) return std::wstring();
    if (quitRequested()) {
        gRanOut = true;
        return std::wstring();
    }
    std::unique_ptr<FileInfoBlock> block(new FileInfoBlock{{}, path, field});
    block->info = {block->path.c_str(), block->field.c_str(), block->buffer, kFileInfoUnits};
    LRESULT ignored = 0;
    switch (askWinampWithBlock(window, &block->info, kExtendedFileInfoWide, ignored)) {
        // A Winamp that predates the query leaves the buffer alone, whatever it answers,
        // so only a text put into the buffer counts.
        case BlockQuery::answered:
            return bufferText(block->buffer, kFileInfoUnits);
        case BlockQuery::ranOut:
            block.release();  // Winamp's now: its late answer still goes there
            gRanOut = true;
            return std::wstring();
        case BlockQuery::notSent:
            break;
    }
    return std::wstring();
}

// Asked until Winamp answers, then kept: it does not change while it runs. Only the
// timer thread asks.
std::wstring gWinampVersion;

std::wstring winampVersion() {
    HWND window = winampWindow();
    LRESULT answer = 0;
    if (!gWinampVersion.empty() || !window || !ask(window, 0, kVersion, answer))
        return gWinampVersion;
    // 0x5092 is 5.9.2: the major version, then the two digits of the low byte. A window
    // that answers below 0x1000 does not know the query.
    const unsigned v = unsigned(answer);
    if (v < 0x1000 || v > 0xFFFF) return gWinampVersion;
    const wchar_t* const hex = L"0123456789abcdef";
    const wchar_t digits[] = {hex[v >> 12], L'.', hex[(v >> 4) & 15], L'.', hex[v & 15], L'\0'};
    return gWinampVersion = digits;
}

std::string lengthText() {
    HWND window = winampWindow();
    LRESULT answer = 0;
    if (!window || !ask(window, 1, kOutputTime, answer)) return "--:--";
    const int seconds = int(answer);
    return seconds < 0 ? localWord(L"$unknown", "Unknown") : formatLength(seconds);
}

std::string bitrateText() {
    return numberText(1);
}
std::string sampleRateText() {
    return numberText(0);
}
std::string channelsText() {
    return numberText(2);
}

// Winamp's last answer to the playback-state query (-1: none), for the listen rule.
// The timer thread alone asks and reads it.
int gPlayCode = -1;

int lastPlayCode() {
    return gPlayCode;
}

int lengthSeconds() {
    HWND window = winampWindow();
    LRESULT answer = 0;
    if (!window || !ask(window, 1, kOutputTime, answer)) return -1;
    return int(answer) < 0 ? -1 : int(answer);
}

int positionMs() {
    HWND window = winampWindow();
    LRESULT answer = 0;
    if (!window || !ask(window, 0, kOutputTime, answer)) return -1;
    return int(answer) < 0 ? -1 : int(answer);
}

std::string playStateText() {
    HWND window = winampWindow();
    LRESULT answer = 0;
    gPlayCode = -1;
    if (!window || !ask(window, 1, kIsPlaying, answer)) return "-";
    gPlayCode = int(answer);
    switch (int(answer)) {
        case 0:
            return localWord(L"$stopped", "stopped");
        case 1:
            return localWord(L"$playing", "playing");
        case 3:
            return localWord(L"$paused", "paused");
        default:
            return "-";
    }
}

std::string localWord(const std::wstring& key, const std::string& fallback) {
    std::string word;
    readSettings([&](const Settings& s) { word = localWord(s.StatusMask, key, fallback); });
    return word;
}

std::wstring composeCurrentStatus(const std::wstring& filePath, const std::wstring& streamTitle,
                                  TrackNames* names, TrackFields* fields) {
    PlayerValues player{currentTitle, lengthText,    bitrateText,   sampleRateText,
                        channelsText, playStateText, winampFileInfo};
    if (isStream(filePath)) player.currentTitle = [&] { return streamTitle; };
    std::wstring status =
        composeStatus(currentSettings().StatusMask, filePath, player, nullptr, names, fields);
    if (fields) fields->playerVersion = winampVersion();
    return status;
}

}  // namespace nimbo
