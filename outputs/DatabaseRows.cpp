#include "outputs/DatabaseRows.h"

#include <algorithm>
#include <charconv>

#include "outputs/ReadingFields.h"

namespace tarvex {
namespace {

// The columns filled from a reading, in the order of the INSERT.
const char* const COLUMNS[] = {"desk", "seq",      "number", "kind",   "kg", "shown",
                               "unit", "taken_at", "duration", "remark", "raw"};
constexpr size_t INSERTED_COLUMNS = sizeof COLUMNS / sizeof COLUMNS[0];

std::string ShortestText(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace

std::string CreateTableSql(const std::string& quotedTable) {
    return "CREATE TABLE IF NOT EXISTS " + quotedTable +
           " (desk text NOT NULL, seq bigint NOT NULL, number integer NOT NULL, kind text NOT NULL,"
           " kg numeric, shown text NOT NULL, unit text NOT NULL, taken_at timestamptz, duration text NOT NULL,"
           " remark text, raw bytea, received_at timestamptz NOT NULL DEFAULT now(), PRIMARY KEY (desk, seq))";
}

std::string ColumnsSql() {
    return "SELECT attname FROM pg_attribute WHERE attrelid = to_regclass($1) AND attnum > 0 AND NOT attisdropped";
}

std::vector<std::string> MissingColumns(const std::vector<std::string>& found) {
    std::vector<std::string> missing;
    for (const char* column : COLUMNS)
        if (std::find(found.begin(), found.end(), column) == found.end()) missing.push_back(column);
    return missing;
}

std::string InsertSql(const std::string& quotedTable, size_t readings) {
    std::string sql = "INSERT INTO " + quotedTable + " (";
    for (size_t c = 0; c < INSERTED_COLUMNS; ++c) sql += (c ? ", " : "") + std::string(COLUMNS[c]);
    sql += ") VALUES ";
    size_t parameter = 1;
    for (size_t r = 0; r < readings; ++r) {
        sql += r ? ", (" : "(";
        for (size_t c = 0; c < INSERTED_COLUMNS; ++c) sql += (c ? ", $" : "$") + std::to_string(parameter++);
        sql += ')';
    }
    return sql + " ON CONFLICT (desk, seq) DO NOTHING";
}

std::vector<std::optional<std::string>> InsertValues(const std::vector<RowRecord>& readings,
                                                     std::wstring_view remarkPrefix) {
    std::vector<std::optional<std::string>> values;
    values.reserve(readings.size() * INSERTED_COLUMNS);
    for (const RowRecord& reading : readings) {
        const ReadingFields fields = FieldsOf(reading, remarkPrefix);
        values.emplace_back(fields.desk);
        values.emplace_back(std::to_string(fields.seq));
        values.emplace_back(std::to_string(fields.number));
        values.emplace_back(fields.kind);
        values.push_back(fields.kg ? std::optional(ShortestText(*fields.kg)) : std::nullopt);
        values.emplace_back(fields.shown);
        values.emplace_back(fields.unit);
        values.push_back(fields.time.empty() ? std::nullopt : std::optional(fields.time));
        values.emplace_back(fields.duration);
        values.push_back(fields.remark);
        // bytea's hex input form
        values.push_back(fields.bytes && !fields.bytes->empty() ? std::optional("\\x" + *fields.bytes) : std::nullopt);
    }
    return values;
}

}  // namespace tarvex
