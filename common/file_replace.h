// A file's contents read whole and replaced in one step: the new bytes go to a file
// beside it, are flushed to the disk, and then take the old file's place with a single
// rename. A save that stops anywhere leaves the old file exactly as it was.
#pragma once

#include <string>

namespace nimbo {

enum class FileRead {
    Read,
    Absent,      // "file not found" or "path not found", nothing else
    Unreadable,  // any other failure, or a read that ended before the file did
};

// The whole file into `bytes`. Opened with read, write and delete sharing, so no other
// program is kept from the file; a sharing violation (another program holds it for a
// moment) is tried again for about a second, unless `stopEvent` (a Win32 event handle,
// or null) is set meanwhile: then at once Unreadable, so quit never waits for it.
FileRead readFileContents(const std::wstring& path, std::string& bytes, void* stopEvent = nullptr);

// Writes `bytes` as the new contents of `path` (created when absent), keeping the
// old file's attributes. False when any step failed; the old file is then untouched
// and the temporary file is gone. A read-only file is never written (false).
bool replaceFileContents(const std::wstring& path, const std::string& bytes);

// The temporary file's name for `path`, unique to this process (tests look for leftovers).
// A save removes those of processes that no longer run, never one of a running process.
std::wstring replacementPath(const std::wstring& path);
// The name a save by process `process` gives it.
std::wstring replacementPath(const std::wstring& path, unsigned long process);

// Steps a test can make fail: a failed read must never pass for a missing file, and a
// failed save must keep the old file.
enum class FileFault {
    None,
    ReadDenied,         // the open fails with "access denied"
    ReadStopsEarly,     // the read ends before the file's end
    WriteStopsHalfway,  // half the bytes reach the temporary file, then the write fails
    FlushFails,
    RenameFails,
};
// A read fault hits only the reads after the first `afterReads` (one read that
// decides, then another that fails).
void injectFileFault(FileFault fault, int afterReads = 0);

}  // namespace nimbo
