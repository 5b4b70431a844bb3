// Feeds arbitrary bytes to the ID3v2 reader through a file, as the player would.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform.h"
#include "tags/id3v2.h"
#include "tests/fuzz/scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!fuzz::writeScratch(data, size)) return 0;

    const int before = nimbo::openFileCount();
    nimbo::TID3v2 tag;
    const bool loaded = tag.load(fuzz::scratchPath());
    if (nimbo::openFileCount() != before) std::abort();  // a handle leaked
    if (loaded != (size >= 10)) std::abort();
    // No text can outgrow the 500-byte frame buffer.
    if (tag.title.size() > 500 || tag.artist.size() > 500 || tag.comment.size() > 500 ||
        tag.url.size() > 500 || tag.tagSize < 0 || uint64_t(tag.tagSize) > size)
        std::abort();
    // An ID is whole or absent; a number is at most four digits.
    for (const nimbo::TrackId id : {nimbo::TrackId::recording, nimbo::TrackId::release,
                                    nimbo::TrackId::releaseGroup, nimbo::TrackId::track})
        if (!tag.ids[id].empty() && !nimbo::isMbid(tag.ids[id])) std::abort();
    if (tag.ids[nimbo::TrackId::trackNumber].size() > 4 ||
        tag.ids[nimbo::TrackId::artists].size() > 500)
        std::abort();
    return 0;
}
