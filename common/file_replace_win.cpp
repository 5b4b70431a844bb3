#include "common/file_replace.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <vector>

#include "common/unique_handle.h"

namespace nimbo {

namespace {

FileFault gFault = FileFault::None;
int gReadsBeforeFault = 0;  // reads that still go through before a read fault hits

// Attributes a replacement takes over.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                              FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A backup tool or a scanner lets go within a moment; a longer hold is a failure.
const int kSharingTries = 5;
const DWORD kSharingPauseMs = 200;

// The most one WriteFile call is given (1 MiB).
constexpr size_t kWriteChunkBytes = 0x100000;

bool writeAll(HANDLE file, const std::string& bytes) {
    size_t size = bytes.size();
    if (gFault == FileFault::WriteStopsHalfway) size /= 2;
    for (size_t done = 0; done < size;) {
        const size_t left = size - done;
        const DWORD want = DWORD(left > kWriteChunkBytes ? kWriteChunkBytes : left);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, want, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return gFault != FileFault::WriteStopsHalfway;
}

// Everything up to the rename, into the temporary file; the handle is closed on return.
bool writeReplacement(const std::wstring& temp, const std::string& bytes) {
    UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (!writeAll(file.get(), bytes)) return false;
    return gFault != FileFault::FlushFails && FlushFileBuffers(file.get());
}

// Wine's ReplaceFileW fails (error 267) for a relative path.
std::wstring fullPath(const std::wstring& path) {
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD n = GetFullPathNameW(path.c_str(), DWORD(buffer.size()), buffer.data(), nullptr);
    return n == 0 || n >= buffer.size() ? path : std::wstring(buffer.data(), n);
}

// The replacement takes the old file's name. ReplaceFileW keeps the old file's
// security and encryption where the system offers it; the plain move is the fallback
// (and the way when there is no old file).
bool moveIntoPlace(const std::wstring& temp, const std::wstring& path, bool oldExists) {
    if (gFault == FileFault::RenameFails) return false;
    if (oldExists && ReplaceFileW(fullPath(path).c_str(), fullPath(temp).c_str(), nullptr,
                                  REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    return MoveFileExW(temp.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

}  // namespace

FileRead readFileContents(const std::wstring& path, std::string& bytes, void* stopEvent) {
    bytes.clear();
    const FileFault fault = gReadsBeforeFault > 0 ? (--gReadsBeforeFault, FileFault::None) : gFault;
    if (fault == FileFault::ReadDenied) return FileRead::Unreadable;
    UniqueHandle file;
    for (int tries = 1;; ++tries) {
        file = UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) break;
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileRead::Absent;
        if (error != ERROR_SHARING_VIOLATION || tries == kSharingTries) return FileRead::Unreadable;
        if (!stopEvent)
            Sleep(kSharingPauseMs);
        else if (WaitForSingleObject(stopEvent, kSharingPauseMs) == WAIT_OBJECT_0)
            return FileRead::Unreadable;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) return FileRead::Unreadable;
    std::vector<char> chunk(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), chunk.data(), DWORD(chunk.size()), &got, nullptr))
            return FileRead::Unreadable;
        if (fault == FileFault::ReadStopsEarly) got = 0;
        if (got == 0) break;
        bytes.append(chunk.data(), got);
    }
    // A file that grew meanwhile is whole all the same; one that ends short is not.
    return bytes.size() < uint64_t(size.QuadPart) ? FileRead::Unreadable : FileRead::Read;
}

std::wstring replacementPath(const std::wstring& path, unsigned long process) {
    // Two Winamps saving at once must not write into one temporary file.
    std::wstring id;
    for (DWORD rest = process; rest || id.empty(); rest /= 10)
        id.insert(id.begin(), wchar_t(L'0' + rest % 10));
    return path + L".nimbo-" + id + L".new";
}

std::wstring replacementPath(const std::wstring& path) {
    return replacementPath(path, GetCurrentProcessId());
}

namespace {

// Whether the process `id` may still be saving. Only a process that is known to be
// gone counts as not running: one we may not open (another user's) still runs, and a
// reused id merely keeps the leftover a while longer.
bool mayStillRun(DWORD id) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, id));
    if (!process) return GetLastError() != ERROR_INVALID_PARAMETER;
    return WaitForSingleObject(process.get(), 0) != WAIT_OBJECT_0;
}

// Removes the temporary files of saves beside `path` that a crash cut off: this
// process's own, and those of processes that no longer run.
void removeLeftovers(const std::wstring& path) {
    const size_t nameAt = path.find_last_of(L"\\/") + 1;  // 0 without a folder
    const std::wstring name = path.substr(nameAt);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L".nimbo-*.new").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const wchar_t* dash = wcsrchr(found.cFileName, L'-');
        const unsigned long id = dash ? wcstoul(dash + 1, nullptr, 10) : 0;
        // Exactly the name a save gives: the pattern also matches short names.
        if (_wcsicmp(found.cFileName, replacementPath(name, id).c_str()) != 0) continue;
        if (id != GetCurrentProcessId() && mayStillRun(id)) continue;
        const std::wstring leftover = path.substr(0, nameAt) + found.cFileName;
        SetFileAttributesW(leftover.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(leftover.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

}  // namespace

void injectFileFault(FileFault fault, int afterReads) {
    gFault = fault;
    gReadsBeforeFault = afterReads;
}

bool replaceFileContents(const std::wstring& path, const std::string& bytes) {
    // A read-only file is one the user protected: not written at all (a rename on
    // some file systems would replace it regardless).
    const DWORD old = GetFileAttributesW(path.c_str());
    if (old != INVALID_FILE_ATTRIBUTES &&
        (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    const std::wstring temp = replacementPath(path);
    // Leftovers of saves a crash cut off would pile up beside the file. Without the
    // file, one may hold the only copy of the settings (see below): then only this
    // process's own is in the way.
    if (old != INVALID_FILE_ATTRIBUTES) {
        removeLeftovers(path);
    } else {
        SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temp.c_str());
    }

    bool done = writeReplacement(temp, bytes);
    if (done) {
        // ReplaceFileW does not carry the hidden attribute over under Wine.
        if (old != INVALID_FILE_ATTRIBUTES && (old & kKeptAttributes))
            SetFileAttributesW(temp.c_str(), old & kKeptAttributes);
        done = moveIntoPlace(temp, path, old != INVALID_FILE_ATTRIBUTES);
    }
    // A replace that removed the old file but could not rename the new one leaves the
    // new one as the only copy of the settings: it stays.
    const bool onlyCopy = !done && old != INVALID_FILE_ATTRIBUTES &&
                          GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (!done && !onlyCopy) {
        SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temp.c_str());
    }
    return done;
}

}  // namespace nimbo
