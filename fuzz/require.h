// A broken invariant in a fuzz target: say which, then abort so that libFuzzer keeps the input.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#define REQUIRE(condition)                                                                     \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            fprintf(stderr, "invariant broken: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            abort();                                                                           \
        }                                                                                      \
    } while (0)
