"""Prints what a spreadsheet reader finds in an .xlsx file, for the tests
to compare: each sheet's name, frozen cell and filter, and whether its
columns are as wide as their values need, then each cell that holds a
value, one a line, as its place, its type (s text, n number, d date or
time), a ! when bold, its number format and its value, text decoded as a
spreadsheet decodes it (openpyxl hands it back as stored).
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


def shown_length(cell):
    """The characters a spreadsheet shows for the cell: a date in the
    reader's own short form takes up to 10, a time its format's, a number
    its digits as its format writes them, text its characters."""
    if cell.is_date:
        return 10 if isinstance(cell.value, datetime.datetime) else len(cell.number_format)
    if cell.data_type == "n" and cell.number_format != "General":
        whole, point, fraction = cell.number_format.partition(".")
        return len(f"{cell.value:0{len(whole) + len(point) + len(fraction)}.{len(fraction)}f}")
    return len(shown(cell.value))


def needed_widths(sheets, header_row, narrowest):
    """Each column's width over the sheets, in whole characters: its widest
    value and a character more, and its header with room for the filter's
    button, within narrowest to 60 characters."""
    needs = {}
    for sheet in sheets:
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is not None:
                    room = shown_length(cell) + (3 if cell.row == header_row else 1)
                    needs[cell.column_letter] = max(needs.get(cell.column_letter, narrowest), room)
    return {letter: min(need, 60) for letter, need in needs.items()}


def sheet_needs(book):
    """The widths each sheet needs: the QSOs' sheets share their columns'
    widths, header in row 1; an award sheet has its own, header in row 3,
    but for one that holds only its line of what the report lacks, which
    sizes no column."""
    qsos = [sheet for sheet in book.worksheets if sheet.title.startswith("QSOs")]
    shared = needed_widths(qsos, 1, 6)
    needs = {}
    for sheet in book.worksheets:
        if sheet in qsos:
            needs[sheet.title] = shared
        elif sheet.auto_filter.ref is None:
            needs[sheet.title] = {}
        else:
            needs[sheet.title] = needed_widths([sheet], 3, 4)
    return needs


book = openpyxl.load_workbook(sys.argv[1])
needs_of = sheet_needs(book)
out = sys.stdout
for sheet in book.worksheets:
    needs = needs_of[sheet.title]
    # Widths as whole characters, without the library's padding to pixels.
    widths = {letter: int(dimension.width)
              for letter, dimension in sheet.column_dimensions.items()}
    wrong = " ".join(f"{letter}={widths.get(letter)} not {need}"
                     for letter, need in sorted(needs.items())
                     if widths.get(letter) != need)
    out.write(f"sheet {sheet.title} freeze={sheet.freeze_panes} "
              f"filter={sheet.auto_filter.ref} widths {wrong or 'fit'}\n")
    for row in sheet.iter_rows():
        for cell in row:
            if cell.value is None:
                continue
            bold = "!" if cell.font.b else ""
            out.write(f"{cell.coordinate} {cell.data_type}{bold} "
                      f"{cell.number_format} {shown(cell.value)}\n")
