// The log file itself and the last result, shared by the timer thread (the tick) and
// Winamp's thread (quit, the settings window).
#include <windows.h>

#include "common/critical_section.h"
#include "common/platform.h"
#include "core/activity_log.h"
#include "core/settings.h"
#include "core/state.h"

namespace nimbo {

namespace {

struct LogState {
    CriticalSection lock;
    std::wstring lastResult[2];  // by ResultLine
};

LogState& logState() {
    static LogState s;
    return s;
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

std::vector<std::wstring> currentSecrets() {
    std::vector<std::wstring> secrets;
    readSettings([&](const Settings& s) {
        secrets.push_back(s.AuthPass);
        secrets.push_back(s.Cookie);
        secrets.push_back(s.ListenBrainzToken);
        // The value alone too, should a reply or a message quote it without its name.
        const size_t equals = s.Cookie.find(L'=');
        if (equals != std::wstring::npos) {
            const size_t end = s.Cookie.find(L';', equals);
            secrets.push_back(s.Cookie.substr(
                equals + 1, end == std::wstring::npos ? std::wstring::npos : end - equals - 1));
        }
    });
    secrets.push_back(widen(activityHash));
    return secrets;
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
    const std::wstring ini = iniPath();
    const size_t slash = ini.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    return ini.substr(0, slash + 1) + L"nimbo.log";
}

void logActivity(const std::wstring& what, const std::wstring& outcome, const std::wstring& detail,
                 ResultLine line) {
    try {
        const LocalTime now = localNow();
        const std::string text = activityLogLine(now, what, currentSecrets());
        const std::wstring path = activityLogPath();
        Locked lock(logState().lock);
        if (!outcome.empty())
            logState().lastResult[int(line)] = lastResultLine(now, outcome, detail);
        if (!path.empty()) appendLine(path, text);
    } catch (...) {
        // Out of memory while logging: publishing goes on without the line.
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
