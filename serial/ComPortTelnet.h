#pragma once
// The client side of Telnet with the COM-PORT-OPTION (RFC 854, 856, 2217),
// without any I/O: what to say first, data bytes escaped on the way out and
// taken out of the stream on the way in, answers to the server's requests,
// and the settings the server keeps other than asked.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "serial/LineSettings.h"

namespace tarvex {

namespace telnet {
constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t BINARY = 0, SUPPRESS_GO_AHEAD = 3, COM_PORT_OPTION = 44;
// COM-PORT-OPTION commands from the client; the server answers each with
// the same code plus SERVER_ANSWER.
constexpr uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4, SET_CONTROL = 5,
                  PURGE_DATA = 12, SERVER_ANSWER = 100;
constexpr uint8_t VALUE_PARITY_NONE = 1, VALUE_PARITY_ODD = 2, VALUE_PARITY_EVEN = 3, VALUE_NO_FLOW_CONTROL = 1, VALUE_RTS_ON = 11, VALUE_RTS_OFF = 12;
constexpr uint8_t PURGE_BOTH = 3;  // what came from the line and what waits for it
}  // namespace telnet

// Longer than any COM-PORT-OPTION answer by far: past it, the server is broken or hostile.
constexpr size_t MAX_SUBNEGOTIATION = 1024;

class CComPortTelnet {
public:
    // The line settings asked of the server once it agrees to the option.
    void Ask(const LineSettings& settings) { m_asked = settings; }
    // The options asked for: BINARY and SUPPRESS-GO-AHEAD both ways, and the
    // COM-PORT-OPTION. The line settings follow when the server agrees to it.
    std::vector<uint8_t> Opening();
    // The server has said yes or no to the COM-PORT-OPTION.
    bool Settled() const { return m_settled; }
    // The server throws away what it holds, both ways.
    static std::vector<uint8_t> Purge();
    // Appends data bytes for the wire: IAC doubled.
    static void Escape(const uint8_t* bytes, size_t count, std::vector<uint8_t>& wire);

    // Takes bytes as they came, in pieces of any size: data bytes go to data,
    // what the server must be answered goes to replies.
    void Receive(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data, std::vector<uint8_t>& replies);

    // Settings the server answered with other values than asked, in words
    // ("19200 baud"), each given once; empty when there is nothing new. One
    // slot per setting: a server that reports ever new values is told by
    // its newest, never piled up.
    std::wstring TakeDifferences();
    // The server opened a subnegotiation and never ended it within
    // MAX_SUBNEGOTIATION bytes: no data can be told from it any more.
    bool Endless() const { return m_endless; }

private:
    enum class State { Data, Command, Option, Sub, SubCommand };
    void Negotiate(uint8_t verb, uint8_t option, std::vector<uint8_t>& replies);
    void SubnegotiationEnded();
    void Differ(const char* setting, std::wstring words);
    void AppendSettings(std::vector<uint8_t>& replies) const;

    State m_state = State::Data;
    uint8_t m_verb = 0;
    std::vector<uint8_t> m_sub;
    // Which side has each accepted option on: ours (WILL) and theirs (DO).
    // Per option: on for our side (WILL) and theirs (DO), and asked by us.
    bool m_oursOn[256] = {};
    bool m_theirsOn[256] = {};
    bool m_oursAsked[256] = {};
    bool m_theirsAsked[256] = {};
    bool m_settled = false;
    LineSettings m_asked;
    size_t m_subBytes = 0;  // of the subnegotiation open now
    bool m_endless = false;
    // By setting, in the order first told: the words last told, and those not yet taken.
    std::vector<std::pair<std::string, std::wstring>> m_told, m_untold;
};

}  // namespace tarvex
