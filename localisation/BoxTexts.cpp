#include "BoxTexts.h"

#include <algorithm>

namespace tarvex {

std::wstring MessageText(const CTextLookup& texts, std::wstring_view key, TextValues values) {
    std::wstring text = texts.Text(SECTION_MESSAGE, key);
    for (const auto& [placeholder, value] : values) ReplaceAll(text, placeholder, value);
    return text;
}

std::wstring RestoreQuestion(const CTextLookup& texts, long long count, std::wstring first, std::wstring last,
                             std::wstring_view folder) {
    // The blank between date and time does not break.
    std::replace(first.begin(), first.end(), L' ', L'\u00A0');
    std::replace(last.begin(), last.end(), L' ', L'\u00A0');
    std::wstring question = texts.Counted(SECTION_MESSAGE, L"Restore_Rows", count);
    for (const auto& [placeholder, value] : TextValues{{L"{first}", first}, {L"{last}", last}, {L"{folder}", folder}})
        ReplaceAll(question, placeholder, value);
    return question;
}

std::wstring RowsKeptAsideText(const CTextLookup& texts, long long count, std::wstring_view file) {
    std::wstring text = texts.Counted(SECTION_MESSAGE, L"Journal_Rows_Kept_Aside", count);
    ReplaceAll(text, L"{file}", file);
    return text;
}

std::wstring FullTableSavedElsewhereText(const CTextLookup& texts, std::wstring_view file) {
    return MessageText(texts, L"Data_Error") + L"\n\n" + MessageText(texts, L"Saved_Elsewhere", {{L"{file}", file}});
}

}  // namespace tarvex
