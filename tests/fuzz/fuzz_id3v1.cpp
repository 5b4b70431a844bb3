// Feeds arbitrary bytes to the ID3v1 reader through a file, as the player would.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/platform.h"
#include "tags/id3v1.h"

namespace {

// One scratch file per process, removed again when the fuzzer exits.
struct ScratchFile {
    std::string path = "/tmp/nimbo-fuzz-id3v1-" + std::to_string(getpid()) + ".mp3";
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
    nimbo::TID3v1 tag;
    const bool loaded = tag.load(scratchPath());
    if (nimbo::openFileCount() != before) std::abort();  // a handle leaked
    if (loaded != (size >= 128)) std::abort();
    if (tag.title.size() > 30 || tag.artist.size() > 30 || tag.album.size() > 30 ||
        tag.year.size() > 4 || tag.comment.size() > 30)
        std::abort();
    return 0;
}
