#include "weighing/FrameLink.h"

#include "weighing/WeighingCore.h"

namespace tarvex {

CFrameLink::CFrameLink(CWeighingCore& core, IFrameLinkHost& host)
    : m_core(core), m_host(host), m_assembler(RX_BUFFER_SIZE) {}

void CFrameLink::SetConnected(bool connected) {
    m_assembler.Reset();
    m_connected.store(connected);
}

void CFrameLink::OnSerialData(const uint8_t* bytes, int count) {
    if (count <= 0) return;
    if (!m_connected.load()) {
        m_host.AnswerArrived(bytes[0]);
        // The answer may have opened the link; what follows it in the same
        // burst is already the scale's first frame.
        if (!m_connected.load()) return;
        ++bytes;
        --count;
    }
    m_judging = true;
    m_assembler.Feed(bytes, count, [this](const uint8_t* frame, int length) { return Judge(frame, length); });
    m_judging = false;
    m_host.WatchLineQuiet(m_connected.load() && m_assembler.Pending());
}

void CFrameLink::OnLineQuiet() {
    // A question asked while a frame is judged runs the event loop; the open
    // frame waits for that judging to end.
    if (m_judging) {
        m_host.WatchLineQuiet(true);
        return;
    }
    if (!m_connected.load()) {
        m_assembler.Reset();
        return;
    }
    m_judging = true;
    m_assembler.Flush([this](const uint8_t* frame, int length) { return Judge(frame, length); });
    m_judging = false;
}

bool CFrameLink::Judge(const uint8_t* frame, int length) {
    if (!m_connected.load()) return false;
    m_core.JudgeFrame(frame, length);
    // Judging may have ended the link (a full table): the rest waits.
    return m_connected.load();
}

}  // namespace tarvex
