// Included ahead of every C++ file of the Windows build (cmake/windows.cmake), before any
// Windows header. Windows' functions never throw C++ exceptions, but the compiler cannot
// know that of a function it only sees declared, so every caller would carry unwind
// tables for an exception that cannot come. Declared as not throwing, the callers that
// call nothing else that may throw need none (2 KB less in the DLL).
#pragma once

#define DECLSPEC_IMPORT __declspec(dllimport) __attribute__((nothrow))
