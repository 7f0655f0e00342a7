#pragma once
// Cuts the scale's byte stream into frames, wherever the reads split it:
// a weight frame once its six bytes are there, an overweight report at six
// bytes or when the line falls quiet, and bytes that cannot begin a frame
// gathered until the line falls quiet, to be judged as one damaged frame.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvex {

constexpr int FRAME_LENGTH = 6;

class CFrameAssembler {
public:
    // Frames never grow past this; a flood without a pause is judged in
    // pieces of this size.
    explicit CFrameAssembler(int maxFrame);

    // Calls onFrame(bytes, count) for every frame these bytes complete, in
    // order; onFrame returns false to drop the rest of the bytes.
    template <typename OnFrame>
    void Feed(const uint8_t* bytes, int count, OnFrame&& onFrame);
    // The line fell quiet: what is still open is judged as it stands.
    template <typename OnFrame>
    void Flush(OnFrame&& onFrame);

    bool Pending() const { return m_length > 0; }
    void Reset() { m_length = 0; }

private:
    bool Complete() const;

    std::vector<uint8_t> m_frame;
    int m_length = 0;
};

template <typename OnFrame>
void CFrameAssembler::Feed(const uint8_t* bytes, int count, OnFrame&& onFrame) {
    for (int i = 0; i < count; ++i) {
        m_frame[static_cast<size_t>(m_length++)] = bytes[i];
        if (!Complete()) continue;
        const int length = m_length;
        m_length = 0;
        if (!onFrame(m_frame.data(), length)) return;
    }
}

template <typename OnFrame>
void CFrameAssembler::Flush(OnFrame&& onFrame) {
    if (m_length == 0) return;
    const int length = m_length;
    m_length = 0;
    onFrame(m_frame.data(), length);
}

}  // namespace tarvex
