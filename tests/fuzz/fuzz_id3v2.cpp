// Feeds arbitrary bytes to the ID3v2 reader through a file, as the player would.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform.h"
#include "tags/id3v2.h"

namespace {

// One scratch file per process, removed again when the fuzzer exits.
struct ScratchFile {
    std::string path = "/tmp/nimbo-fuzz-id3v2-" + std::to_string(getpid()) + ".mp3";
    ~ScratchFile() { std::remove(path.c_str()); }
};

const std::string& scratchPath() {
    static const ScratchFile file;
    return file.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* out = std::fopen(scratchPath().c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);

    const int before = nimbo::openFileCount();
    nimbo::TID3v2 tag;
    const bool loaded = tag.load(scratchPath());
    if (nimbo::openFileCount() != before) std::abort();  // a handle leaked
    if (loaded != (size >= 10)) std::abort();
    // No text can outgrow the 500-byte frame buffer.
    if (tag.title.size() > 500 || tag.artist.size() > 500 || tag.comment.size() > 500 ||
        tag.url.size() > 500 || tag.tagSize < 0 || uint64_t(tag.tagSize) > size)
        std::abort();
    return 0;
}
