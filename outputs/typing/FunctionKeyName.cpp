#include <cwchar>
#include <string>

#include "outputs/typing/HotKey.h"

namespace tarvex {

std::optional<int> FunctionKeyNamed(std::wstring_view name) {
    if (name.size() < 2 || name.size() > 3 || (name[0] != L'F' && name[0] != L'f')) return std::nullopt;
    int number = 0;
    for (const wchar_t c : name.substr(1)) {
        if (c < L'0' || c > L'9') return std::nullopt;
        number = number * 10 + (c - L'0');
    }
    if (name[1] == L'0' || number < 2 || number > 24 || number == 5) return std::nullopt;
    return number;
}

}  // namespace tarvex
