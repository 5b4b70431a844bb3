// A lane's queue file beside nimbo.log and its log lines, in the DLL.
#include <windows.h>

#include "common/text.h"
#include "core/activity_log.h"
#include "core/listen_lane.h"
#include "core/state.h"

namespace nimbo {

namespace {

// Why the queue file could not take a change, for the log.
std::wstring queueWhy(QueueStatus status, unsigned long error) {
    if (status == QueueStatus::busy) return L"another Winamp held it for more than 2 s";
    if (error == ERROR_FILE_READ_ONLY) return L"the file is read-only";
    wchar_t text[256];
    DWORD units = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, DWORD(error), 0, text, 256, nullptr);
    while (units > 0 && (text[units - 1] == L'\n' || text[units - 1] == L'\r' ||
                         text[units - 1] == L'.' || text[units - 1] == L' '))
        --units;
    const std::wstring code = L"Windows error " + decimalText(int64_t(error));
    return units > 0 ? joined({code, L", ", std::wstring_view(text, units)}) : code;
}

}  // namespace

QueueStatus QueueFileLane::append(const QueuedListen& listen, size_t& dropped) {
    return appendListen(listenQueuePath(fileName_.c_str()), listen, dropped);
}

QueueStatus QueueFileLane::load(QueueContents& contents) {
    return loadListens(listenQueuePath(fileName_.c_str()), contents);
}

QueueStatus QueueFileLane::remove(const std::vector<QueuedListen>& gone, std::wstring& why) {
    unsigned long error = 0;
    const QueueStatus removed = removeListens(listenQueuePath(fileName_.c_str()), gone, &error);
    if (removed != QueueStatus::done) why = queueWhy(removed, error);
    return removed;
}

bool QueueFileLane::claimTurn() {
    return turn_.claim(listenQueuePath(fileName_.c_str()));
}

void QueueFileLane::endTurn() {
    turn_.release();
}

void QueueFileLane::log(const std::wstring& line) {
    logActivity(line);
}

bool QueueFileLane::quitting() const {
    return quitRequested();
}

}  // namespace nimbo
