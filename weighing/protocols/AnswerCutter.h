#pragma once
// Cuts a scale's answers from its byte stream, wherever the reads split it:
// an answer runs from its start byte (where the protocol has one) to one
// of its end bytes. Bytes outside an answer, an answer cut short by a new start,
// one that grows past MAX_ANSWER_BYTES and what is open when the line falls
// quiet are handed on as unreadable.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "weighing/protocols/AnswerText.h"
#include "weighing/protocols/ScaleProtocol.h"

namespace tarvex {

class CAnswerCutter {
public:
    CAnswerCutter(std::optional<char> start, std::string_view ends) : m_start(start), m_ends(ends) {}

    // onPiece(bytes, whole): an answer without its start and end bytes
    // (whole), or bytes that are none (not whole).
    template <typename OnPiece>
    void Feed(std::string_view bytes, OnPiece&& onPiece);
    template <typename OnPiece>
    void Flush(OnPiece&& onPiece);

private:
    std::optional<char> m_start;
    std::string_view m_ends;
    std::string m_bytes;  // of the open answer, or unreadable ones outside
    bool m_inside = false;
};

template <typename OnPiece>
void CAnswerCutter::Feed(std::string_view bytes, OnPiece&& onPiece) {
    for (const char c : bytes) {
        if (m_start && c == *m_start) {
            // Whatever was open is no answer: a new one begins.
            Flush(onPiece);
            m_inside = true;
            continue;
        }
        if ((m_inside || !m_start) && m_ends.find(c) != std::string_view::npos) {
            // An end byte alone (the LF of a CR LF) says nothing.
            if (!m_bytes.empty() || m_inside) onPiece(std::string_view(m_bytes), true);
            m_bytes.clear();
            m_inside = false;
            continue;
        }
        m_bytes += c;
        if (m_bytes.size() >= MAX_ANSWER_BYTES) Flush(onPiece);
    }
}

template <typename OnPiece>
void CAnswerCutter::Flush(OnPiece&& onPiece) {
    if (m_inside && m_start) m_bytes.insert(m_bytes.begin(), *m_start);
    if (!m_bytes.empty()) onPiece(std::string_view(m_bytes), false);
    m_bytes.clear();
    m_inside = false;
}

// A protocol whose answers are cut this way: it reads one whole answer.
class CCutProtocol : public IScaleProtocol {
public:
    void Feed(std::string_view bytes, std::vector<ScaleAnswer>& answers) final {
        m_cutter.Feed(bytes, [&](std::string_view piece, bool whole) { answers.push_back(Answer(piece, whole)); });
    }
    void Flush(std::vector<ScaleAnswer>& answers) final {
        m_cutter.Flush([&](std::string_view piece, bool whole) { answers.push_back(Answer(piece, whole)); });
    }

protected:
    CCutProtocol(std::optional<char> start, std::string_view ends) : m_cutter(start, ends) {}
    virtual ScaleAnswer Read(std::string_view answer) const = 0;

private:
    ScaleAnswer Answer(std::string_view piece, bool whole) const {
        return whole ? Read(piece) : UnreadableAnswer(piece);
    }
    CAnswerCutter m_cutter;
};

}  // namespace tarvex
