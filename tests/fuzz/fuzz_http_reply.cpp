// The reply reader fed from a buffer in pieces whose sizes the input chooses. The
// reply must not depend on how the bytes were split, and must respect the bounds;
// the same holds for the bytes read as a proxy's answer to CONNECT.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/http.h"
#include "tests/fuzz/check.h"

namespace {

class PieceSource : public nimbo::ByteSource {
  public:
    PieceSource(const std::string& data, const uint8_t* pattern, size_t patternSize, int endResult)
        : data_(data), pattern_(pattern), patternSize_(patternSize), endResult_(endResult) {}
    int read(char* buffer, int max) override {
        if (pos_ == data_.size()) return endResult_;
        size_t want = patternSize_ ? size_t(pattern_[step_++ % patternSize_]) + 1 : size_t(max);
        size_t n = std::min({want, size_t(max), data_.size() - pos_});
        data_.copy(buffer, n, pos_);
        pos_ += n;
        return int(n);
    }

  private:
    const std::string& data_;
    const uint8_t* pattern_;
    size_t patternSize_;
    int endResult_;
    size_t pos_ = 0, step_ = 0;
};

}  // namespace

// Input: one control byte (bit 0: the source ends with a wait that ran out instead of a close;
// bits 1-3: how many piece sizes follow), the piece sizes, then the reply bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int endResult = (data[0] & 1) ? nimbo::kReadTimedOut : 0;
    const size_t patternSize = std::min(size_t((data[0] >> 1) & 7), size - 1);
    const uint8_t* pattern = data + 1;
    const std::string wire(reinterpret_cast<const char*>(data + 1 + patternSize),
                           size - 1 - patternSize);

    PieceSource pieces(wire, pattern, patternSize, endResult);
    const nimbo::HttpReply split = nimbo::readReply(pieces);
    PieceSource whole(wire, nullptr, 0, endResult);
    const nimbo::HttpReply once = nimbo::readReply(whole);

    check(split.statusCode == once.statusCode);
    check(split.headers == once.headers);
    check(split.body == once.body);
    check(split.end == once.end);
    // Only the source's own end can make a time-out, and it never reports an error.
    check(split.end != nimbo::ReplyEnd::reset);
    if (split.end == nimbo::ReplyEnd::timedOut) check(endResult == nimbo::kReadTimedOut);
    check(split.body.size() <= nimbo::kMaxBodyBytes);
    check(split.headers.size() <= nimbo::kMaxHeaderLines + 1);
    for (const std::string& line : split.headers) check(line.size() <= nimbo::kMaxHeaderLineBytes);
    // The same bytes as a proxy's answer to CONNECT: how they were split makes no
    // difference, and a tunnel is open only after a whole 2xx head.
    PieceSource tunnelPieces(wire, pattern, patternSize, endResult);
    const nimbo::TunnelReply tunnel = nimbo::readTunnelReply(tunnelPieces);
    PieceSource tunnelWhole(wire, nullptr, 0, endResult);
    const nimbo::TunnelReply tunnelOnce = nimbo::readTunnelReply(tunnelWhole);
    check(tunnel.statusCode == tunnelOnce.statusCode && tunnel.end == tunnelOnce.end);
    check(tunnel.end != nimbo::ReplyEnd::reset);
    if (tunnel.open()) check(tunnel.statusCode >= 200 && tunnel.statusCode < 300);
    return 0;
}
