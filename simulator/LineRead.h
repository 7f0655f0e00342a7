#pragma once
// Reading the scale's end of the line: what the program sent, waiting at
// most waitMs. A pty nobody holds open reads as nothing, not as an end.

#include <cstddef>
#include <cstdint>

namespace tarvex::sim {

// Bytes read (> 0), 0 when none came, -1 when the line is gone.
long ReadSome(int fd, uint8_t* bytes, size_t size, int waitMs);

}  // namespace tarvex::sim
