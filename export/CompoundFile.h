#pragma once
// The container of an Excel 97-2003 workbook: a compound file (version 3,
// 512-byte sectors) with one stream, "Workbook".

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tarvex {

constexpr size_t CFB_SECTOR = 512;
// Streams below this size belong in the mini stream; ours is padded up to it.
constexpr size_t CFB_MINI_CUTOFF = 4096;

// How many sectors of each kind a stream of the given size needs.
struct CompoundLayout {
    size_t streamBytes = 0;   // padded to at least CFB_MINI_CUTOFF
    size_t streamSectors = 0;
    size_t fatSectors = 0;
    size_t difatSectors = 0;  // beyond the 109 FAT sectors the header lists
    size_t TotalSectors() const { return streamSectors + 1 + fatSectors + difatSectors; }
};
CompoundLayout PlanCompoundFile(size_t streamBytes);

// Hands the whole file to put, in order, in pieces of any size.
void EmitCompoundFile(const std::vector<uint8_t>& workbookStream,
                      const std::function<void(const uint8_t*, size_t)>& put);

}  // namespace tarvex
