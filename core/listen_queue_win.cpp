// The queue file: appends flushed to the disk, rewrites through a temporary file and
// one rename, and a lock shared by every Winamp that uses the same file, wherever it runs.
#include <windows.h>

#include <utility>
#include <vector>

#include "common/file_replace.h"
#include "common/platform.h"
#include "common/unique_handle.h"
#include "common/utf8.h"
#include "core/activity_log.h"
#include "core/listen_queue.h"
#include "core/state.h"

namespace nimbo {

namespace {

// Another Winamp holds the file only for a read and a write.
const DWORD kLockWaitMs = 2000;
const DWORD kLockPollMs = 20;
// The lock file's byte ranges: each read and write of the queue, and a lane's turn.
const DWORD kIoRange = 0;
const DWORD kTurnRange = 1;

HANDLE openLockFile(const std::wstring& path) {
    return CreateFileW((path + L".lock").c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One byte of the lock file at `offset`, taken at once or not at all.
bool lockRange(HANDLE file, DWORD offset) {
    OVERLAPPED range = {};
    range.Offset = offset;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range);
}

void unlockRange(HANDLE file, DWORD offset) {
    OVERLAPPED range = {};
    range.Offset = offset;
    UnlockFileEx(file, 0, 1, 0, &range);
}

bool heldElsewhere(DWORD error) {
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING;
}

// A byte-range lock on a file beside the queue, so it holds across login sessions and
// across PCs that share the folder on a network drive (a named mutex reaches only its
// own session). Not the queue itself: a rewrite replaces it by a rename, which a lock
// on the old file would not survive. Every Winamp opens the lock file with all sharing
// and never removes it. A lock that cannot be had is no lock: the caller touches
// nothing (`failed` when there is no lock file, `busy` when another holds it).
class QueueLock {
  public:
    explicit QueueLock(const std::wstring& path) {
        file_ = UniqueHandle(openLockFile(path));
        if (!file_) return;
        const DWORD start = GetTickCount();
        for (;;) {
            if (lockRange(file_.get(), kIoRange)) {
                held_ = true;
                status_ = QueueStatus::done;
                return;
            }
            if (!heldElsewhere(GetLastError())) return;
            status_ = QueueStatus::busy;
            // Quit waits for no other Winamp.
            if (GetTickCount() - start >= kLockWaitMs ||
                WaitForSingleObject(quitEvent(), kLockPollMs) == WAIT_OBJECT_0)
                return;
        }
    }
    ~QueueLock() {
        if (held_) unlockRange(file_.get(), kIoRange);
    }
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;
    QueueStatus status() const { return status_; }

  private:
    UniqueHandle file_;
    bool held_ = false;
    QueueStatus status_ = QueueStatus::failed;
};

bool appendBytes(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
           written == bytes.size() && FlushFileBuffers(file.get());
}

bool rewrite(const std::wstring& path, const std::string& bytes, unsigned long* error = nullptr) {
    if (replaceFileContents(path, bytes)) return true;
    // A read-only file is refused before Windows is asked: say so in Windows' terms.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (error) *error = readOnly ? ERROR_FILE_READ_ONLY : GetLastError();
    return false;
}

// The file's bytes and (unless `bytesOnly`: a removal works on the bytes alone) its
// listens, read under the lock (Absent: none).
struct LockedQueue {
    QueueLock lock;
    FileRead read = FileRead::Unreadable;
    std::string bytes;
    QueueContents contents;
    explicit LockedQueue(const std::wstring& path, bool bytesOnly = false) : lock(path) {
        if (lock.status() != QueueStatus::done) return;
        read = readFileContents(path, bytes, quitEvent());
        if (read == FileRead::Read && !bytesOnly) contents = readQueue(bytes);
    }
};

}  // namespace

bool QueueTurn::claim(const std::wstring& path) {
    release();
    HANDLE file = openLockFile(path);
    if (file == INVALID_HANDLE_VALUE) return true;
    if (lockRange(file, kTurnRange)) {
        file_ = file;
        return true;
    }
    const bool busy = heldElsewhere(GetLastError());
    CloseHandle(file);
    return !busy;
}

void QueueTurn::release() {
    if (!file_) return;
    unlockRange(file_, kTurnRange);
    CloseHandle(file_);
    file_ = nullptr;
}

std::wstring listenQueuePath(const wchar_t* fileName) {
    const std::wstring log = activityLogPath();
    return log.empty() ? log : log.substr(0, log.size() - 9) + fileName;
}

QueueStatus appendListen(const std::wstring& path, const QueuedListen& listen, size_t& dropped) {
    dropped = 0;
    try {
        LockedQueue q(path);
        if (q.lock.status() != QueueStatus::done) return q.lock.status();
        if (q.contents.listens.size() >= kMaxQueuedListens) {
            const QueueRewrite r = rewriteQueue(q.bytes, {}, kMaxQueuedListens - 1);
            if (!rewrite(path, r.bytes + queueLine(listen))) return QueueStatus::failed;
            dropped = r.dropped;
            return QueueStatus::done;
        }
        // A line a crash cut short must not swallow the new one: it gets its own line
        // (where the end is not known, a blank line does no harm).
        std::string line = queueLine(listen);
        if (q.read == FileRead::Unreadable || (!q.bytes.empty() && q.bytes.back() != '\n'))
            line.insert(line.begin(), '\n');
        return appendBytes(path, line) ? QueueStatus::done : QueueStatus::failed;
    } catch (...) {
        return QueueStatus::failed;
    }
}

QueueStatus loadListens(const std::wstring& path, QueueContents& contents) {
    contents = QueueContents();
    try {
        LockedQueue q(path);
        if (q.lock.status() != QueueStatus::done) return q.lock.status();
        if (q.read == FileRead::Unreadable) return QueueStatus::failed;
        contents = std::move(q.contents);
        return QueueStatus::done;
    } catch (...) {
        return QueueStatus::failed;
    }
}

QueueStatus removeListens(const std::wstring& path, const std::vector<QueuedListen>& gone,
                          unsigned long* error) {
    try {
        LockedQueue q(path, true);
        if (q.lock.status() != QueueStatus::done) return q.lock.status();
        if (q.read != FileRead::Read)
            return q.read == FileRead::Absent ? QueueStatus::done : QueueStatus::failed;
        const QueueRewrite r = rewriteQueue(q.bytes, gone);
        if (r.removed == 0) return QueueStatus::done;
        return rewrite(path, r.bytes, error) ? QueueStatus::done : QueueStatus::failed;
    } catch (...) {
        return QueueStatus::failed;
    }
}

}  // namespace nimbo
