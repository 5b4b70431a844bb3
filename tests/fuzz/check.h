// A fuzzer's property: when it does not hold, the run stops with the input that broke it.
#pragma once

#include <cstdlib>

inline void check(bool condition) {
    if (!condition) std::abort();
}
