// A test that lacks what it needs (the service stand-in, the shared test data) skips,
// except in CI (CI=true), where a skip would turn a broken set-up green: it fails there.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#define NIMBO_NEEDS(condition, what)                                           \
    if (!(condition)) {                                                        \
        const char* ci = std::getenv("CI");                                    \
        if (ci && std::strcmp(ci, "true") == 0) FAIL() << "missing: " << what; \
        GTEST_SKIP() << "missing: " << what;                                   \
    }
