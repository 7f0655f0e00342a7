#include "weighing/FrameLink.h"

#include "weighing/WeighingCore.h"

namespace tarvex {

CFrameLink::CFrameLink() : m_assembler(RX_BUFFER_SIZE) {}

void CFrameLink::SetConnected(bool connected) {
    m_assembler.Reset();
    m_connected.store(connected);
}

const std::vector<Frame>& CFrameLink::Cut(const uint8_t* bytes, int count) {
    m_bytes.clear();
    m_lengths.clear();
    m_frames.clear();
    if (count <= 0 || !m_connected.load()) return m_frames;
    m_assembler.Feed(bytes, count, [this](const uint8_t* frame, int length) {
        m_bytes.insert(m_bytes.end(), frame, frame + length);
        m_lengths.push_back(static_cast<size_t>(length));
        return true;
    });
    size_t start = 0;
    for (const size_t length : m_lengths) {
        m_frames.emplace_back(m_bytes.data() + start, length);
        start += length;
    }
    return m_frames;
}

Frame CFrameLink::Flush() {
    m_bytes.clear();
    if (!m_connected.load()) {
        m_assembler.Reset();
        return {};
    }
    m_assembler.Flush([this](const uint8_t* frame, int length) { m_bytes.assign(frame, frame + length); });
    return Frame(m_bytes.data(), m_bytes.size());
}

}  // namespace tarvex
