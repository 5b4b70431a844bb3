#include "tools/player/model.h"

#include <cstring>

namespace player {

namespace {
// Query ids of the host's WM_USER interface (the lParam).
const LPARAM kIsPlaying = 104;
const LPARAM kOutputTime = 105;
const LPARAM kListPosition = 125;
const LPARAM kInfo = 126;
const LPARAM kEntryFile = 211;
const LPARAM kEntryTitle = 212;
const LPARAM kEntryTitleWide = 213;
const LPARAM kEntryFileWide = 214;
}  // namespace

bool Model::loadCurrent() {
    if (position < 0 || size_t(position) >= playlist.size()) return false;
    const Entry& e = playlist[size_t(position)];
    length = e.length;
    bitrate = e.bitrate;
    sampleRate = e.sampleRate;
    channels = e.channels;
    seek(0);
    return true;
}

int Model::playedMs() const {
    return playedBefore_ + (state == kPlaying ? int(GetTickCount() - playingSince_) : 0);
}

void Model::setState(int newState) {
    seek(playedMs());
    state = newState;
}

void Model::seek(int ms) {
    playedBefore_ = ms;
    playingSince_ = GetTickCount();
}

LRESULT Model::entryText(WPARAM wParam, bool title) {
    // wParam is unsigned: a negative position arrives as a huge one and misses too.
    if (wParam >= playlist.size()) return 0;
    const std::string& text = title ? playlist[wParam].title : playlist[wParam].path;
    size_t n = text.size() < kEntryBufferBytes - 1 ? text.size() : kEntryBufferBytes - 1;
    memcpy(buffer_, text.data(), n);
    buffer_[n] = '\0';
    return reinterpret_cast<LRESULT>(buffer_);
}

LRESULT Model::entryTextWide(WPARAM wParam, bool title) {
    if (wParam >= playlist.size()) return 0;
    const std::wstring& text = title ? playlist[wParam].wideTitle : playlist[wParam].widePath;
    size_t n = text.size() < kEntryBufferUnits - 1 ? text.size() : kEntryBufferUnits - 1;
    memcpy(wideBuffer_, text.data(), n * sizeof(wchar_t));
    wideBuffer_[n] = L'\0';
    return reinterpret_cast<LRESULT>(wideBuffer_);
}

LRESULT Model::answer(WPARAM wParam, LPARAM query) {
    switch (query) {
        case 0:
            return version;
        case kIsPlaying:
            return state;
        case kOutputTime:
            // wParam 0: the playing position in ms (-1 while stopped); 1: the length.
            if (wParam == 1) return length;
            return state == kStopped ? -1 : playedMs();
        case kListPosition:
            return position;
        case kInfo:
            switch (wParam) {
                case 0:
                    return sampleRate;
                case 1:
                    return bitrate;
                case 2:
                    return channels;
                default:
                    return 0;
            }
        case kEntryFile:
            return entryText(wParam, false);
        case kEntryTitle:
            return entryText(wParam, true);
        case kEntryFileWide:
            return wideQueries ? entryTextWide(wParam, false) : 1;
        case kEntryTitleWide:
            return wideQueries ? entryTextWide(wParam, true) : 1;
        case kExtendedFileInfoWide:
            return fileInfo.answer(wParam);
        default:
            return 1;
    }
}

}  // namespace player
