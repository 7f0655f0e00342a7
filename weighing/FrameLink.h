#pragma once
// The byte stream of the link to the scale: whether a link is open, and the
// frames cut from an open link's bytes however the reads split them, each
// handed to the core to judge. Before a link is open, a burst's first byte
// is the answer to the greeting: the link control's to judge.

#include <atomic>
#include <cstdint>

#include "weighing/FrameAssembler.h"

namespace tarvex {

class CWeighingCore;

class IFrameLinkHost {
public:
    virtual ~IFrameLinkHost() = default;
    // A burst arrived while no link is open.
    virtual void AnswerArrived(uint8_t firstByte) = 0;
    // open: bytes of an unfinished frame wait; call OnLineQuiet once the line
    // has been silent for LINE_QUIET_MS (each call starts the wait anew).
    virtual void WatchLineQuiet(bool open) = 0;
};

class CFrameLink {
public:
    CFrameLink(CWeighingCore& core, IFrameLinkHost& host);

    // Bytes from the reader, any number; a frame may span several calls.
    void OnSerialData(const uint8_t* bytes, int count);
    // The line has been silent for LINE_QUIET_MS since bytes were left open.
    void OnLineQuiet();

    bool IsConnected() const { return m_connected.load(); }
    // Either way a new stream begins: nothing left from the last link is
    // ever joined to what the next one sends.
    void SetConnected(bool connected);

private:
    bool Judge(const uint8_t* frame, int length);

    CWeighingCore& m_core;
    IFrameLinkHost& m_host;
    CFrameAssembler m_assembler;
    bool m_judging = false;  // a frame is being judged (it may ask questions)
    std::atomic<bool> m_connected{false};
};

}  // namespace tarvex
