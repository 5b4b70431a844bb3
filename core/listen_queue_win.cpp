// The queue file: appends flushed to the disk, rewrites through a temporary file and
// one rename, and a lock shared by every Winamp that uses the same file.
#include <windows.h>

#include <utility>
#include <vector>

#include "common/file_replace.h"
#include "common/platform.h"
#include "common/unique_handle.h"
#include "common/utf8.h"
#include "core/activity_log.h"
#include "core/listen_queue.h"

namespace nimbo {

namespace {

// Another Winamp holds the file only for a read and a write.
const DWORD kLockWaitMs = 2000;

// A named mutex, so the lock holds across processes; its name comes from the file's
// full path in lower case, as Windows compares paths.
class QueueLock {
  public:
    explicit QueueLock(const std::wstring& path) {
        wchar_t full[MAX_PATH * 2];
        const DWORD units = GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
        const std::wstring name = units && units < MAX_PATH * 2 ? std::wstring(full, units) : path;
        const uint32_t hash = queueChecksum(encodeUtf8(lowerText(name)));
        wchar_t mutexName[40];
        wsprintfW(mutexName, L"Local\\nimbo-listens-%08x", unsigned(hash));
        mutex_ = UniqueHandle(CreateMutexW(nullptr, FALSE, mutexName));
        if (!mutex_) return;
        // An owner that died holding it leaves the file as whole as any crash does.
        const DWORD waited = WaitForSingleObject(mutex_.get(), kLockWaitMs);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        status_ = held_ ? QueueStatus::done : QueueStatus::busy;
    }
    ~QueueLock() {
        if (held_) ReleaseMutex(mutex_.get());
    }
    QueueLock(const QueueLock&) = delete;
    QueueLock& operator=(const QueueLock&) = delete;
    QueueStatus status() const { return status_; }

  private:
    UniqueHandle mutex_;
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

bool rewrite(const std::wstring& path, const std::vector<QueuedListen>& listens, size_t from,
             unsigned long* error = nullptr) {
    std::string bytes;
    for (size_t i = from; i < listens.size(); ++i) bytes += queueLine(listens[i]);
    if (replaceFileContents(path, bytes)) return true;
    // A read-only file is refused before Windows is asked: say so in Windows' terms.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (error) *error = readOnly ? ERROR_FILE_READ_ONLY : GetLastError();
    return false;
}

// The file's bytes and listens, read under the lock (Absent: none).
struct LockedQueue {
    QueueLock lock;
    FileRead read = FileRead::Unreadable;
    std::string bytes;
    QueueContents contents;
    explicit LockedQueue(const std::wstring& path) : lock(path) {
        if (lock.status() != QueueStatus::done) return;
        read = readFileContents(path, bytes);
        if (read == FileRead::Read) contents = readQueue(bytes);
    }
};

bool same(const QueuedListen& a, const QueuedListen& b) {
    return a.listenedAt == b.listenedAt && a.lengthSeconds == b.lengthSeconds &&
           a.artist == b.artist && a.title == b.title && a.album == b.album;
}

}  // namespace

std::wstring listenQueuePath(const wchar_t* fileName) {
    const std::wstring log = activityLogPath();
    return log.empty() ? log : log.substr(0, log.size() - 9) + fileName;
}

QueueStatus appendListen(const std::wstring& path, const QueuedListen& listen, size_t& dropped) {
    dropped = 0;
    try {
        LockedQueue q(path);
        if (q.lock.status() != QueueStatus::done) return q.lock.status();
        std::vector<QueuedListen>& listens = q.contents.listens;
        if (listens.size() >= kMaxQueuedListens) {
            listens.push_back(listen);
            const size_t oldest = listens.size() - kMaxQueuedListens;
            if (!rewrite(path, listens, oldest)) return QueueStatus::failed;
            dropped = oldest;
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
        LockedQueue q(path);
        if (q.lock.status() != QueueStatus::done) return q.lock.status();
        if (q.read != FileRead::Read)
            return q.read == FileRead::Absent ? QueueStatus::done : QueueStatus::failed;
        std::vector<bool> taken(gone.size());  // each listen that went takes out one line
        std::vector<QueuedListen> kept;
        for (const QueuedListen& l : q.contents.listens) {
            size_t i = 0;
            while (i < gone.size() && (taken[i] || !same(gone[i], l))) ++i;
            if (i < gone.size())
                taken[i] = true;
            else
                kept.push_back(l);
        }
        if (kept.size() == q.contents.listens.size()) return QueueStatus::done;
        return rewrite(path, kept, 0, error) ? QueueStatus::done : QueueStatus::failed;
    } catch (...) {
        return QueueStatus::failed;
    }
}

}  // namespace nimbo
