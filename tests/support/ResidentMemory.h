#pragma once
// The memory this test process holds, for tests that bound its growth.

#include <fstream>
#include <string>

namespace tarvex::test {

// A sanitizer's shadow memory grows with every byte the process touches:
// there a test checks its answers, the memory only in a normal build.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr bool MEMORY_MEASURED = false;
#else
constexpr bool MEMORY_MEASURED = true;
#endif

// The bytes this process holds now (VmRSS), in KiB.
inline long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

}  // namespace tarvex::test
