// Included ahead of every C++ file of the Windows build (cmake/windows.cmake). The C++
// runtime normally keeps std::string and std::wstring out of the objects that use them
// and links its own copies of all their members: about 40 KB of code plus 28 KB of
// unwind tables, each member whole. Switched off for these two classes only, the
// members the plugin calls are compiled with it, sized and inlined by the whole-DLL
// optimisation, and the rest is never emitted. The code is the same header code the
// runtime's copies were built from.
#pragma once

#include <version>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
