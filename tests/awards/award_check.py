"""Checks the award sheets of a workbook against a tally of its own.

Usage: award_check.py REPORT.adi WORKBOOK.xlsx DATA_DIR

Reads the report by the lengths in its tags, tallies the DXCC, WAS, WAZ and
VUCC awards by the rules the README gives them, with the ADIF 3.1.6 tables
in DATA_DIR, and compares the workbook's last four sheets with that tally,
cell for cell: the values, C filled green and W amber and nothing else
filled, the bold header, the frozen panes and the filter. Prints each
difference and exits 1 on any; exits 77 where openpyxl is missing, so that
the test is skipped."""
import csv
import re
import sys

try:
    import openpyxl
    from openpyxl.utils import get_column_letter
except ImportError:
    print("openpyxl is not installed")
    sys.exit(77)

TAG = re.compile(rb"<([^:<>]+)(?::(\d+)(?::[^>]*)?)?>")
DIGITS = re.compile(r"[0-9]+")
GRID = re.compile(r"[A-R]{2}[0-9]{2}")
ESCAPE = re.compile(r"_x([0-9A-Fa-f]{4})_")
FIRST_MODE_GROUPS = ["CW", "PHONE", "DATA", "IMAGE"]
WANTED = {"DXCC", "COUNTRY", "STATE", "CQZ", "GRIDSQUARE", "VUCC_GRIDS",
          "BAND", "APP_LOTW_MODEGROUP", "QSL_RCVD"}


def text_of(value):
    """A value's bytes as a spreadsheet shows them: UTF-8, else each byte
    read as Windows-1252, the bytes it leaves undefined as themselves."""
    try:
        return value.decode("utf-8")
    except UnicodeDecodeError:
        return "".join(bytes([b]).decode("cp1252", errors="ignore") or chr(b)
                       for b in value)


def shown(value):
    """A cell's value as a spreadsheet shows it: openpyxl leaves each _xHHHH_
    of a text as it stands, where Excel and LibreOffice read the UTF-16 unit
    HHHH."""
    if not isinstance(value, str):
        return value
    units = ESCAPE.sub(lambda found: chr(int(found.group(1), 16)), value)
    return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace")


def qsos(path):
    """Each QSO closed by <eor>, as a dict of the fields the awards read,
    the name in upper case; the fields before <eoh> are the header's."""
    data = open(path, "rb").read()
    eoh = re.search(rb"<eoh>", data, re.IGNORECASE)
    at = eoh.end() if eoh else 0
    record = {}
    while True:
        tag = TAG.search(data, at)
        if tag is None:
            return
        name = tag.group(1).decode("ascii", "replace").upper()
        at = tag.end()
        if tag.group(2) is None:
            if name == "EOR":
                yield record
                record = {}
            elif name == "APP_LOTW_EOF":
                return
            continue
        length = int(tag.group(2))
        if name in WANTED:
            record[name] = text_of(data[at:at + length])
        at += length


def read_tables(folder):
    def rows(name):
        with open(f"{folder}/{name}", newline="", encoding="utf-8") as f:
            return list(csv.DictReader(f))
    entities = {int(r["code"]): (r["name"], r["deleted"] == "yes")
                for r in rows("dxcc-entities.csv") if r["code"] != "0"}
    bands = [(r["band"].upper(), float(r["lower_mhz"])) for r in rows("bands.csv")]
    states = {r["code"]: r["name"] for r in rows("us-states.csv")}
    return entities, bands, states


def number(value):
    """A decimal number, leading zeros allowed; None for anything else."""
    return int(value) if value and DIGITS.fullmatch(value) else None


class Award:
    """Marks by slot and column: 2 confirmed, 1 worked."""

    def __init__(self):
        self.marks = {}
        self.modes = set()
        self.bands = set()

    def add(self, slot, qso, mark):
        columns = ["Mixed"]
        mode = qso.get("APP_LOTW_MODEGROUP", "").upper()
        band = qso.get("BAND", "").upper()
        if mode:
            columns.append(("mode", mode))
            self.modes.add(mode)
        if band:
            columns.append(("band", band))
            self.bands.add(band)
        cells = self.marks.setdefault(slot, {})
        for column in columns:
            cells[column] = max(cells.get(column, 0), mark)

    def columns(self, band_order):
        known = {b: i for i, (b, _) in enumerate(band_order)}
        modes = sorted(self.modes, key=lambda m: (
            FIRST_MODE_GROUPS.index(m) if m in FIRST_MODE_GROUPS else 4, m))
        bands = sorted(self.bands, key=lambda b: (known.get(b, len(known)), b))
        return ["Mixed"] + [("mode", m) for m in modes] + [("band", b) for b in bands]


def tally(report, tables):
    entities, bands, states = tables
    band_lower = dict(bands)
    awards = {name: Award() for name in ("DXCC", "WAS", "WAZ", "VUCC")}
    unknown_names = {}
    dxcc_seen = False
    for qso in qsos(report):
        mark = 2 if qso.get("QSL_RCVD") in ("Y", "V") else 1
        dxcc = number(qso.get("DXCC"))
        dxcc_seen = dxcc_seen or bool(qso.get("DXCC"))
        if dxcc:
            awards["DXCC"].add(dxcc, qso, mark)
            if dxcc not in entities and not unknown_names.get(dxcc):
                unknown_names[dxcc] = qso.get("COUNTRY", "")
        state = qso.get("STATE", "").upper()
        state = "MD" if state == "DC" else state
        if dxcc in (291, 6, 110) and state in states:
            awards["WAS"].add(state, qso, mark)
        zone = number(qso.get("CQZ"))
        if zone is not None and 1 <= zone <= 40:
            awards["WAZ"].add(zone, qso, mark)
        if band_lower.get(qso.get("BAND", "").upper(), 0) >= 50:
            if qso.get("VUCC_GRIDS"):
                grids = [g.strip()[:4].upper() for g in qso["VUCC_GRIDS"].split(",")]
            else:
                grids = [qso.get("GRIDSQUARE", "")[:4].upper()]
            for grid in grids:
                if GRID.fullmatch(grid):
                    awards["VUCC"].add(grid, qso, mark)
    return awards, unknown_names, dxcc_seen


def expected_sheets(report, tables):
    """Each sheet as its expected cells, by (row, column) from 1, with the
    fills of the marks, or as None where it has nothing to count."""
    entities, bands, states = tables
    awards, unknown_names, dxcc_seen = tally(report, tables)
    dxcc_rows = [(code, name, True) for code, (name, deleted)
                 in sorted(entities.items(), key=lambda e: e[1][0].encode())
                 if not deleted]
    dxcc_rows += [(code, unknown_names[code] or f"DXCC {code}", True)
                  for code in sorted(unknown_names)]
    dxcc_rows += [(code, name + " (deleted)", False) for code, (name, deleted)
                  in sorted(entities.items(), key=lambda e: e[1][0].encode())
                  if deleted and code in awards["DXCC"].marks]
    us = sorted(c for c in states if c != "DC")
    sheets = {
        "DXCC": (["DXCC", "Entity"], [((c, n), c, counted) for c, n, counted in dxcc_rows],
                 dxcc_seen),
        "WAS": (["State", "Name"], [((s, states[s]), s, True) for s in us],
                bool(awards["WAS"].marks)),
        "WAZ": (["Zone"], [((z,), z, True) for z in range(1, 41)],
                bool(awards["WAZ"].marks)),
        "VUCC": (["Grid"], [((g,), g, True) for g in sorted(awards["VUCC"].marks)],
                 bool(awards["VUCC"].marks)),
    }
    out = {}
    for name, (own, rows, anything) in sheets.items():
        award = awards[name]
        columns = award.columns(bands)
        out[name] = layout(own, columns, rows, award) if anything else None
    return out


def layout(own, columns, rows, award):
    cells = {(3, i + 1): (title, None) for i, title in enumerate(own)}
    first = len(own) + 1
    for j, column in enumerate(columns):
        cells[(3, first + j)] = (column if column == "Mixed" else column[1], None)
    confirmed = [0] * len(columns)
    worked = [0] * len(columns)
    for r, (values, slot, counted) in enumerate(rows, start=4):
        for i, value in enumerate(values):
            cells[(r, i + 1)] = (value, None)
        marks = award.marks.get(slot, {})
        for j, column in enumerate(columns):
            mark = marks.get(column, 0)
            if mark:
                cells[(r, first + j)] = ("C" if mark == 2 else "W",
                                         "green" if mark == 2 else "amber")
            if counted and mark:
                worked[j] += 1
                confirmed[j] += mark == 2
    cells[(1, 1)] = ("Confirmed", None)
    cells[(2, 1)] = ("Worked", None)
    for j in range(len(columns)):
        cells[(1, first + j)] = (confirmed[j], None)
        cells[(2, first + j)] = (worked[j], None)
    last = (3 + len(rows), len(own) + len(columns))
    return cells, len(own), last


def colour(cell):
    """green, amber, or None for a cell without a fill; anything else by
    its colour."""
    fill = cell.fill
    if fill is None or fill.fill_type in (None, "none"):
        return None
    rgb = fill.fgColor.rgb if fill.fill_type == "solid" else None
    if not isinstance(rgb, str) or len(rgb) < 6:
        return f"{fill.fill_type} fill"
    r, g, b = (int(rgb[-6:][i:i + 2], 16) for i in (0, 2, 4))
    if g > r and g > b:
        return "green"
    if r > 200 and 100 < g < r and b < 80:
        return "amber"
    return rgb


def compare(name, sheet, expected, say):
    if expected is None:
        found = [(c.coordinate, c.value) for row in sheet.iter_rows()
                 for c in row if c.value is not None]
        line = sheet["A1"].value or ""
        if (len(found) != 1 or "nothing to count" not in line
                or "QSL details" not in line):
            say(f"{name}: expected only the line of nothing to count in A1, found {found}")
        return
    cells, own, (last_row, last_column) = expected
    for row in sheet.iter_rows():
        for cell in row:
            if (cell.row, cell.column) in cells:
                continue
            if cell.value is not None or colour(cell) is not None:
                say(f"{name}!{cell.coordinate}: {cell.value!r} with fill "
                    f"{colour(cell)}, expected nothing")
    for (r, c), (value, fill) in sorted(cells.items()):
        cell = sheet.cell(row=r, column=c)
        where = f"{name}!{cell.coordinate}"
        found = shown(cell.value)
        if found != value or type(found) is not type(value):
            say(f"{where}: {found!r}, expected {value!r}")
        if colour(cell) != fill:
            say(f"{where}: fill {colour(cell)}, expected {fill}")
        if (r == 3) != bool(cell.font.b):
            say(f"{where}: bold {bool(cell.font.b)}, expected {r == 3}")
    freeze = f"{get_column_letter(own + 1)}4"
    if sheet.freeze_panes != freeze:
        say(f"{name}: panes frozen at {sheet.freeze_panes}, expected {freeze}")
    ref = f"A3:{get_column_letter(last_column)}{last_row}"
    if sheet.auto_filter.ref != ref:
        say(f"{name}: filter {sheet.auto_filter.ref}, expected {ref}")


def main(report, workbook, data):
    expected = expected_sheets(report, read_tables(data))
    book = openpyxl.load_workbook(workbook)
    differences = []
    names = book.sheetnames[-4:]
    if names != list(expected):
        differences.append(f"last sheets {names}, expected {list(expected)}")
    else:
        for name in names:
            compare(name, book[name], expected[name], differences.append)
    for line in differences:
        print(line)
    return 1 if differences else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
