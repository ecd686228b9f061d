// The fuzz targets' rules: a broken one aborts, so libFuzzer reports it with
// the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void Require(bool holds, const char* rule) {
    if (!holds) {
        std::fprintf(stderr, "broken: %s\n", rule);
        std::abort();
    }
}
