"""Reads back what xlsx_names_test.cc wrote: python3 xlsx_names_test.py DIR"""
import datetime
import os
import sys

import openpyxl

folder = os.path.join(sys.argv[1], "Отчёты")
left = sorted(os.listdir(folder))
if left != ["日本.xlsx"]:
    sys.exit(f"{folder} holds {left}, not the .xlsx alone")
sheet = openpyxl.load_workbook(os.path.join(folder, "日本.xlsx"))["QSOs"]
row = [cell.value for cell in sheet[1]]
expected = ["Отчёты 日本", 14.074, datetime.datetime(2026, 10, 3)]
if row != expected:
    sys.exit(f"the row reads {row!r}, not {expected!r}")
