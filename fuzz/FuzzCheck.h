#pragma once
// A broken invariant ends the run the way libFuzzer notices: an abort.

#include <cstdlib>

namespace tarvex::fuzz {

inline void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace tarvex::fuzz
