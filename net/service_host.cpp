// The service host as a build setting: the shipped DLL keeps the default, a test
// build links its own copy of this file with another value.
#include "net/publisher.h"
#include "net/tls.h"

namespace nimbo {
const char kServiceHost[] = NIMBO_SERVICE_HOST;
const char kSecurePort[] = NIMBO_SECURE_PORT;
}  // namespace nimbo
