#pragma once
// CPU time this process has used, to show that nothing spins.

#include <sys/resource.h>

namespace tarvex::test {

inline double CpuSeconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e6;
}

}  // namespace tarvex::test
