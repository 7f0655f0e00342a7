// Scales that print their weight as a line of text (CAS, Adam, Ohaus,
// Sartorius SBI, Kern continuous output and many more), read with a
// regular expression of the desk's own. Its named groups say what is what:
//   weight  the figure (required for a weight),
//   unit    the unit (else the one configured),
//   motion  present while the scale is in motion (else the weight is stable),
//   over    present while the scale is over capacity.
// Lines end with CR, LF or both. PCRE2 matches, with limits on its work, so
// no pattern a desk types can hold the program.

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>
#include <string>

#include "weighing/protocols/AnswerCutter.h"
#include "weighing/protocols/AnswerText.h"
#include "weighing/protocols/AsciiLine.h"

namespace tarvex {
namespace {

// Work a match may do on a line of at most MAX_ANSWER_BYTES.
constexpr uint32_t MATCH_LIMIT = 100000;
constexpr uint32_t DEPTH_LIMIT = 1000;

struct CodeFree {
    void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataFree {
    void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};
struct ContextFree {
    void operator()(pcre2_match_context* context) const { pcre2_match_context_free(context); }
};
using Code = std::unique_ptr<pcre2_code, CodeFree>;

struct Compiled {
    Code code;
    std::string error;  // empty once compiled
};

Compiled Compile(std::string_view pattern) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    Code code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_UTF, &error,
                            &offset, nullptr));
    if (code) {
        if (pcre2_substring_number_from_name(code.get(), reinterpret_cast<PCRE2_SPTR>("weight")) < 0)
            return {nullptr, "the pattern has no group named weight"};
        return {std::move(code), {}};
    }
    PCRE2_UCHAR message[256];
    pcre2_get_error_message(error, message, sizeof message);
    return {nullptr, std::string(reinterpret_cast<const char*>(message)) + " (at character " +
                         std::to_string(offset + 1) + ")"};
}

class CAsciiLineProtocol final : public CCutProtocol {
public:
    CAsciiLineProtocol(Code code, AsciiLineSettings settings)
        : CCutProtocol(std::nullopt, "\r\n"), m_code(std::move(code)), m_settings(std::move(settings)),
          m_data(pcre2_match_data_create_from_pattern(m_code.get(), nullptr)),
          m_context(pcre2_match_context_create(nullptr)) {
        pcre2_set_match_limit(m_context.get(), MATCH_LIMIT);
        pcre2_set_depth_limit(m_context.get(), DEPTH_LIMIT);
    }
    ScaleProtocolKind Kind() const override { return ScaleProtocolKind::Ascii; }
    LineSettings Line() const override { return {9600, 8, 'N', 1}; }
    std::string Command(ScaleCommand command) const override {
        switch (command) {
            case ScaleCommand::Poll:
            case ScaleCommand::Confirm: return m_settings.poll;
            case ScaleCommand::Zero: return m_settings.zero;
            case ScaleCommand::Tare: return m_settings.tare;
        }
        return {};
    }

private:
    // The group's text; nullopt where it took no part in the match.
    std::optional<std::string_view> Group(std::string_view line, const char* name) const {
        PCRE2_SIZE* vector = pcre2_get_ovector_pointer(m_data.get());
        const int number = pcre2_substring_number_from_name(m_code.get(), reinterpret_cast<PCRE2_SPTR>(name));
        if (number < 0 || vector[2 * number] == PCRE2_UNSET) return std::nullopt;
        return line.substr(vector[2 * number], vector[2 * number + 1] - vector[2 * number]);
    }

    ScaleAnswer Read(std::string_view line) const override {
        ScaleAnswer answer;
        const int matched = pcre2_match(m_code.get(), reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0,
                                        0, m_data.get(), m_context.get());
        if (matched < 0) return UnreadableAnswer(line);
        answer.status.motion = Group(line, "motion").has_value();
        answer.status.over = Group(line, "over").has_value();
        const std::optional<std::string_view> weight = Group(line, "weight");
        const std::optional<std::string> digits = weight ? WeightDigits(*weight) : std::nullopt;
        if (!digits) {
            if (!answer.status.over) return UnreadableAnswer(line);
            answer.kind = ScaleAnswer::Kind::Status;
            return answer;
        }
        const std::optional<std::string_view> unit = Group(line, "unit");
        answer.kind = ScaleAnswer::Kind::Weight;
        answer.digits = *digits;
        answer.unit = unit && !TrimSpaces(*unit).empty() ? LowerCase(TrimSpaces(*unit)) : m_settings.unit;
        return answer;
    }

    Code m_code;
    AsciiLineSettings m_settings;
    std::unique_ptr<pcre2_match_data, MatchDataFree> m_data;
    std::unique_ptr<pcre2_match_context, ContextFree> m_context;
};

}  // namespace

std::optional<std::string> BytesFromEscapes(std::string_view text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case 'r': bytes += '\r'; break;
            case 'n': bytes += '\n'; break;
            case 't': bytes += '\t'; break;
            case '\\': bytes += '\\'; break;
            case 'x': {
                const auto hex = [](char c) -> int {
                    if (c >= '0' && c <= '9') return c - '0';
                    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                    return -1;
                };
                if (i + 2 >= text.size()) return std::nullopt;
                const int high = hex(text[i + 1]), low = hex(text[i + 2]);
                if (high < 0 || low < 0) return std::nullopt;
                bytes += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: return std::nullopt;
        }
    }
    return bytes;
}

std::string AsciiPatternError(std::string_view pattern) { return Compile(pattern).error; }

std::unique_ptr<IScaleProtocol> MakeAsciiLineProtocol(AsciiLineSettings settings) {
    Compiled compiled = Compile(settings.pattern);
    if (!compiled.code) return nullptr;
    return std::make_unique<CAsciiLineProtocol>(std::move(compiled.code), std::move(settings));
}

}  // namespace tarvex
