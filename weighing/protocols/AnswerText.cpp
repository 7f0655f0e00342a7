#include "weighing/protocols/AnswerText.h"

namespace tarvex {

std::string_view TrimSpaces(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

std::string LowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

std::optional<std::string> WeightDigits(std::string_view text) {
    text = TrimSpaces(text);
    std::string digits;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        if (text.front() == '-') digits += '-';
        text = TrimSpaces(text.substr(1));
    }
    bool point = false, digit = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return std::nullopt;
        }
        digits += c;
    }
    if (!digit) return std::nullopt;
    return digits;
}

ScaleAnswer UnreadableAnswer(std::string_view bytes) {
    ScaleAnswer answer;
    answer.kind = ScaleAnswer::Kind::Unreadable;
    answer.text = std::string(bytes);
    return answer;
}

}  // namespace tarvex
