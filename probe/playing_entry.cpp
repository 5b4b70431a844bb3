#include "probe/playing_entry.h"

namespace nimbo {

bool isStream(const std::wstring& path) {
    return path.find(L"://") != std::wstring::npos;
}

bool isPassingNote(const std::wstring& title) {
    return !title.empty() && title[0] == L'[' && title.find(L']') != std::wstring::npos;
}

PlayingEntry resolveEntry(const std::wstring& path, const std::wstring& title,
                          const std::wstring& lastPath, const std::wstring& lastStreamTitle) {
    PlayingEntry entry;
    entry.path = path;
    if (!isStream(path)) return entry;
    if (!isPassingNote(title)) {
        entry.streamTitle = title;
    } else if (path == lastPath && !lastStreamTitle.empty()) {
        entry.streamTitle = lastStreamTitle;
    } else {
        entry.waiting = true;
    }
    return entry;
}

}  // namespace nimbo
