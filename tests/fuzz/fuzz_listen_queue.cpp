// The listen queue's reader and rewrite. Any bytes: every listen read is a line of the
// input as the writer spells it, and a rewrite keeps every other line. Listens made
// from the input are written and all read back.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/listen_queue.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const nimbo::QueueContents read = nimbo::readQueue(bytes);
    check(read.torn <= 1);
    for (const nimbo::QueuedListen& l : read.listens) {
        std::string line = nimbo::queueLine(l);
        line.pop_back();  // the last line may lack its LF, any line may end in CR LF
        check(bytes.find(line) != std::string::npos);
    }

    // A rewrite deletes nothing it cannot read: without the listens, every other line
    // is left, each a line of the input.
    const nimbo::QueueRewrite rest = nimbo::rewriteQueue(bytes, read.listens);
    const nimbo::QueueContents left = nimbo::readQueue(rest.bytes);
    check(rest.removed == read.listens.size() && left.listens.empty());
    check(left.torn + left.skipped == read.torn + read.skipped);
    for (size_t at = 0, end; at < rest.bytes.size(); at = end + 1) {
        end = rest.bytes.find('\n', at);
        check(end != std::string::npos &&
              bytes.find(rest.bytes.substr(at, end - at)) != std::string::npos);
    }

    // A listen from each 28 bytes: the times, then 3, 4 and 2 UTF-16 units of text.
    std::vector<nimbo::QueuedListen> made;
    std::string file;
    for (const uint8_t* p = data; p + 28 <= data + size; p += 28) {
        nimbo::QueuedListen l;
        std::memcpy(&l.listenedAt, p, 8);
        l.lengthSeconds = int16_t(p[8] | (p[9] << 8));
        for (int i = 0; i < 9; ++i)
            (i < 3   ? l.artist
             : i < 7 ? l.title
                     : l.album) += wchar_t(p[10 + 2 * i] | (p[11 + 2 * i] << 8));
        made.push_back(l);
        file += nimbo::queueLine(l);
    }
    const nimbo::QueueContents back = nimbo::readQueue(file);
    check(back.listens.size() == made.size() && back.torn == 0 && back.skipped == 0);
    for (size_t i = 0; i < made.size() && i < back.listens.size(); ++i)
        check(nimbo::queueLine(back.listens[i]) == nimbo::queueLine(made[i]));
    return 0;
}
