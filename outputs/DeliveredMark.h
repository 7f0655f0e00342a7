#pragma once
// How far a server has confirmed a desk's readings, in a small file beside
// the journal, written whole after each confirmed batch: after a crash or
// a restart the readings after it are sent again from the journal (a copy
// the server already has is dropped by its key).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tarvex {

// The seq confirmed for this desk and target; nullopt when the file holds
// none for them (never delivered there).
std::optional<uint64_t> ReadDeliveredMark(const std::filesystem::path& file, const std::string& desk,
                                          const std::string& target);
bool WriteDeliveredMark(const std::filesystem::path& file, const std::string& desk, const std::string& target,
                        uint64_t seq);

}  // namespace tarvex
