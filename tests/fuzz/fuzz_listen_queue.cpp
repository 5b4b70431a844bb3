// The listen queue's reader. Any bytes: every listen read is a line of the input as the
// writer spells it. Listens made from the input: written and read back, all of them
// come back, and a file cut anywhere loses only the line that was cut.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/listen_queue.h"
#include "tests/fuzz/check.h"

namespace {

// Up to `units` UTF-16 units (two bytes each) from `data`.
std::wstring takeText(const uint8_t*& data, size_t& size, size_t units) {
    std::wstring text;
    for (; units > 0 && size >= 2; --units, data += 2, size -= 2)
        text.push_back(wchar_t(data[0] | (data[1] << 8)));
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const nimbo::QueueContents read = nimbo::readQueue(bytes);
    check(read.torn <= 1);
    for (const nimbo::QueuedListen& l : read.listens) {
        std::string line = nimbo::queueLine(l);
        line.pop_back();  // the last line may lack its LF, any line may end in CR LF
        check(bytes.find(line) != std::string::npos);
    }

    std::vector<nimbo::QueuedListen> made;
    for (const uint8_t* p = data; size >= 10;) {
        nimbo::QueuedListen l;
        std::memcpy(&l.listenedAt, p, 8);
        l.lengthSeconds = int16_t(p[8] | (p[9] << 8));
        p += 10;
        size -= 10;
        l.artist = takeText(p, size, 3);
        l.title = takeText(p, size, 4);
        l.album = takeText(p, size, 2);
        made.push_back(l);
    }
    std::string file;
    std::vector<size_t> ends;
    for (const nimbo::QueuedListen& l : made) ends.push_back((file += nimbo::queueLine(l)).size());
    const nimbo::QueueContents back = nimbo::readQueue(file);
    check(back.listens.size() == made.size() && back.torn == 0 && back.skipped == 0);
    for (size_t i = 0; i < made.size() && i < back.listens.size(); ++i)
        check(nimbo::queueLine(back.listens[i]) == nimbo::queueLine(made[i]));

    // Cut where the input's first byte says: the whole lines before it, and at most the
    // cut one torn.
    if (!file.empty()) {
        const size_t cut = (bytes.empty() ? 0 : uint8_t(bytes[0])) * file.size() / 255;
        size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= cut) ++whole;
        const size_t lineStart = whole ? ends[whole - 1] : 0;
        const bool onlyLfMissing = whole < ends.size() && ends[whole] == cut + 1;
        const nimbo::QueueContents torn = nimbo::readQueue(file.substr(0, cut));
        check(torn.skipped == 0);
        check(torn.listens.size() == whole + (onlyLfMissing ? 1 : 0));
        check(torn.torn == (cut == lineStart || onlyLfMissing ? 0u : 1u));
    }
    return 0;
}
