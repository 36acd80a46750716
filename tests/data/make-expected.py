#!/usr/bin/env python3
"""Writes the expected structure reports (*.expected.txt) from the fixtures' own descriptions
(../shared/fixtures/specs/*.json), independently of the program: the report layout and the ADO type
names are spelled out here once more by hand.

    tests/data/make-expected.py ../shared/fixtures/specs

The first line of every expected report names the database as "<name>.mdb" (or .accdb), the way
the tests pass it to the exporter from inside the folder that holds it.
"""
import json
import sys
from pathlib import Path

# Access type of the fixture description -> (ADO type code, type name in the report)
TYPES = {
    "BOOLEAN": (11, "Boolean"),
    "BYTE": (17, "UnsignedTinyInt"),
    "INT": (2, "SmallInt"),
    "LONG": (3, "Number"),
    "MONEY": (6, "Currency"),
    "FLOAT": (4, "Single"),
    "DOUBLE": (5, "Double"),
    "SHORT_DATE_TIME": (7, "Date/Time"),
    "BINARY": (204, "adVarBinary"),
    "TEXT": (202, "Text"),
    "OLE": (205, "OLE Object"),
    "MEMO": (203, "Memo"),
    "GUID": (72, "GUID"),
    "NUMERIC": (131, "Numeric"),
    "BIG_INT": (20, "BigInt"),
    "EXT_DATE_TIME": (135, "Date/Time"),
}


def rows_of(table):
    rows = table.get("rows")
    if rows is None:
        return 0
    if isinstance(rows, list):
        return len(rows)
    return rows["generate"]


def field_line(column):
    code, name = TYPES[column["type"]]
    if len(column["name"]) >= 25:
        return column["name"] + str(code)
    type_text = name + ("[%d]" % column["length"] if name == "Text" else "")
    return (" " + column["name"] + " " * (25 - len(column["name"])) + " " + type_text
            + " " * max(0, 12 - len(type_text)) + " " + column.get("description", ""))


def report(database, tables, ticked=None):
    user = sorted((t for t in tables if "columns" in t), key=lambda t: (t["name"].lower(), t["name"]))
    chosen = [t for t in user if ticked is None or t["name"] in ticked]
    lines = [" Printing From " + database, "", "Printing Table Structures:"]
    lines += ["%d) %s" % (i + 1, t["name"]) for i, t in enumerate(chosen)]
    lines += ["", ""]
    for t in chosen:
        lines.append("Table Name : %s    Total Fields : %d    Total Number Of Records For Table: %d"
                     % (t["name"], len(t["columns"]), rows_of(t)))
        lines.append("")
        lines.append("Field Name" + " " * 16 + "DataType" + " " * 5 + "Description")
        lines.append("_" * 10 + " " * 16 + "_" * 8 + " " * 5 + "_" * 11)
        lines += [field_line(c) for c in t["columns"]]
        lines += ["", ""]
    lines.append("")
    return "".join(line + "\r\n" for line in lines).encode("utf-8")


def main():
    specs = Path(sys.argv[1])
    out = Path(__file__).resolve().parent
    runs = [
        ("sample", ".mdb", None, "sample"),
        ("sample", ".mdb", {"Orders", "Shippers"}, "sample-some"),
        ("layout", ".mdb", None, "layout"),
        ("types", ".mdb", None, "types"),
        ("types2019", ".accdb", None, "types2019"),
        ("password", ".mdb", None, "password"),
        ("password-plain", ".mdb", None, "password-plain"),
        ("many", ".accdb", None, "many"),
    ]
    for spec, extension, ticked, name in runs:
        tables = json.loads((specs / (spec + ".json")).read_text(encoding="utf-8"))["tables"]
        (out / (name + ".expected.txt")).write_bytes(report(spec + extension, tables, ticked))


if __name__ == "__main__":
    main()
