// The host's extended file-info query (WM_USER, lParam 3026): the plugin hands over, in
// the wParam, the address of four fields in its own memory (the host loads it), and the
// host writes the field's text into the plugin's buffer.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace player {

const LPARAM kExtendedFileInfoWide = 3026;

struct ExtendedFileInfoWide {
    const wchar_t* filename;
    const wchar_t* metadata;  // "artist", "title", "album", "year", ...
    wchar_t* ret;
    size_t retlen;  // wide characters
};

// "tags": answers from the entry's tag table (the default); "none": answers 1 and leaves
// the buffer alone, like a host that predates the query; "unterminated": fills the whole
// buffer with the text repeated and no terminating zero, like a careless input plugin;
// "slow": answers as "tags" only after slowMs (past the caller's bound), like a host
// reading tags from a disk spinning up, and first checks that the block it was handed
// is still the query's: its fields as they came and its buffer still all zeros.
enum class FileInfoMode { tags, none, unterminated, slow };

struct FileInfo {
    FileInfoMode mode = FileInfoMode::tags;
    // Per entry path (as given to "add"): field name in lower case -> text.
    std::map<std::wstring, std::map<std::wstring, std::wstring>> tables;
    // Every query seen, as "field\tpath" (UTF-16), until "infoqueries" takes them.
    std::vector<std::wstring> asked;
    // Mode "slow": how long each query waits, and every query whose block the caller
    // changed meanwhile, as "field\tpath" (it got no answer written).
    DWORD slowMs = 2500;
    std::vector<std::wstring> reused;

    // The answer to one query: 1 when a text was written (or in mode "none"), 0 when
    // the entry or the field has no text (the buffer is left alone then).
    LRESULT answer(WPARAM wParam);
};

}  // namespace player
