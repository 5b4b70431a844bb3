// The log file itself and the last result, shared by the timer thread (the tick) and
// Winamp's thread (quit, the settings window).
#include <windows.h>

#include <utility>

#include "common/critical_section.h"
#include "common/platform.h"
#include "core/activity_log.h"

namespace nimbo {

namespace {

struct LogState {
    CriticalSection lock;
    std::wstring lastResult[int(ResultLine::count)];
    std::vector<std::wstring> secrets;
    std::wstring activityHash;
    std::wstring path;  // nimbo.log's
};

LogState gLogState;

LogState& logState() {
    return gLogState;
}

LocalTime localNow() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    LocalTime out;
    out.year = t.wYear;
    out.month = t.wMonth;
    out.day = t.wDay;
    out.hour = t.wHour;
    out.minute = t.wMinute;
    out.second = t.wSecond;
    return out;
}

// Where the next line goes.
enum class LineRoom { Append, StartAnew, None };

// Moves a full log aside. A viewer that holds it without delete sharing stops the
// move: its lines are then copied aside and the log starts anew, so it never passes
// its bound. When the copy fails too (a viewer on nimbo.log.1 as well), the line is
// dropped: starting anew would lose the lines the viewers show.
LineRoom roomForLine(const std::wstring& path, size_t lineBytes) {
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) return LineRoom::Append;
    const uint64_t size = (uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (!activityLogNeedsRotation(size, lineBytes)) return LineRoom::Append;
    const std::wstring older = path + L".1";
    if (MoveFileExW(path.c_str(), older.c_str(), MOVEFILE_REPLACE_EXISTING))
        return LineRoom::Append;
    return CopyFileW(path.c_str(), older.c_str(), FALSE) ? LineRoom::StartAnew : LineRoom::None;
}

void appendLine(const std::wstring& path, const std::string& line) {
    const LineRoom room = roomForLine(path, line.size());
    if (room == LineRoom::None) return;
    const bool anew = room == LineRoom::StartAnew;
    HANDLE file =
        CreateFileW(path.c_str(), anew ? GENERIC_WRITE : FILE_APPEND_DATA,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    anew ? TRUNCATE_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    // A read-only folder or a full disk: the event is simply not kept.
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

std::wstring activityLogPath() {
    try {
        Locked lock(logState().lock);
        return logState().path;
    } catch (...) {
        return std::wstring();
    }
}

void setLogBeside(const std::wstring& iniPath) {
    try {
        const size_t slash = iniPath.find_last_of(L"\\/");
        Locked lock(logState().lock);
        logState().path = slash == std::wstring::npos ? std::wstring()
                                                      : iniPath.substr(0, slash + 1) + L"nimbo.log";
    } catch (...) {
        // Out of memory at init: no log.
    }
}

void logActivity(const std::wstring& what, std::wstring_view outcome, std::wstring_view detail,
                 ResultLine line) {
    try {
        const LocalTime now = localNow();
        Locked lock(logState().lock);
        const std::wstring& path = logState().path;
        std::vector<std::wstring> secrets = logState().secrets;
        secrets.push_back(logState().activityHash);
        const std::string text = activityLogLine(now, what, secrets);
        if (!outcome.empty())
            logState().lastResult[int(line)] = lastResultLine(now, outcome, detail);
        if (!path.empty()) appendLine(path, text);
    } catch (...) {
        // Out of memory while logging: publishing goes on without the line.
    }
}

void setLogSecrets(std::vector<std::wstring> secrets) {
    try {
        Locked lock(logState().lock);
        logState().secrets = std::move(secrets);
    } catch (...) {
        // Out of memory: the texts handed over before stay masked.
    }
}

void setLogActivityHash(const std::string& hash) {
    try {
        const std::wstring wide = widen(hash);
        Locked lock(logState().lock);
        logState().activityHash = wide;
    } catch (...) {
        // Out of memory: the hash handed over before stays masked.
    }
}

std::wstring lastResultText(ResultLine line) {
    try {
        Locked lock(logState().lock);
        return logState().lastResult[int(line)];
    } catch (...) {
        return std::wstring();
    }
}

void resetLastResult() {
    Locked lock(logState().lock);
    for (std::wstring& result : logState().lastResult) result.clear();
}

}  // namespace nimbo
