// Times reading artist and title of every file in a folder, the way the status
// composer asks for them, against the floor (open, read the first 4 KiB and the last
// 128 bytes, close) and, natively where libtag is installed, against TagLib. The
// readers take turns round by round, so all of them see the same machine load.
// Prints figures, not a verdict; the exit code only says whether the run was sane.
//
//   tag_bench DIR [ROUNDS=21]
//
// Lines: "tags_files N", "tags_rounds N", "tags_<reader>_us_per_file X" (median over
// rounds), "tags_<reader>_named N" (files that gave both artist and title), and the
// ratios "tags_taglib_over_nimbo" and "tags_nimbo_over_floor".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef NIMBO_WITH_TAGLIB
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#endif

#include "common/utf8.h"
#include "tags/track_tags.h"

namespace {

struct ArtistTitle {
    std::string artist;
    std::string title;
};

// The adapter: the only place that knows the tag readers' interface, so a change of
// their signatures stops here. The composer's own read for the status: ID3v2 first,
// ID3v1 for what it leaves empty. The folder's paths are ASCII.
ArtistTitle nimboTags(const std::string& path) {
    const nimbo::TrackTags tags = nimbo::readTrackTags(std::wstring(path.begin(), path.end()));
    return {nimbo::encodeUtf8(tags.artist), nimbo::encodeUtf8(tags.title)};
}

// Its heaviest read, a listening service's: album, year and the IDs too.
ArtistTitle nimboListenTags(const std::string& path) {
    const nimbo::TrackTags tags =
        nimbo::readTrackTags(std::wstring(path.begin(), path.end()), true, true);
    return {nimbo::encodeUtf8(tags.artist), nimbo::encodeUtf8(tags.title + tags.ids.texts[0])};
}

// What any tag reader must at least do. The bytes read are summed into the result so
// the reads cannot be dropped as dead.
ArtistTitle floorRead(const std::string& path) {
    static char head[4096];
    static char tail[128];
    size_t got = 0;
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    DWORD n = 0;
    if (ReadFile(file, head, sizeof(head), &n, nullptr)) got += n;
    if (SetFilePointer(file, -128, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
        ReadFile(file, tail, sizeof(tail), &n, nullptr)) {
        got += n;
    }
    CloseHandle(file);
#else
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    ssize_t n = read(fd, head, sizeof(head));
    if (n > 0) got += size_t(n);
    if (lseek(fd, -128, SEEK_END) >= 0 && (n = read(fd, tail, sizeof(tail))) > 0) got += size_t(n);
    close(fd);
#endif
    return {std::string(1, char(got + unsigned(head[0]) + unsigned(tail[0]))), std::string()};
}

#ifdef NIMBO_WITH_TAGLIB
// Debian's libtag as the composer would use it: the MPEG file without audio
// properties, ID3v2 first, ID3v1 for what is missing.
ArtistTitle taglibTags(const std::string& path) {
    TagLib::MPEG::File file(path.c_str(), false);
    ArtistTitle out;
    if (!file.isValid()) return out;
    if (TagLib::ID3v2::Tag* tag = file.ID3v2Tag()) {
        out.artist = tag->artist().to8Bit(true);
        out.title = tag->title().to8Bit(true);
    }
    if (TagLib::ID3v1::Tag* tag = file.ID3v1Tag()) {
        if (out.artist.empty()) out.artist = tag->artist().to8Bit(true);
        if (out.title.empty()) out.title = tag->title().to8Bit(true);
    }
    return out;
}
#endif

struct Reader {
    const char* name;
    ArtistTitle (*read)(const std::string&);
    std::vector<double> usPerFile;  // one figure per timed round
    int named = 0;                  // files with artist and title, last round
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// Every regular file of the folder but the notes beside the samples, in name order.
std::vector<std::string> listFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error) || entry.path().extension() == ".md") continue;
        files.push_back(entry.path().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

int run(const std::string& folder, int rounds) {
    if (!std::filesystem::is_directory(folder)) {
        std::printf("tag_bench: no folder %s, nothing to time\n", folder.c_str());
        return 77;  // the sample files live beside the clone; ctest counts this as skipped
    }
    const std::vector<std::string> files = listFiles(folder);
    if (files.empty()) {
        std::fprintf(stderr, "tag_bench: no files in %s\n", folder.c_str());
        return 1;
    }
    std::vector<Reader> readers = {{"nimbo", nimboTags, {}, 0},
                                   {"floor", floorRead, {}, 0},
                                   {"nimbo_listen", nimboListenTags, {}, 0}};
#ifdef NIMBO_WITH_TAGLIB
    readers.push_back({"taglib", taglibTags, {}, 0});
#endif

    size_t sink = 0;
    // Round 0 is untimed: it brings the files into the cache and the code into memory.
    for (int round = 0; round <= rounds; ++round) {
        for (Reader& reader : readers) {
            int named = 0;
            const auto start = std::chrono::steady_clock::now();
            for (const std::string& file : files) {
                const ArtistTitle tags = reader.read(file);
                sink += tags.artist.size() + tags.title.size();
                if (!tags.artist.empty() && !tags.title.empty()) ++named;
            }
            const std::chrono::duration<double, std::micro> spent =
                std::chrono::steady_clock::now() - start;
            if (round == 0) continue;
            reader.usPerFile.push_back(spent.count() / double(files.size()));
            reader.named = named;
        }
    }

    std::printf("tags_files %u\ntags_rounds %d\n", unsigned(files.size()), rounds);
    double us[4] = {0, 0, 0, 0};
    for (size_t i = 0; i < readers.size(); ++i) {
        us[i] = median(readers[i].usPerFile);
        std::printf("tags_%s_us_per_file %.3f\n", readers[i].name, us[i]);
        if (i != 1) std::printf("tags_%s_named %d\n", readers[i].name, readers[i].named);
    }
    if (readers.size() > 3) {
        std::printf("tags_taglib_over_nimbo %.2f\n", us[3] / us[0]);
        std::printf("tags_taglib_over_nimbo_listen %.2f\n", us[3] / us[2]);
    }
    std::printf("tags_nimbo_over_floor %.2f\n", us[0] / us[1]);
    std::printf("tags_nimbo_listen_over_floor %.2f\n", us[2] / us[1]);
    std::printf("tags_sink %u\n", unsigned(sink & 0xffff));
    std::fflush(stdout);
    // Sane: every reader took time, and ours named at least one file.
    return us[0] > 0 && us[1] > 0 && readers[0].named > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: tag_bench DIR [ROUNDS]\n");
        return 2;
    }
    int rounds = argc == 3 ? std::atoi(argv[2]) : 21;
    if (rounds < 1 || rounds > 10000) {
        std::fprintf(stderr, "tag_bench: ROUNDS must be 1..10000\n");
        return 2;
    }
    try {
        return run(argv[1], rounds);
    } catch (...) {
        std::fprintf(stderr, "tag_bench: failed\n");
        return 1;
    }
}
