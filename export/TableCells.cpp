#include "export/TableCells.h"

#include "weighing/CellTexts.h"
#include "weighing/WeightText.h"

namespace tarvex {
namespace {

ExportCell TextCell(std::wstring text) {
    ExportCell cell;
    if (text.empty()) return cell;
    // No workbook text holds U+0000 (an xlsx is XML): a damaged frame's zero
    // byte is written as the table shows it.
    for (size_t at = text.find(L'\0'); at != std::wstring::npos; at = text.find(L'\0', at + 4))
        text.replace(at, 1, L"\\x00");
    cell.kind = ExportCell::Kind::Text;
    cell.text = std::move(text);
    return cell;
}

ExportCell WeightCell(const CMeasurementTable& table, const Reading& reading) {
    if (reading.kind != RowKind::Weight || table.Unit() == UNIT_LBOZ) return TextCell(table.DataText(reading));
    // The figure the clerk sees, so a sum in the sheet adds what the table shows.
    ExportCell cell;
    cell.kind = ExportCell::Kind::Number;
    cell.number = ShownWeight(reading.kilograms, table.Unit());
    const std::wstring text = FormatWeightText(reading.kilograms, table.Unit());
    if (text.find(L'.') != std::wstring::npos) cell.numberFormat = "0." + std::string(DecimalsShown(text), '0');
    return cell;
}

ExportCell DurationCell(int64_t seconds) {
    // A negative span is no time of day; it stays as the table shows it.
    if (seconds < 0) return TextCell(FormatDuration(seconds));
    ExportCell cell;
    cell.kind = ExportCell::Kind::TimeOfDay;
    const int64_t inDay = seconds % 86400;  // whole days are dropped, as in the table
    cell.moment.hour = static_cast<int>(inDay / 3600);
    cell.moment.minute = static_cast<int>(inDay / 60 % 60);
    cell.moment.second = static_cast<int>(inDay % 60);
    return cell;
}

ExportCell UpdateTimeCell(int64_t time) {
    std::tm local;
    if (!LocalTime(time, local)) return {};
    // The spreadsheet's dates run from 1900; a leap second has no place.
    const int year = local.tm_year + 1900;
    if (year < 1900 || year > 9999 || local.tm_sec > 59) return TextCell(FormatUpdateTime(time));
    ExportCell cell;
    cell.kind = ExportCell::Kind::DateTime;
    cell.moment = {year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
    return cell;
}

}  // namespace

ExportCell TableCell(const CMeasurementTable& table, int row, int column) {
    const Reading& reading = table.Row(row);
    switch (column) {
        case COLUMN_NUMBER: {
            ExportCell cell;
            cell.kind = ExportCell::Kind::Number;
            cell.number = reading.number;
            return cell;
        }
        case COLUMN_DATA: return WeightCell(table, reading);
        case COLUMN_DURATION: return DurationCell(reading.sinceStart);
        case COLUMN_UPDATE_TIME: return UpdateTimeCell(reading.time);
        default: return TextCell(table.Cell(row, column));
    }
}

ExportRequest TableExport(const CMeasurementTable& table, std::wstring path, std::vector<ExportColumn> columns) {
    ExportRequest request;
    request.path = std::move(path);
    request.columns = std::move(columns);
    request.rows = table.RowCount();
    request.cell = [&table](int row, int column) { return TableCell(table, row, column); };
    return request;
}

}  // namespace tarvex
