// The plugin's version, as its description in Winamp, the settings window and the
// release package name show it.
#pragma once

#define NIMBO_VERSION "0.276 beta"
