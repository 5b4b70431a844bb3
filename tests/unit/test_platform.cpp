// The platform calls' portable parts.
#include <gtest/gtest.h>

#include "common/platform.h"

using namespace nimbo;

// Windows' system time to seconds since 1970, past the end of 32-bit seconds too.
TEST(UnixSeconds, FromWindowsSystemTime) {
    const struct {
        const char* when;
        uint64_t hundredNs;
        int64_t seconds;
    } cases[] = {
        {"1970-01-01 00:00:00", 116444736000000000u, 0},
        {"2038-01-19 03:14:08, one past 32 bits", 137919572480000000u, 2147483648},
        {"2040-01-01 00:00:00", 138534624000000000u, 2208988800},
        {"2040-01-01 00:00:00.9999999", 138534624009999999u, 2208988800},
    };
    for (const auto& c : cases)
        EXPECT_EQ(unixSecondsFromFileTime(c.hundredNs), c.seconds) << c.when;
}
