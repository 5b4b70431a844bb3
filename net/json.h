// The little JSON the ListenBrainz side needs: string literals for the request bodies,
// and the few members of a reply. Both are bounded and never throw but for memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace nimbo {

// `text` as a JSON string literal, quotes included, in UTF-8: `"` and `\` escaped,
// U+0001..U+001F as \u00xx, U+0000 dropped (the service refuses it anywhere), a lone
// surrogate as U+FFFD.
std::string jsonString(const std::wstring& text);

// A reply text keeps at most this many units, so a huge `error` makes no huge log line.
constexpr size_t kMaxJsonReplyText = 1024;

// The top-level members of a reply that the plugin uses; each is absent when the reply
// lacks it, gives it another type, or breaks off before it is whole.
struct JsonReply {
    std::optional<long> code;  // an integer within 32 bits, the same in both builds
    std::optional<std::wstring> error;
    std::optional<bool> valid;
    std::optional<std::wstring> userName;  // "user_name"
    std::optional<std::wstring> status;
    bool whole = false;  // the object closed: nothing of it was cut off

    // The service's own error object for a reply of `httpStatus`, {"code":400,"error":"..."}:
    // its code is that status and it says why. A proxy's or a web server's page is not.
    bool isServiceError(int httpStatus) const { return code == httpStatus && error.has_value(); }
    // The service's own word that it took a submission, {"status":"ok"}, and all of it.
    bool isServiceOk() const { return whole && status == std::wstring(L"ok"); }
};

// Other members are passed over; with the top-level object as the first, at most
// kMaxJsonDepth levels of objects and arrays are taken, and deeper is a fault. Broken
// JSON gives what was read before the fault. Linear in the size of `body`.
constexpr int kMaxJsonDepth = 32;
JsonReply readJsonReply(const std::string& body);

}  // namespace nimbo
