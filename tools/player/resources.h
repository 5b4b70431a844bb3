// What a leak in the hosted plugin would show in: the process's private memory,
// kernel handles, GDI and USER objects, and windows.
#pragma once

#include <string>

namespace player {

// One line: "resources private <bytes> handles <n> gdi <n> user <n> windows <n>".
std::string describeResources();

}  // namespace player
