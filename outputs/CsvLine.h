#pragma once
// The live CSV file's lines: the fields of the feed's JSON, quoted where a
// field holds the separator, a quote or a line break (RFC 4180).

#include <string>
#include <string_view>
#include <vector>

#include "outputs/ReadingFields.h"

namespace tarvex {

std::string CsvHeaderLine(char separator);
std::string CsvLine(const ReadingFields& fields, char separator);
// The fields of one line (without its line end), quotes taken off.
std::vector<std::string> CsvFields(std::string_view line, char separator);

}  // namespace tarvex
