#!/usr/bin/python3
"""Reads a workbook back with openpyxl and compares it with what the test
expected: python3 check_workbook.py WORKBOOK EXPECTED.json

EXPECTED holds "headers" (captions), "widths" (sheet column widths) and
"rows" (the texts of every table row). A text that is a plain number must
come back as that number, any other text as the same text, an empty text as
an empty cell, a time "hh:mm:ss" as a time and a moment "hh:mm:ss mm/dd/yyyy"
as a date-time, each shown in that same pattern. Prints what differs and
exits 1, or exits 0."""

import datetime
import json
import re
import sys

import openpyxl
from openpyxl.utils import get_column_letter
from openpyxl.utils.escape import unescape

PLAIN_NUMBER = re.compile(r"^ *-?(\d+\.?\d*|\.\d+) *$")
TIME_OF_DAY = re.compile(r"^([01]\d|2[0-3]):[0-5]\d:[0-5]\d$")
DATE_TIME = re.compile(r"^([01]\d|2[0-3]):[0-5]\d:[0-5]\d \d\d/\d\d/\d{4}$")


def matches(cell, want):
    got = cell.value
    if want == "":
        return got is None
    if PLAIN_NUMBER.match(want):
        return isinstance(got, (int, float)) and float(got) == float(want.strip().rstrip("."))
    if DATE_TIME.match(want):
        return (isinstance(got, datetime.datetime) and got.strftime("%H:%M:%S %m/%d/%Y") == want
                and cell.number_format == "hh:mm:ss mm/dd/yyyy")
    if TIME_OF_DAY.match(want):
        return (isinstance(got, datetime.time) and got.strftime("%H:%M:%S") == want
                and cell.number_format == "hh:mm:ss")
    # Control characters travel as _xHHHH_ in the file; openpyxl decodes
    # them for shared strings only, so do it here too.
    return isinstance(got, str) and unescape(got) == want


def main():
    workbook_path, expected_path = sys.argv[1], sys.argv[2]
    with open(expected_path, encoding="utf-8") as f:
        expected = json.load(f)
    problems = []
    # openpyxl refuses a ".xls" name, so it is handed the open file.
    with open(workbook_path, "rb") as f:
        book = openpyxl.load_workbook(f)
    sheet = book.worksheets[0]

    headers = expected["headers"]
    for n, caption in enumerate(headers, start=1):
        cell = sheet.cell(row=1, column=n)
        if cell.value != caption:
            problems.append(f"header {n}: {cell.value!r} != {caption!r}")
        if not cell.font.bold:
            problems.append(f"header {n} is not bold")
        if cell.alignment.vertical != "center":
            problems.append(f"header {n} vertical alignment {cell.alignment.vertical!r}")
    height = sheet.row_dimensions[1].height
    if height != 50:
        problems.append(f"header row height {height!r}")
    for n, width in enumerate(expected["widths"], start=1):
        got = sheet.column_dimensions[get_column_letter(n)].width
        # The writer stores a width with the font's padding added.
        if got is None or not (width <= got < width + 1):
            problems.append(f"column {n} width {got!r}, expected about {width}")

    rows = expected["rows"]
    if sheet.max_row != len(rows) + 1 and not (len(rows) == 0 and sheet.max_row == 1):
        problems.append(f"sheet has {sheet.max_row} rows, expected {len(rows) + 1}")
    for r, cells in enumerate(sheet.iter_rows(min_row=2, max_row=len(rows) + 1)):
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
