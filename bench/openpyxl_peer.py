#!/usr/bin/python3
"""The peer of BM_Export65001: writes the same cells with openpyxl in
write-only mode and prints the seconds it took.
    python3 openpyxl_peer.py CELLS.tsv OUT.xlsx"""

import sys
import time

import openpyxl
from openpyxl.cell import WriteOnlyCell
from openpyxl.styles import Alignment, Font


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = f.read().split("\n")
    headers = lines[0].split("\t")
    rows = [line.split("\t") for line in lines[1:] if line]
    start = time.perf_counter()
    book = openpyxl.Workbook(write_only=True)
    sheet = book.create_sheet()
    for n, width in enumerate([13, 13, 13, 13, 13, 33]):
        sheet.column_dimensions[openpyxl.utils.get_column_letter(n + 1)].width = width
    sheet.row_dimensions[1].height = 50
    header = []
    for caption in headers:
        cell = WriteOnlyCell(sheet, value=caption)
        cell.font = Font(bold=True)
        cell.alignment = Alignment(vertical="center")
        header.append(cell)
    sheet.append(header)
    for texts in rows:
        values = []
        for t in texts:
            try:
                values.append(float(t.strip().rstrip(".")) if t.strip() else None)
            except ValueError:
                values.append(t)
        sheet.append(values)
    book.save(sys.argv[2])
    print(time.perf_counter() - start)


if __name__ == "__main__":
    main()
