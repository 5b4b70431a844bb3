// The command pipe: a reader thread that hands each stdin line to the UI thread and
// writes the reply lines to stdout.
#pragma once

#include <windows.h>

#include <string>

namespace player {

// Writes one line (UTF-8) to stdout; safe from any thread.
void writeLine(const std::string& line);

// Starts the reader; every line is posted to `target` as `message` (lParam: the
// Command) and answered once the UI thread has finished it. End of input counts
// as "exit".
bool startCommandReader(HWND target, UINT message);

}  // namespace player
