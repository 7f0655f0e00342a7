#pragma once
// What the database output says to the server: the table of readings, the
// check that a table found has the columns, and the rows of one batch as a
// single INSERT whose values go as parameters (never into the text).

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "weighing/RowRecord.h"

namespace tarvex {

// Readings sent in one INSERT at most (11 parameters each, far below the
// server's 65535).
constexpr size_t DATABASE_BATCH_READINGS = 1000;

std::string CreateTableSql(const std::string& quotedTable);
// $1: the table's name as text; answers the column names it has.
std::string ColumnsSql();
// The columns a reading needs that are not among those found; empty when
// none is missing.
std::vector<std::string> MissingColumns(const std::vector<std::string>& found);

// One INSERT for this many readings; a reading the server has already is
// dropped by its key.
std::string InsertSql(const std::string& quotedTable, size_t readings);
// Its parameters, reading by reading; nullopt is NULL.
std::vector<std::optional<std::string>> InsertValues(const std::vector<RowRecord>& readings,
                                                     std::wstring_view remarkPrefix);

}  // namespace tarvex
