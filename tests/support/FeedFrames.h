#pragma once
// Bytes of an open link through the link and the core, as the session
// hands them over: each frame cut is judged, and its verdict handed on.

#include <cstdint>

#include "weighing/FrameLink.h"
#include "weighing/WeighingCore.h"

namespace tarvex::test {

template <typename OnVerdict>
void FeedFrames(CFrameLink& link, CWeighingCore& core, const uint8_t* bytes, int count, OnVerdict&& onVerdict) {
    for (const Frame& frame : link.Cut(bytes, count))
        onVerdict(core.JudgeFrame(frame.data(), static_cast<int>(frame.size())));
}

inline void FeedFrames(CFrameLink& link, CWeighingCore& core, const uint8_t* bytes, int count) {
    FeedFrames(link, core, bytes, count, [](const FrameVerdict&) {});
}

// The line fell quiet: what is still open is judged.
template <typename OnVerdict>
void FlushFrame(CFrameLink& link, CWeighingCore& core, OnVerdict&& onVerdict) {
    if (const Frame frame = link.Flush(); !frame.empty())
        onVerdict(core.JudgeFrame(frame.data(), static_cast<int>(frame.size())));
}

}  // namespace tarvex::test
