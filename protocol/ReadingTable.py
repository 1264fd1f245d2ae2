#!/usr/bin/env python3
# Writes ReadingTable.cpp from the Appendix A table of identifiers (a TSV with the columns table,
# DI3, DI2, DI1, DI0, format, length, unit, access, name, sign; records followed by their field
# rows "A.x-field"). Names and formats are copied, never retyped.
#   python3 protocol/ReadingTable.py protocol/data/appendix-a.tsv > protocol/ReadingTable.cpp
import re
import sys

TABLES = ["A.1", "A.2", "A.3", "A.4", "A.5", "A.6", "A.7"]
UNITS = {"℃": "°C", "分": "min", "次": "", "年月日时分": "", "毫秒": "ms", "秒": "s", "位": "",
         "年月日星期": "", "时分秒": "", "月日时分": "", "日时": ""}
# What to know when checking a row against the standard, by pattern.
NOTES = {
    "04 00 01 01": "WW: 0 Sunday .. 6 Saturday",
    "04 00 04 01": "NNNNNNNNNNNN, leading zeros kept",
    "04 00 04 02": "NNNNNNNNNNNN, leading zeros kept",
    "04 00 0B 01": "9999: no settlement day",
    "04 00 0B 02": "9999: no settlement day",
    "04 00 0B 03": "9999: no settlement day",
    "04 00 0C 01~0A": "write only; level byte PA first in display order",
    "04 01 00 00": "NN: day time-segment table number",
    "04 02 00 00": "NN: day time-segment table number",
    "04 01 00 01~08": "NN: tariff number",
    "04 02 00 01~08": "NN: tariff number",
}


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def parameter_token(fmt, name, length):
    """The parameters (A.5) that are not numbers: texts, words, addresses, passwords, identifiers."""
    if "(ASCII)" in name:
        return "ASCII*" + length
    if fmt == "NNNNNNNNNNNN":
        return "DIGITS*6"  # addresses and meter numbers: digit for digit
    if "状态字" in name:
        return "WORD*2"
    if "特征字" in name or "模式字" in name:
        return "WORD*1"
    if "密码" in name or "显示数据项" in name:
        return "HEX*4"  # passwords and the identifiers of display lists
    return ""


def token(fmt, unit, sign, name="", length=""):
    """One field of the layout notation of Reading.h, and its repeat count ("" for none)."""
    repeat = ""
    m = re.fullmatch(r"(.+?)×(\d+)", fmt)
    if m:
        fmt, repeat = m.group(1), m.group(2)
    unit = UNITS.get(unit, unit)
    special = parameter_token(fmt, name, length)
    if special:
        body = special
    elif fmt == "C0C1C2C3" or (fmt == "XXXXXXXX" and "数据标识" in name):
        body = "HEX*4"  # operator codes and data identifiers are not numbers
    elif not fmt.startswith("X") and not fmt.startswith("N"):
        body = fmt
    else:
        body = ("-" if sign else "") + fmt + ("[" + unit + "]" if unit else "")
    return body, repeat


def field_tokens(fmt, unit, sign, name="", length=""):
    """The fields of a format such as "XX.XXXX,YYMMDDhhmm" with units "kW,年月日时分"."""
    block = fmt.endswith("×(k+1)")
    if block:
        fmt = fmt[: -len("×(k+1)")].strip("()")
    units = unit.split(",") if unit else []
    parts = fmt.split(",")
    if len(units) == 1 and len(parts) > 1:  # "次,分" names both; a single unit belongs to the first
        units = units + [""] * (len(parts) - 1)
    fields, repeat = [], "(k+1)" if block else ""
    for i, part in enumerate(parts):
        body, r = token(part, units[i] if i < len(units) else "", sign and part.startswith("X"), name,
                        length if len(parts) == 1 else "")
        fields.append(body)
        repeat = r or repeat
    return fields, repeat


def entries_of(repeat, fields):
    if repeat == "(k+1)":
        return "total,T"
    if repeat == "3":
        return "A,B,C"
    if repeat == "4":
        return "total,A,B,C"
    if repeat:
        return "*" + repeat
    return ""


def pattern(row):
    return " ".join(row[1:5])


def main(path):
    rows = [line.rstrip("\n").split("\t") for line in open(path, encoding="utf-8")][1:]
    rows = [r + [""] * (11 - len(r)) for r in rows]
    fields = {}
    for r in rows:
        if r[0].endswith("-field"):
            fields.setdefault((r[0][:-6], pattern(r)), []).append(r)
    out = []
    for r in rows:
        if r[0] not in TABLES:
            continue
        table, fmt, unit, access, name, sign = r[0], r[5], r[7], r[8], r[9], r[10] == "sign"
        names, request = "", ""
        if table == "A.7":
            # the row's format is the data the master sends with the read; the reply is the record
            request = " ".join(t for t in fmt.split(","))
            lay, ent = "LOADBLOCK", ""
            names = "|".join(f[9] for f in fields[("A.7", "06 00 00 00~02")]
                             if f[5] not in ("A0A0", "HEX", "AA", "E5"))
        elif fmt.startswith("冻结时间,"):
            lay, ent = "FREEZEBLOCK", ""  # the items DI1 = 00..0A and 10 one after the other
        elif fmt == "记录(见字段)" or (table in ("A.4", "A.6") and (table, pattern(r)) in fields
                                        and "," in fmt and "×3" not in fmt):
            parts, labels = [], []
            for f in fields[(table, pattern(r))]:
                bodies, rep = field_tokens(f[5], f[7], f[10] == "sign", f[9])
                parts.append("+".join(bodies) + ("×" + rep if rep else ""))
                labels.append(f[9])
            lay, ent, names = " ".join(parts), "", "|".join(labels)
        else:
            parts, rep = field_tokens(fmt, unit, sign, name, r[6])
            if table == "A.4" and "×" in fmt and rep not in ("3",):
                # a record of several fields repeated inside one entry (programming: 10 identifiers)
                parts = [p + ("×" + rep if i == len(parts) - 1 else "") for i, p in enumerate(parts)]
                rep = ""
            if table == "A.4" and fmt == "XXXXXX×6":
                parts, rep = ["XXXXXX"], "6"
            lay, ent = " ".join(parts), entries_of(rep, parts)
        row = [pattern(r), lay, ent, name, NOTES.get(pattern(r), ""), access, names] + ([request] if request else [])
        out.append("    {%s}," % ", ".join(c_string(c) for c in row))
        if table != getattr(main, "last", None):
            out.insert(len(out) - 1, "    // Table %s" % table)
            main.last = table
    print("// Generated by protocol/ReadingTable.py from the identifier table of DL/T 645-2007 Appendix A;")
    print("// one row per identifier or pattern, in the order of the standard's tables.")
    print('#include "protocol/ReadingTable.h"')
    print()
    print("const std::vector<TReadingFormat>& AppendixRows() {")
    print("  static const std::vector<TReadingFormat> rows = {")
    print("\n".join(out))
    print("  };")
    print("  return rows;")
    print("}")


main(sys.argv[1])
