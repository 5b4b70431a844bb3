// Setting and clearing the user's activity (the profile status) on the service.
// Each step reports its outcome and shows no window; the update cycle tells the user.
#pragma once

#include <string>

#include "net/http_client.h"
#include "net/outcome.h"

namespace nimbo {

// The service's host name; every request URL is this followed by a path.
extern const char kServiceHost[];

// Fills activityHash from the profile page, or clears it: done (the hash may still be
// empty when the page holds an empty one), noConnection, loggedOut or noHash.
Outcome fetchActivityHash();
// Publishes the status text (nothing for an empty one); an empty reply renews the hash
// once, and a renewal that fails gives the fetch's outcome. Otherwise done or
// noConnection; done tells how the last reply ended.
Outcome setActivity(const std::wstring& statusText);
// The clear-activity request: at quit with the quit limits, from the tick with the
// tick's (ended by quit).
Outcome clearActivity(const ExchangeLimits& limits = kQuitExchange);

}  // namespace nimbo
