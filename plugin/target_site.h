// The social network's profile status: login or cookie, the activity hash, set and
// clear activity, with its message boxes.
#pragma once

#include "plugin/target.h"

namespace nimbo {

Target& siteTarget();

}  // namespace nimbo
