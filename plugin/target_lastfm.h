// Last.fm and the servers that speak its 2.0 interface (Libre.fm, others): the playing
// track and scrobbles, signed with the API account's secret, sent with the session the
// user allowed in the browser.
#pragma once

#include "plugin/target.h"

namespace nimbo {

Target& lastFmTarget();

// The scrobbles waiting in their queue file, for the options window; -1 when it cannot
// be read.
long scrobblesWaiting();

}  // namespace nimbo
