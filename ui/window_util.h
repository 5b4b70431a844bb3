// Small pieces both of the plugin's windows need: centring by the screen's half,
// fonts by face and height, and the module that owns the window classes.
#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

namespace nimbo {

// Both windows draw their texts in this colour (practically black).
constexpr COLORREF kTextColour = 0x000008;

// n / 2 to the nearest integer, an exact half going to the even neighbour.
int half(int n);

// The top-left corner that centres a window of this outer size on the primary screen.
POINT centredOrigin(int width, int height);

// This module (the DLL, or the test program that links the code in).
HINSTANCE moduleInstance();

struct FontDeleter {
    void operator()(HFONT font) const { DeleteObject(font); }
};
using Font = std::unique_ptr<std::remove_pointer_t<HFONT>, FontDeleter>;

// A font by face and positive (cell) height, DEFAULT_CHARSET.
Font makeFont(const wchar_t* face, int height, int weight, bool underline = false);

}  // namespace nimbo
