// Included ahead of every C++ file of the Windows build (cmake/windows.cmake). The C++
// runtime normally keeps std::string and std::wstring out of the objects that use them
// and links its own compiled copies instead: on this target GNU ld cannot drop a
// function that has a DWARF unwind entry, so those copies come whole (about 40 KB of
// code and 28 KB of unwind tables). Switched off for these two classes only, the
// members the plugin calls are compiled from the same header code into its objects,
// where the whole-DLL optimisation keeps only what is called.
#pragma once

#include <version>

#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
