#pragma once
// The texts of the program's message boxes, made from the language file in
// use with their placeholders filled in. The window shows them; the box
// gallery of the end-to-end tests shows the very same texts.

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "text/TextLookup.h"

namespace tarvex {

using TextValues = std::initializer_list<std::pair<std::wstring_view, std::wstring_view>>;

// The text with each placeholder ("{file}") filled in.
std::wstring Filled(std::wstring text, TextValues values);

// The message text of the key with each placeholder ("{file}") filled in.
std::wstring MessageText(const CTextLookup& texts, std::wstring_view key, TextValues values = {});

// "Show them again?": a date and time each stay on one line.
std::wstring RestoreQuestion(const CTextLookup& texts, long long count, std::wstring first, std::wstring last,
                             std::wstring_view folder);

// "{count} older readings do not fit in the table ..."
std::wstring RowsKeptAsideText(const CTextLookup& texts, long long count, std::wstring_view file);

// "{count} damaged lines of the journal were skipped ..."
std::wstring DamagedLinesText(const CTextLookup& texts, long long count, std::wstring_view file);

// The notice once a full table was saved and emptied; elsewhere when the
// program's folder could not take the workbook.
std::wstring FullTableSavedText(const CTextLookup& texts, std::wstring_view file, bool elsewhere);

}  // namespace tarvex
