#include "text/BoxTexts.h"

#include <algorithm>

namespace tarvex {

namespace {

}  // namespace

std::wstring Filled(std::wstring text, TextValues values) {
    for (const auto& [placeholder, value] : values) ReplaceAll(text, placeholder, value);
    return text;
}

std::wstring MessageText(const CTextLookup& texts, std::wstring_view key, TextValues values) {
    return Filled(texts.Text(SECTION_MESSAGE, key), values);
}

std::wstring RestoreQuestion(const CTextLookup& texts, long long count, std::wstring first, std::wstring last,
                             std::wstring_view folder) {
    // The blank between date and time does not break.
    std::replace(first.begin(), first.end(), L' ', L'\u00A0');
    std::replace(last.begin(), last.end(), L' ', L'\u00A0');
    return Filled(texts.Counted(SECTION_MESSAGE, L"Restore_Rows", count),
                  {{L"{first}", first}, {L"{last}", last}, {L"{folder}", folder}});
}

std::wstring RowsKeptAsideText(const CTextLookup& texts, long long count, std::wstring_view file) {
    return Filled(texts.Counted(SECTION_MESSAGE, L"Journal_Rows_Kept_Aside", count), {{L"{file}", file}});
}

std::wstring DamagedLinesText(const CTextLookup& texts, long long count, std::wstring_view file) {
    return Filled(texts.Counted(SECTION_MESSAGE, L"Journal_Damaged_Lines", count), {{L"{file}", file}});
}

std::wstring FullTableSavedText(const CTextLookup& texts, std::wstring_view file, bool elsewhere) {
    if (!elsewhere) return MessageText(texts, L"Table_Full_Saved", {{L"{file}", file}});
    return MessageText(texts, L"Saved_Elsewhere", {{L"{file}", file}}) + L"\n\n" + MessageText(texts, L"Table_Full_Emptied");
}

}  // namespace tarvex
