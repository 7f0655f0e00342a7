#pragma once
// What a USB scale's line is on either system: no line settings, nothing
// to purge, and reports handed out whole however little room a read has.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "serial/SerialLine.h"

namespace tarvex {

class CHidLineBase : public ISerialLine {
public:
    bool Reach(const platform::CWaitEvent&) override { return true; }
    // A USB scale has no line settings.
    bool Configure(const LineSettings&, const char*&, int&) override { return true; }
    void Purge() override {}
    void PurgeInput() override {}

protected:
    // A report read from the device, kept until it is all taken.
    void Keep(std::vector<uint8_t> report) { m_kept = std::move(report); }
    bool Kept() const { return !m_kept.empty(); }
    int KeptCount() const { return static_cast<int>(m_kept.size()); }
    long TakeKept(uint8_t* buffer, size_t size) {
        const size_t given = std::min(size, m_kept.size());
        std::copy_n(m_kept.begin(), given, buffer);
        m_kept.erase(m_kept.begin(), m_kept.begin() + static_cast<std::ptrdiff_t>(given));
        return static_cast<long>(given);
    }

private:
    std::vector<uint8_t> m_kept;
};

}  // namespace tarvex
