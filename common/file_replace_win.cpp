#include "common/file_replace.h"

#include <windows.h>

#include "common/unique_handle.h"

namespace nimbo {

namespace {

ReplaceFault gFault = ReplaceFault::None;

// Attributes a replacement takes over.
const DWORD kKeptAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                              FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The most one WriteFile call is given (1 MiB).
constexpr size_t kWriteChunkBytes = 0x100000;

bool writeAll(HANDLE file, const std::string& bytes) {
    size_t size = bytes.size();
    if (gFault == ReplaceFault::WriteStopsHalfway) size /= 2;
    for (size_t done = 0; done < size;) {
        const size_t left = size - done;
        const DWORD want = DWORD(left > kWriteChunkBytes ? kWriteChunkBytes : left);
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, want, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return gFault != ReplaceFault::WriteStopsHalfway;
}

// Everything up to the rename, into the temporary file; the handle is closed on return.
bool writeReplacement(const std::wstring& temp, const std::string& bytes) {
    UniqueHandle file(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (!writeAll(file.get(), bytes)) return false;
    return gFault != ReplaceFault::FlushFails && FlushFileBuffers(file.get());
}

}  // namespace

std::wstring replacementPath(const std::wstring& path) { return path + L".nimbo-new"; }

void injectReplaceFault(ReplaceFault fault) { gFault = fault; }

bool replaceFileContents(const std::wstring& path, const std::string& bytes) {
    // A read-only file is one the user protected: not written at all (a rename on
    // some file systems would replace it regardless).
    const DWORD old = GetFileAttributesW(path.c_str());
    if (old != INVALID_FILE_ATTRIBUTES && (old & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    const std::wstring temp = replacementPath(path);
    // A leftover of a save that was cut off by a crash is only in the way.
    SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temp.c_str());

    bool done = writeReplacement(temp, bytes);
    if (done) {
        if (old != INVALID_FILE_ATTRIBUTES && (old & kKeptAttributes))
            SetFileAttributesW(temp.c_str(), old & kKeptAttributes);
        done = gFault != ReplaceFault::RenameFails &&
               MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (!done) {
        SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(temp.c_str());
    }
    return done;
}

}  // namespace nimbo
