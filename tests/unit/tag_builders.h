// Small helpers that build tag files as bytes and write them to a scratch folder.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "common/platform.h"

namespace nimbo {
namespace testing {

// The ANSI code page `cp` for one scope; the default (1252) comes back after.
struct CodePage {
    explicit CodePage(unsigned cp) { setAnsiCodePage(cp); }
    ~CodePage() { setAnsiCodePage(1252); }
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;
};

// Bytes from a list of values, for binary runs that hold zeros.
inline std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) out.push_back(static_cast<char>(v));
    return out;
}

// A private folder under the system temp folder, removed with everything in it.
class ScratchFolder {
  public:
    ScratchFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "nimbo-tags-XXXXXX").string();
        if (mkdtemp(&pattern[0])) path_ = pattern;
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& path() const { return path_; }

    std::string write(const std::string& name, const std::string& content) const {
        const std::string file = path_ + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::ofstream(file, std::ios::binary)
            .write(content.data(), std::streamsize(content.size()));
        return file;
    }

  private:
    std::string path_;
};

// `text` cut or padded with zero bytes to `width`.
inline std::string field(const std::string& text, size_t width, char pad = '\0') {
    std::string out = text.substr(0, width);
    out.resize(width, pad);
    return out;
}

// A 128-byte ID3v1 block; `comment` is the whole 30-byte field (v1.1 bytes included).
inline std::string id3v1Block(const std::string& title, const std::string& artist,
                              const std::string& album = "", const std::string& year = "",
                              const std::string& comment = "", int genre = 255,
                              const std::string& marker = "TAG") {
    return marker + field(title, 30) + field(artist, 30) + field(album, 30) + field(year, 4) +
           field(comment, 30) + std::string(1, static_cast<char>(genre));
}

inline std::string syncsafe(uint32_t n) {
    return bytes({int(n >> 21) & 0x7F, int(n >> 14) & 0x7F, int(n >> 7) & 0x7F, int(n) & 0x7F});
}

inline std::string plain32(uint32_t n) {
    return bytes({int(n >> 24) & 0xFF, int(n >> 16) & 0xFF, int(n >> 8) & 0xFF, int(n) & 0xFF});
}

// An ID3v2 tag header whose size covers `bodySize` bytes after it.
inline std::string id3v2Header(int version, uint32_t bodySize, int flags = 0) {
    return "ID3" + bytes({version, 0, flags}) + syncsafe(bodySize);
}

// A whole tag: header plus body, optionally padded with zero bytes inside the tag.
inline std::string id3v2Tag(int version, const std::string& body, size_t padding = 0,
                            int flags = 0) {
    return id3v2Header(version, uint32_t(body.size() + padding), flags) + body +
           std::string(padding, '\0');
}

// Version 3 frame: plain 32-bit size and two flag bytes.
inline std::string frame3(const std::string& id, const std::string& data, int flags2 = 0) {
    return id + plain32(uint32_t(data.size())) + bytes({0, flags2}) + data;
}

// Version 4 frame: syncsafe size (ID3v2.4).
inline std::string frame4(const std::string& id, const std::string& data, int flags2 = 0) {
    return id + syncsafe(uint32_t(data.size())) + bytes({0, flags2}) + data;
}

// Version 2 frame: three-byte id and 24-bit size, no flags.
inline std::string frame2(const std::string& id, const std::string& data) {
    const uint32_t n = uint32_t(data.size());
    return id + bytes({int(n >> 16) & 0xFF, int(n >> 8) & 0xFF, int(n) & 0xFF}) + data;
}

// Text frame data in encoding 0 (bytes as given).
inline std::string latin1(const std::string& text) {
    return std::string(1, '\0') + text;
}

// Text frame data in encoding 1: little-endian units, with the FF FE mark when `bom`.
inline std::string utf16(const std::u16string& text, bool bom = true) {
    std::string out(1, '\1');
    if (bom) out += bytes({0xFF, 0xFE});
    for (char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

// Unsynchronisation as a writer applies it: a zero byte after every FF.
inline std::string unsynchronised(const std::string& data) {
    std::string out;
    for (char c : data) {
        out.push_back(c);
        if (c == '\xFF') out.push_back('\0');
    }
    return out;
}

}  // namespace testing
}  // namespace nimbo
