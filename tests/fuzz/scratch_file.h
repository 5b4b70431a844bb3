// The tag readers read files, so the ID3 fuzzers hand them their input through one
// scratch file per process, removed again when the fuzzer exits.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace fuzz {

inline const std::string& scratchPath() {
    struct ScratchFile {
        std::string path = "/tmp/nimbo-fuzz-" + std::to_string(getpid()) + ".mp3";
        ~ScratchFile() { std::remove(path.c_str()); }
    };
    static const ScratchFile file;
    return file.path;
}

// Writes the input to the scratch file; false when that fails.
inline bool writeScratch(const uint8_t* data, size_t size) {
    FILE* out = std::fopen(scratchPath().c_str(), "wb");
    if (!out) return false;
    bool ok = std::fwrite(data, 1, size, out) == size;
    return std::fclose(out) == 0 && ok;
}

}  // namespace fuzz
