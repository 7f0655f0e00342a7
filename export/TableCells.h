#pragma once
// The measurement table's cells as a workbook holds them.

#include "weighing/MeasurementTable.h"
#include "export/WorkbookExport.h"

namespace tarvex {

// Numbers (the row number, a KG or LB weight) as the number the cell shows
// with its decimals; a Duration as a time of day and an Update_Time as a
// date-time where the spreadsheet has them; everything else as its text.
ExportCell TableCell(const CMeasurementTable& table, int row, int column);

// Every row and column of the table, captions and widths given.
ExportRequest TableExport(const CMeasurementTable& table, std::wstring path, std::vector<ExportColumn> columns);

}  // namespace tarvex
