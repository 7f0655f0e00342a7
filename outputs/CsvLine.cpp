#include "outputs/CsvLine.h"

#include <charconv>

namespace tarvex {
namespace {

// The separator goes before every field but the first.
void Append(std::string& line, std::string_view field, char separator, bool first) {
    if (!first) line += separator;
    if (field.find_first_of(std::string{separator, '"', '\r', '\n'}) == std::string_view::npos) {
        line += field;
        return;
    }
    line += '"';
    for (const char c : field) {
        if (c == '"') line += '"';
        line += c;
    }
    line += '"';
}

}  // namespace

std::string CsvHeaderLine(char separator) {
    std::string line;
    bool first = true;
    for (const char* name : {"desk", "seq", "number", "kind", "kg", "shown", "unit", "time", "duration", "remark", "bytes"}) {
        Append(line, name, separator, first);
        first = false;
    }
    return line + "\r\n";
}

std::string CsvLine(const ReadingFields& fields, char separator) {
    std::string kg;
    if (fields.kg) {
        char text[32];
        const auto end = std::to_chars(text, text + sizeof text, *fields.kg).ptr;
        kg.assign(text, end);
    }
    std::string line;
    bool first = true;
    for (const std::string& field : {fields.desk, std::to_string(fields.seq), std::to_string(fields.number), fields.kind,
                                     kg, fields.shown, fields.unit, fields.time, fields.duration,
                                     fields.remark.value_or(""), fields.bytes.value_or("")})
    {
        Append(line, field, separator, first);
        first = false;
    }
    return line + "\r\n";
}

std::vector<std::string> CsvFields(std::string_view line, char separator) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"') {
                fields.back() += c;
            } else if (i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                ++i;
            } else {
                quoted = false;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == separator) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

}  // namespace tarvex
