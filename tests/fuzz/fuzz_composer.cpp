// Any status mask against any tag file: the input is a control byte, a mask length and
// that many UTF-16 units, then the file's bytes. The player's values are fixed fakes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/platform.h"
#include "common/text.h"
#include "probe/composer.h"
#include "tests/fuzz/scratch_file.h"

namespace {

bool validUtf16(const std::wstring& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned unit = unsigned(text[i]);
        if (unit >= 0xDC00 && unit < 0xE000) return false;
        if (unit >= 0xD800 && unit < 0xDC00) {
            if (i + 1 >= text.size() || unsigned(text[i + 1]) < 0xDC00 ||
                unsigned(text[i + 1]) >= 0xE000)
                return false;
            ++i;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t control = data[0];
    const size_t units = data[1];
    if (size < 2 + 2 * units) return 0;
    std::wstring mask;
    for (size_t i = 0; i < units; ++i)
        mask.push_back(wchar_t(data[2 + 2 * i] | (data[3 + 2 * i] << 8)));
    const size_t fileAt = 2 + 2 * units;
    if (!fuzz::writeScratch(data + fileAt, size - fileAt)) return 0;

    nimbo::setAnsiCodePage(control & 1 ? 1251 : 1252);
    // Control bit 1: the fixed mask that shows the tags' texts.
    if (control & 2) mask = L"%artist%|%title%";
    nimbo::PlayerValues player;
    player.currentTitle = [] { return std::wstring(L"Band - Song"); };
    player.lengthText = [] { return std::string("03:25"); };
    player.bitrateText = [] { return std::string("192"); };
    player.sampleRateText = [] { return std::string("44"); };
    player.channelsText = [] { return std::string("2"); };
    player.playStateText = [] { return std::string("playing"); };

    const std::string path = fuzz::scratchPath();
    const int before = nimbo::openFileCount();
    const std::wstring status =
        nimbo::composeStatus(mask, std::wstring(path.begin(), path.end()), player);
    if (nimbo::openFileCount() != before) std::abort();  // a handle leaked

    // Without a placeholder and without a mask block the mask is the status.
    if (mask.find(L'%') == std::wstring::npos &&
        !nimbo::extractBetween(mask, L"mask", L"{", L"}") && status != mask)
        std::abort();
    // Tag texts arrive as whole characters: decoding never leaves half a surrogate pair.
    if ((control & 2) && !validUtf16(status)) std::abort();
    return 0;
}
