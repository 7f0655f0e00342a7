#include "weighing/FrameAssembler.h"

#include "weighing/ScaleBytes.h"

namespace tarvex {

CFrameAssembler::CFrameAssembler(int maxFrame)
    : m_frame(static_cast<size_t>(maxFrame < FRAME_LENGTH ? FRAME_LENGTH : maxFrame), 0) {}

bool CFrameAssembler::Complete() const {
    const uint8_t first = m_frame[0];
    if (first == FRAME_WEIGHT || first == FRAME_OVERWEIGHT) return m_length == FRAME_LENGTH;
    return m_length == static_cast<int>(m_frame.size());
}

}  // namespace tarvex
