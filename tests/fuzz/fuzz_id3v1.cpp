// Feeds arbitrary bytes to the ID3v1 reader through a file, as the player would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform.h"
#include "tags/id3v1.h"
#include "tests/fuzz/scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::writeScratch(data, size)) return 0;

    const int before = nimbo::openFileCount();
    nimbo::TID3v1 tag;
    const bool loaded = tag.load(fuzz::scratchPath());
    if (nimbo::openFileCount() != before) std::abort();  // a handle leaked
    if (loaded != (size >= 128)) std::abort();
    if (tag.title.size() > 30 || tag.artist.size() > 30 || tag.album.size() > 30 ||
        tag.year.size() > 4 || tag.comment.size() > 30)
        std::abort();
    return 0;
}
