#pragma once
// The byte stream of the link to the scale: whether a link is open, and the
// frames cut from an open link's bytes however the reads split them. What
// the frames mean is the core's to judge; what follows, the session's.

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

#include "weighing/FrameAssembler.h"

namespace tarvex {

using Frame = std::span<const uint8_t>;

class CFrameLink {
public:
    CFrameLink();

    // Bytes of an open link, any number; a frame may span several calls.
    // Returns the frames they complete, in order; valid until the next call.
    const std::vector<Frame>& Cut(const uint8_t* bytes, int count);
    // The line has been silent for its quiet time: what is still open, as
    // one frame; empty when nothing is.
    Frame Flush();
    // Bytes of an unfinished frame wait for more, or for the line to fall quiet.
    bool Pending() const { return m_assembler.Pending(); }

    bool IsConnected() const { return m_connected.load(); }
    // Either way a new stream begins: nothing left from the last link is
    // ever joined to what the next one sends.
    void SetConnected(bool connected);

private:
    CFrameAssembler m_assembler;
    std::vector<uint8_t> m_bytes;       // the frames of the last call, one after the other
    std::vector<size_t> m_lengths;
    std::vector<Frame> m_frames;
    std::atomic<bool> m_connected{false};
};

}  // namespace tarvex
