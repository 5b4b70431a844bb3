// Query 1334: the full wide path of the ini the host uses, handed out as an address
// in the host's memory. By default the winamp.ini beside the exe; an option or a
// command names another path, or makes the stand-in answer 1 like an older host.
#pragma once

#include <windows.h>

#include <string>

#include "tools/player/app.h"

namespace player {

const LPARAM kIniFileQuery = 1334;

LRESULT answerIniQuery();

// The startup option's value ("--ini-file <path>|old"): the argument `index` of the
// wide command line, so a path outside the code page arrives whole.
bool iniFileOption(int index);

// The "inifile [<path>|old]" command: sets the answer, then prints it.
bool cmdIniFile(const std::string& rest, Command& command);

}  // namespace player
