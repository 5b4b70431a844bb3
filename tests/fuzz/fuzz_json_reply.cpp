// The reply reader on any bytes: texts within the cap and sound UTF-16 without U+0000.
// The same bytes taken as UTF-16 text go through the string writer and come back as
// written, less the zeros, lone surrogates as U+FFFD, cut to the cap.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "common/utf8.h"
#include "net/json.h"
#include "tests/fuzz/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const nimbo::JsonReply reply =
        nimbo::readJsonReply(std::string(reinterpret_cast<const char*>(data), size));
    for (const auto* text : {&reply.error, &reply.userName, &reply.status}) {
        if (!*text) continue;
        check((*text)->size() <= nimbo::kMaxJsonReplyText &&
              (*text)->find(L'\0') == std::wstring::npos);
        // Sound UTF-16 survives the encoder unchanged.
        check(nimbo::decodeUtf8(nimbo::encodeUtf8(**text), nimbo::Utf8Malformed::replaceEach) ==
              **text);
    }

    std::wstring text, kept;
    for (size_t i = 0; i + 1 < size; i += 2) text.push_back(wchar_t(data[i] | (data[i + 1] << 8)));
    for (wchar_t c : text)
        if (c != L'\0') kept.push_back(c);
    const std::wstring expected = nimbo::leadingUnits(
        nimbo::decodeUtf8(nimbo::encodeUtf8(kept), nimbo::Utf8Malformed::replaceEach),
        nimbo::kMaxJsonReplyText);
    const nimbo::JsonReply back =
        nimbo::readJsonReply("{\"error\":" + nimbo::jsonString(text) + "}");
    check(back.error == expected);
    return 0;
}
