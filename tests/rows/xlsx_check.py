"""Prints what a spreadsheet reader finds in an .xlsx file, for the tests
to compare: each sheet's name, frozen cell, filter and column widths, then
each cell that holds a value, one a line, as its place, its type (s text,
n number, d date or time), a ! when bold, its number format and its value,
text decoded as a spreadsheet decodes it (openpyxl hands it back as stored).
Exits with 77 where openpyxl is missing, so that the test is skipped."""
import datetime
import re
import sys

try:
    import openpyxl
except ImportError:
    print("openpyxl is not installed")
    sys.exit(77)


ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")


def decoded(text):
    """Each _xHHHH_ as the UTF-16 unit HHHH, as Excel and LibreOffice read a
    string; a pair of them may make one character."""
    units = ESCAPE.sub(lambda found: chr(int(found.group(1), 16)), text)
    return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace")


def shown(value):
    if isinstance(value, datetime.datetime):
        return value.date().isoformat() if value.time() == datetime.time() else value.isoformat()
    if isinstance(value, datetime.time):
        return value.isoformat()
    if isinstance(value, str):
        return decoded(value)
    return str(value)


book = openpyxl.load_workbook(sys.argv[1])
out = sys.stdout
for sheet in book.worksheets:
    # Widths as whole characters, without the library's padding to pixels.
    widths = " ".join(f"{letter}={int(dimension.width)}"
                      for letter, dimension in sorted(sheet.column_dimensions.items()))
    out.write(f"sheet {sheet.title} freeze={sheet.freeze_panes} "
              f"filter={sheet.auto_filter.ref} {widths}\n")
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            bold = "!" if cell.font.b else ""
            out.write(f"{cell.coordinate} {cell.data_type}{bold} "
                      f"{cell.number_format} {shown(cell.value)}\n")
