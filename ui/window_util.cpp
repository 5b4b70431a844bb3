#include "ui/window_util.h"

namespace nimbo {

int half(int n) {
    int q = n / 2;  // rounds towards zero
    if (n % 2 != 0 && q % 2 != 0) q += n > 0 ? 1 : -1;
    return q;
}

POINT centredOrigin(int width, int height) {
    POINT origin;
    origin.x = half(GetSystemMetrics(SM_CXSCREEN)) - half(width);
    origin.y = half(GetSystemMetrics(SM_CYSCREEN)) - half(height);
    return origin;
}

HINSTANCE moduleInstance() {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&moduleInstance), &module);
    return module;
}

Font makeFont(const wchar_t* face, int height, int weight, bool underline) {
    LOGFONTW lf = {};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    lf.lfUnderline = underline;
    lf.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(lf.lfFaceName, face, LF_FACESIZE);
    return Font(CreateFontIndirectW(&lf));
}

}  // namespace nimbo
