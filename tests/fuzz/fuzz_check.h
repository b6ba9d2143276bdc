// What a fuzz target asserts: a broken promise aborts, so that libFuzzer keeps
// the input that broke it.
#pragma once

#include <cstdlib>

namespace fuzzcheck {

inline void check(bool condition) {
  if (!condition)
    std::abort();
}

}  // namespace fuzzcheck
