#pragma once
// The live CSV file's lines: the fields of the feed's JSON, quoted where a
// field holds the separator, a quote or a line break (RFC 4180).

#include <string>

#include "outputs/ReadingFields.h"

namespace tarvex {

std::string CsvHeaderLine(char separator);
std::string CsvLine(const ReadingFields& fields, char separator);

}  // namespace tarvex
