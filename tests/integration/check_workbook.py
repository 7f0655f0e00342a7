#!/usr/bin/python3
"""Reads a workbook back with readers no one here wrote and compares it with
what the test expected: python3 check_workbook.py WORKBOOK EXPECTED.json

A name ending ".xlsx" is read with openpyxl; any other name must be a
genuine Excel 97-2003 file (compound-file signature, BIFF8) and is read with
olefile and xlrd.

EXPECTED holds "headers" (captions), "widths" (sheet column widths) and
"rows" (the texts of every table row). A text that is a plain number must
come back as that number with a format showing its decimals ("0.000" for
"12.500", General for "12"), any other text as the same text, an empty text
as an empty cell, a time "hh:mm:ss" as a time and a moment "hh:mm:ss
mm/dd/yyyy" as a date-time, each shown in that same pattern. Prints what
differs and exits 1, or exits 0."""

import datetime
import json
import re
import sys

import openpyxl
import xlrd
from openpyxl.utils import get_column_letter
from openpyxl.utils.escape import unescape

PLAIN_NUMBER = re.compile(r"^ *-?(\d+\.?\d*|\.\d+) *$")
TIME_OF_DAY = re.compile(r"^([01]\d|2[0-3]):[0-5]\d:[0-5]\d$")
DATE_TIME = re.compile(r"^([01]\d|2[0-3]):[0-5]\d:[0-5]\d \d\d/\d\d/\d{4}$")


def shown_format(text):
    """The number format that shows a plain number as its text does."""
    text = text.strip()
    return "0." + "0" * (len(text) - text.index(".") - 1) if "." in text else "General"


def matches(cell, want):
    got = cell.value
    if want == "":
        return got is None
    if PLAIN_NUMBER.match(want):
        return (isinstance(got, (int, float)) and float(got) == float(want.strip().rstrip("."))
                and cell.number_format == shown_format(want))
    if DATE_TIME.match(want):
        return (isinstance(got, datetime.datetime) and got.strftime("%H:%M:%S %m/%d/%Y") == want
                and cell.number_format == "hh:mm:ss mm/dd/yyyy")
    if TIME_OF_DAY.match(want):
        return (isinstance(got, datetime.time) and got.strftime("%H:%M:%S") == want
                and cell.number_format == "hh:mm:ss")
    # Control characters travel as _xHHHH_ in the file; openpyxl decodes
    # them for shared strings only, so do it here too.
    return isinstance(got, str) and unescape(got) == want


class XlsCell:
    """An xlrd cell with what openpyxl would say of it."""

    def __init__(self, book, cell):
        fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
        self.number_format = fmt
        self.value = None
        if cell.ctype == xlrd.XL_CELL_TEXT:
            self.value = cell.value
        elif cell.ctype == xlrd.XL_CELL_NUMBER:
            self.value = cell.value
        elif cell.ctype == xlrd.XL_CELL_DATE:
            moment = xlrd.xldate.xldate_as_datetime(cell.value, book.datemode)
            self.value = moment.time() if cell.value < 1 else moment


class XlsSheet:
    """The few things the checks ask of a sheet, from an Excel 97-2003 file."""

    def __init__(self, path, problems):
        import olefile
        with open(path, "rb") as f:
            if f.read(8) != bytes.fromhex("d0cf11e0a1b11ae1"):
                problems.append("not an Excel 97-2003 file (no compound-file signature)")
        if "Workbook" not in [entry[0] for entry in olefile.OleFileIO(path).listdir()]:
            problems.append("no Workbook stream")
        self.book = xlrd.open_workbook(path, formatting_info=True)
        if self.book.biff_version != 80:
            problems.append(f"BIFF version {self.book.biff_version}")
        self.sheet = self.book.sheet_by_index(0)
        self.max_row = self.sheet.nrows

    def header(self, n):
        cell = self.sheet.cell(0, n - 1)
        xf = self.book.xf_list[cell.xf_index]
        return cell.value, bool(self.book.font_list[xf.font_index].bold), xf.alignment.vert_align == 1

    def header_height(self):
        info = self.sheet.rowinfo_map.get(0)
        return info.height / 20 if info else None

    def width(self, n):
        info = self.sheet.colinfo_map.get(n - 1)
        return info.width / 256 if info else None

    def row(self, r):
        cells = []
        for c in range(self.sheet.ncols):
            cell = self.sheet.cell(r, c)
            cells.append(XlsCell(self.book, cell))
        return cells


class XlsxSheet:
    def __init__(self, path, problems):
        # openpyxl refuses a name it does not know, so it is handed the open file.
        with open(path, "rb") as f:
            self.sheet = openpyxl.load_workbook(f).worksheets[0]
        self.max_row = self.sheet.max_row

    def header(self, n):
        cell = self.sheet.cell(row=1, column=n)
        return cell.value, bool(cell.font.bold), cell.alignment.vertical == "center"

    def header_height(self):
        return self.sheet.row_dimensions[1].height

    def width(self, n):
        return self.sheet.column_dimensions[get_column_letter(n)].width

    def row(self, r):
        return list(next(self.sheet.iter_rows(min_row=r + 1, max_row=r + 1)))


def main():
    workbook_path, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    problems = []
    if workbook_path.lower().endswith(".xlsx"):
        sheet = XlsxSheet(workbook_path, problems)
    else:
        sheet = XlsSheet(workbook_path, problems)

    headers = expected["headers"]
    for n, caption in enumerate(headers, start=1):
        value, bold, centred = sheet.header(n)
        if value != caption:
            problems.append(f"header {n}: {value!r} != {caption!r}")
        if not bold:
            problems.append(f"header {n} is not bold")
        if not centred:
            problems.append(f"header {n} is not centred vertically")
    height = sheet.header_height()
    if height != 50:
        problems.append(f"header row height {height!r}")
    for n, width in enumerate(expected["widths"], start=1):
        got = sheet.width(n)
        # The writer stores a width with the font's padding added.
        if got is None or not (width <= got < width + 1):
            problems.append(f"column {n} width {got!r}, expected about {width}")

    rows = expected["rows"]
    if sheet.max_row != len(rows) + 1 and not (len(rows) == 0 and sheet.max_row == 1):
        problems.append(f"sheet has {sheet.max_row} rows, expected {len(rows) + 1}")
    for r in range(len(rows) if sheet.max_row == len(rows) + 1 else 0):
        cells = sheet.row(r + 1)
        for c, want in enumerate(rows[r]):
            cell = cells[c] if c < len(cells) else None
            if cell is None or not matches(cell, want):
                got = None if cell is None else cell.value
                problems.append(f"row {r + 2} column {c + 1}: {got!r} != {want!r}")
                if len(problems) > 20:
                    break
        if len(problems) > 20:
            break

    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
