// Replacing a file's contents in one step: the new bytes go to a file beside it,
// are flushed to the disk, and then take the old file's place with a single rename.
// A save that stops anywhere leaves the old file exactly as it was.
#pragma once

#include <string>

namespace nimbo {

// Writes `bytes` as the new contents of `path` (created when absent), keeping the
// old file's attributes. False when any step failed; the old file is then untouched
// and the temporary file is gone. A read-only file is never written (false).
bool replaceFileContents(const std::wstring& path, const std::string& bytes);

// The temporary file's name for `path` (tests look for leftovers).
std::wstring replacementPath(const std::wstring& path);

// Steps a test can make fail, to prove that a failure anywhere keeps the old file.
enum class ReplaceFault {
    None,
    WriteStopsHalfway,  // half the bytes reach the temporary file, then the write fails
    FlushFails,
    RenameFails,
};
void injectReplaceFault(ReplaceFault fault);

}  // namespace nimbo
