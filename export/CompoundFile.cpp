#include "export/CompoundFile.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace tarvex {
namespace {

constexpr uint32_t FREESECT = 0xFFFFFFFF;
constexpr uint32_t ENDOFCHAIN = 0xFFFFFFFE;
constexpr uint32_t FATSECT = 0xFFFFFFFD;
constexpr uint32_t DIFSECT = 0xFFFFFFFC;
constexpr uint32_t NOSTREAM = 0xFFFFFFFF;
constexpr size_t ENTRIES_PER_SECTOR = CFB_SECTOR / 4;           // 128 sector numbers
constexpr size_t HEADER_DIFAT = 109;                             // FAT sectors the header lists
constexpr size_t DIFAT_PER_SECTOR = ENTRIES_PER_SECTOR - 1;      // the last slot chains on

size_t DivideUp(size_t a, size_t b) { return (a + b - 1) / b; }

using Sector = std::array<uint8_t, CFB_SECTOR>;

void Put16(uint8_t* at, uint16_t v) {
    at[0] = static_cast<uint8_t>(v);
    at[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A directory entry of 128 bytes; an unused one keeps only its "no link" marks.
void PutEntry(uint8_t* at, const char16_t* name, uint8_t type, uint32_t child, uint32_t start, uint32_t size) {
    size_t units = 0;
    if (name) {
        for (; name[units]; ++units) Put16(at + 2 * units, static_cast<uint16_t>(name[units]));
        Put16(at + 64, static_cast<uint16_t>((units + 1) * 2));  // with its terminating zero
        at[66] = type;
        at[67] = 1;  // black
    }
    Put32(at + 68, NOSTREAM);  // left sibling
    Put32(at + 72, NOSTREAM);  // right sibling
    Put32(at + 76, child);
    Put32(at + 116, start);
    Put32(at + 120, size);
}

}  // namespace

CompoundLayout PlanCompoundFile(size_t streamBytes) {
    CompoundLayout l;
    l.streamBytes = std::max(streamBytes, CFB_MINI_CUTOFF);
    l.streamSectors = DivideUp(l.streamBytes, CFB_SECTOR);
    // The FAT describes every sector, its own and the DIFAT's among them:
    // grow both until they cover themselves.
    for (;;) {
        const size_t fat = DivideUp(l.TotalSectors(), ENTRIES_PER_SECTOR);
        const size_t difat = fat <= HEADER_DIFAT ? 0 : DivideUp(fat - HEADER_DIFAT, DIFAT_PER_SECTOR);
        if (fat == l.fatSectors && difat == l.difatSectors) return l;
        l.fatSectors = std::max(fat, l.fatSectors);
        l.difatSectors = std::max(difat, l.difatSectors);
    }
}

void EmitCompoundFile(const std::vector<uint8_t>& stream, const std::function<void(const uint8_t*, size_t)>& put) {
    const CompoundLayout l = PlanCompoundFile(stream.size());
    const auto directory = static_cast<uint32_t>(l.streamSectors);
    const uint32_t firstFat = directory + 1;
    const auto firstDifat = static_cast<uint32_t>(firstFat + l.fatSectors);

    Sector header{};
    static constexpr uint8_t SIGNATURE[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.data(), SIGNATURE, sizeof SIGNATURE);
    Put16(&header[24], 0x003E);  // minor version
    Put16(&header[26], 0x0003);  // major version: 512-byte sectors
    Put16(&header[28], 0xFFFE);  // little-endian
    Put16(&header[30], 9);       // sector size 2^9
    Put16(&header[32], 6);       // mini sector size 2^6
    // Directory sector count stays 0: version 3 files must not set it.
    Put32(&header[44], static_cast<uint32_t>(l.fatSectors));
    Put32(&header[48], directory);
    Put32(&header[56], static_cast<uint32_t>(CFB_MINI_CUTOFF));
    Put32(&header[60], ENDOFCHAIN);  // no mini FAT
    Put32(&header[68], l.difatSectors ? firstDifat : ENDOFCHAIN);
    Put32(&header[72], static_cast<uint32_t>(l.difatSectors));
    for (size_t i = 0; i < HEADER_DIFAT; ++i)
        Put32(&header[76 + 4 * i], i < l.fatSectors ? firstFat + static_cast<uint32_t>(i) : FREESECT);
    put(header.data(), header.size());

    put(stream.data(), stream.size());
    const size_t padding = l.streamSectors * CFB_SECTOR - stream.size();
    static const Sector zeros{};
    for (size_t left = padding; left > 0;) {
        const size_t n = std::min(left, zeros.size());
        put(zeros.data(), n);
        left -= n;
    }

    Sector entries{};
    PutEntry(&entries[0], u"Root Entry", 5, 1, ENDOFCHAIN, 0);
    PutEntry(&entries[128], u"Workbook", 2, NOSTREAM, 0, static_cast<uint32_t>(l.streamBytes));
    PutEntry(&entries[256], nullptr, 0, NOSTREAM, 0, 0);
    PutEntry(&entries[384], nullptr, 0, NOSTREAM, 0, 0);
    put(entries.data(), entries.size());

    // The FAT: the stream's chain, the directory's end, then the FAT's and
    // the DIFAT's own sectors; the rest is free.
    const auto kindOf = [&](size_t sector) -> uint32_t {
        if (sector + 1 < l.streamSectors) return static_cast<uint32_t>(sector + 1);
        if (sector < l.streamSectors || sector == directory) return ENDOFCHAIN;
        if (sector < firstDifat) return FATSECT;
        if (sector < l.TotalSectors()) return DIFSECT;
        return FREESECT;
    };
    Sector fat{};
    for (size_t s = 0; s < l.fatSectors; ++s) {
        for (size_t i = 0; i < ENTRIES_PER_SECTOR; ++i) Put32(&fat[4 * i], kindOf(s * ENTRIES_PER_SECTOR + i));
        put(fat.data(), fat.size());
    }

    // Each DIFAT sector lists 127 more FAT sectors and then the next DIFAT sector.
    Sector difat{};
    for (size_t d = 0; d < l.difatSectors; ++d) {
        for (size_t i = 0; i < DIFAT_PER_SECTOR; ++i) {
            const size_t fatIndex = HEADER_DIFAT + d * DIFAT_PER_SECTOR + i;
            Put32(&difat[4 * i], fatIndex < l.fatSectors ? firstFat + static_cast<uint32_t>(fatIndex) : FREESECT);
        }
        Put32(&difat[4 * DIFAT_PER_SECTOR],
              d + 1 < l.difatSectors ? firstDifat + static_cast<uint32_t>(d + 1) : ENDOFCHAIN);
        put(difat.data(), difat.size());
    }
}

}  // namespace tarvex
