// The plugin record Winamp takes from the single export, and the three entry points.
#pragma once

#include "plugin/record.h"

namespace nimbo {

extern PluginRecord gPluginRecord;

int init();
void config();
void quit();

}  // namespace nimbo
