// The Last.fm reply reader on any bytes: texts within the cap and sound UTF-16, codes
// within their bounds. Then the same bytes build replies of both forms whose members
// must read back: an XML error's words (escaped) and a scrobbles reply's codes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/utf8.h"
#include "net/lastfm_reply.h"
#include "tests/fuzz/check.h"

namespace {

void checkText(const std::wstring& text) {
    check(text.size() <= nimbo::kMaxLastFmReplyText);
    check(nimbo::decodeUtf8(nimbo::encodeUtf8(text), nimbo::Utf8Malformed::replaceEach) == text);
}

std::string xmlEscaped(const std::string& bytes) {
    std::string out;
    for (char c : bytes) out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : std::string(1, c);
    return out;
}

// Codes 0..5 from the bytes, at most 50 (a request's scrobbles), in both forms.
void checkScrobbles(const uint8_t* data, size_t size) {
    std::vector<int> codes;
    std::string json = "{\"scrobbles\":{\"scrobble\":[", xml = "<lfm status=\"ok\"><scrobbles>";
    for (size_t i = 0; i < size && i < 50; ++i) {
        codes.push_back(data[i] % 6);
        const std::string code = std::to_string(codes.back());
        json += (i ? "," : "") + std::string("{\"ignoredMessage\":{\"code\":\"") + code + "\"}}";
        xml += "<scrobble><ignoredMessage code=\"" + code + "\">x</ignoredMessage></scrobble>";
    }
    json += "],\"@attr\":{\"accepted\":" + std::to_string(size) + "}}}";
    const nimbo::LastFmReply fromJson = nimbo::readLastFmReply(json);
    const nimbo::LastFmReply fromXml = nimbo::readLastFmReply(xml + "</scrobbles></lfm>");
    check(fromJson.ok && fromJson.ignoredCodes == codes && fromJson.accepted == int(size));
    check(fromXml.ok && fromXml.ignoredCodes == codes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const nimbo::LastFmReply reply = nimbo::readLastFmReply(bytes);
    for (const auto* text : {&reply.message, &reply.token, &reply.sessionKey, &reply.userName})
        checkText(*text);
    check(reply.ignoredCodes.size() <= nimbo::kMaxLastFmScrobbleCodes);
    check(reply.error >= 0 && reply.accepted >= -1 && reply.ignored >= -1);

    const nimbo::LastFmReply error = nimbo::readLastFmReply(
        "<lfm status=\"failed\"><error code=\"29\">" + xmlEscaped(bytes) + "</error></lfm>");
    check(!error.ok && error.error == 29);
    check(error.message ==
          nimbo::leadingUnits(nimbo::decodeUtf8(bytes, nimbo::Utf8Malformed::replaceEach),
                              nimbo::kMaxLastFmReplyText));
    checkScrobbles(data, size);
    return 0;
}
