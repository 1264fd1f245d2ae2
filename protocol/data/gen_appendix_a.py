#!/usr/bin/env python3
# Writes appendix-a.tsv beside it: the identifiers of DL/T 645-2007 Appendix A as gathered from public sources (see appendix-a-sources.md).
# Columns: table DI3 DI2 DI1 DI0 format length unit access name sign
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

rows = []

def row(table, di3, di2, di1, di0, fmt, length, unit, access, name, sign=""):
    rows.append([table, di3, di2, di1, di0, fmt, str(length), unit, access, name, sign])

def field(parent_table, di3, di2, di1, di0, fmt, length, unit, name, sign=""):
    rows.append([parent_table + "-field", di3, di2, di1, di0, fmt, str(length), unit, "", name, sign])

def h(n):
    return "%02X" % n

RO, RW, WO = "只读", "读写", "只写"

# ---------------------------------------------------------------- A.1
# (DI2, name stem, unit, signed)  -- names as in 600888/dlt645 type_definitions.h / bobyuxinyang header
A1_MAIN = [
    (0x00, "组合有功", "kWh", True),
    (0x01, "正向有功", "kWh", False),
    (0x02, "反向有功", "kWh", False),
    (0x03, "组合无功1", "kvarh", True),
    (0x04, "组合无功2", "kvarh", True),
    (0x05, "第一象限无功", "kvarh", False),
    (0x06, "第二象限无功", "kvarh", False),
    (0x07, "第三象限无功", "kvarh", False),
    (0x08, "第四象限无功", "kvarh", False),
    (0x09, "正向视在", "kVAh", False),
    (0x0A, "反向视在", "kVAh", False),
]
E = "XXXXXX.XX"
for di2, stem, unit, signed in A1_MAIN:
    s = "sign" if signed else ""
    # current
    row("A.1", "00", h(di2), "00", "00", E, 4, unit, RO, "(当前)%s总电能" % stem, s)
    row("A.1", "00", h(di2), "01~3F", "00", E, 4, unit, RO,
        "(当前)%s费率1电能…(当前)%s费率63电能" % (stem, stem), s)
    row("A.1", "00", h(di2), "FF", "00", "%s×(k+1)" % E, "4×(k+1)", unit, RO,
        "(当前)%s电能数据块" % stem, s)
    # settlement days 1..12
    row("A.1", "00", h(di2), "00", "01~0C", E, 4, unit, RO,
        "(上1结算日)%s总电能…(上12结算日)%s总电能" % (stem, stem), s)
    row("A.1", "00", h(di2), "01~3F", "01~0C", E, 4, unit, RO,
        "(上1结算日)%s费率1电能…(上12结算日)%s费率63电能" % (stem, stem), s)
    row("A.1", "00", h(di2), "FF", "01~0C", "%s×(k+1)" % E, "4×(k+1)", unit, RO,
        "(上1结算日)%s电能数据块…(上12结算日)%s电能数据块" % (stem, stem), s)

# totals 80..86
A1_TOTALS = [
    (0x80, "关联总电能", "kWh"),
    (0x81, "正向有功基波总电能", "kWh"),
    (0x82, "反向有功基波总电能", "kWh"),
    (0x83, "正向有功谐波总电能", "kWh"),
    (0x84, "反向有功谐波总电能", "kWh"),
    (0x85, "铜损有功总电能补偿量", "kWh"),
    (0x86, "铁损有功总电能补偿量", "kWh"),
]
for di2, name, unit in A1_TOTALS:
    row("A.1", "00", h(di2), "00", "00", E, 4, unit, RO, "(当前)" + name)
    row("A.1", "00", h(di2), "00", "01~0C", E, 4, unit, RO,
        "(上1结算日)%s…(上12结算日)%s" % (name, name))

# per phase: base 15 (A), 29 (B), 3D (C); offsets 0..9 then 7F..85 (i.e. 94..9A for A)
A1_PHASE = [
    (0x00, "正向有功电能", "kWh", False),
    (0x01, "反向有功电能", "kWh", False),
    (0x02, "组合无功1电能", "kvarh", True),
    (0x03, "组合无功2电能", "kvarh", True),
    (0x04, "第一象限无功电能", "kvarh", False),
    (0x05, "第二象限无功电能", "kvarh", False),
    (0x06, "第三象限无功电能", "kvarh", False),
    (0x07, "第四象限无功电能", "kvarh", False),
    (0x08, "正向视在电能", "kVAh", False),
    (0x09, "反向视在电能", "kVAh", False),
]
A1_PHASE_HI = [  # DI2 = phase base + 0x7F + i  (A: 94..9A, B: A8..AE, C: BC..C2)
    (0x00, "关联电能", "kWh"),
    (0x01, "正向有功基波电能", "kWh"),
    (0x02, "反向有功基波电能", "kWh"),
    (0x03, "正向有功谐波电能", "kWh"),
    (0x04, "反向有功谐波电能", "kWh"),
    (0x05, "铜损有功电能补偿量", "kWh"),
    (0x06, "铁损有功电能补偿量", "kWh"),
]
for base, ph in ((0x15, "A"), (0x29, "B"), (0x3D, "C")):
    for off, stem, unit, signed in A1_PHASE:
        s = "sign" if signed else ""
        n = ph + "相" + stem
        row("A.1", "00", h(base + off), "00", "00", E, 4, unit, RO, "(当前)" + n, s)
        row("A.1", "00", h(base + off), "00", "01~0C", E, 4, unit, RO,
            "(上1结算日)%s…(上12结算日)%s" % (n, n), s)
    for off, stem, unit in A1_PHASE_HI:
        n = ph + "相" + stem
        row("A.1", "00", h(base + 0x7F + off), "00", "00", E, 4, unit, RO, "(当前)" + n)
        row("A.1", "00", h(base + 0x7F + off), "00", "01~0C", E, 4, unit, RO,
            "(上1结算日)%s…(上12结算日)%s" % (n, n))

# ---------------------------------------------------------------- A.2
D = "XX.XXXX,YYMMDDhhmm"
A2_MAIN = [
    (0x01, "正向有功", "kW", False),
    (0x02, "反向有功", "kW", False),
    (0x03, "组合无功1", "kvar", True),
    (0x04, "组合无功2", "kvar", True),
    (0x05, "第一象限无功", "kvar", False),
    (0x06, "第二象限无功", "kvar", False),
    (0x07, "第三象限无功", "kvar", False),
    (0x08, "第四象限无功", "kvar", False),
    (0x09, "正向视在", "kVA", False),
    (0x0A, "反向视在", "kVA", False),
]
for di2, stem, unit, signed in A2_MAIN:
    s = "sign" if signed else ""
    u = unit + ",年月日时分"
    row("A.2", "01", h(di2), "00", "00", D, 8, u, RO, "(当前)%s总最大需量及发生时间" % stem, s)
    row("A.2", "01", h(di2), "01~3F", "00", D, 8, u, RO,
        "(当前)%s费率1最大需量及发生时间…(当前)%s费率63最大需量及发生时间" % (stem, stem), s)
    row("A.2", "01", h(di2), "FF", "00", "(%s)×(k+1)" % D, "8×(k+1)", u, RO,
        "(当前)%s最大需量及发生时间数据块" % stem, s)
    row("A.2", "01", h(di2), "00", "01~0C", D, 8, u, RO,
        "(上1结算日)%s总最大需量及发生时间…(上12结算日)%s总最大需量及发生时间" % (stem, stem), s)
    row("A.2", "01", h(di2), "01~3F", "01~0C", D, 8, u, RO,
        "(上1结算日)%s费率1最大需量及发生时间…(上12结算日)%s费率63最大需量及发生时间" % (stem, stem), s)
    row("A.2", "01", h(di2), "FF", "01~0C", "(%s)×(k+1)" % D, "8×(k+1)", u, RO,
        "(上1结算日)%s最大需量及发生时间数据块…(上12结算日)%s最大需量及发生时间数据块" % (stem, stem), s)

A2_PHASE = [
    (0x00, "正向有功", "kW", False),
    (0x01, "反向有功", "kW", False),
    (0x02, "组合无功1", "kvar", True),
    (0x03, "组合无功2", "kvar", True),
    (0x04, "第一象限无功", "kvar", False),
    (0x05, "第二象限无功", "kvar", False),
    (0x06, "第三象限无功", "kvar", False),
    (0x07, "第四象限无功", "kvar", False),
    (0x08, "正向视在", "kVA", False),
    (0x09, "反向视在", "kVA", False),
]
for base, ph in ((0x15, "A"), (0x29, "B"), (0x3D, "C")):
    for off, stem, unit, signed in A2_PHASE:
        s = "sign" if signed else ""
        u = unit + ",年月日时分"
        n = "%s相%s最大需量及发生时间" % (ph, stem)
        row("A.2", "01", h(base + off), "00", "00", D, 8, u, RO, "(当前)" + n, s)
        row("A.2", "01", h(base + off), "00", "01~0C", D, 8, u, RO,
            "(上1结算日)%s…(上12结算日)%s" % (n, n), s)

# ---------------------------------------------------------------- A.3
PH = ("A", "B", "C")
def a3_phase3(di2, fmt, length, unit, stem, block, sign=""):
    for i, p in enumerate(PH, 1):
        row("A.3", "02", h(di2), h(i), "00", fmt, length, unit, RO, "%s相%s" % (p, stem), sign)
    row("A.3", "02", h(di2), "FF", "00", "%s×3" % fmt, length * 3, unit, RO, block, sign)

def a3_total3(di2, fmt, length, unit, names, block, sign=""):
    for i, n in enumerate(names):
        row("A.3", "02", h(di2), h(i), "00", fmt, length, unit, RO, n, sign)
    row("A.3", "02", h(di2), "FF", "00", "%s×4" % fmt, length * 4, unit, RO, block, sign)

a3_phase3(0x01, "XXX.X", 2, "V", "电压", "电压数据块")
a3_phase3(0x02, "XXX.XXX", 3, "A", "电流", "电流数据块", "sign")
a3_total3(0x03, "XX.XXXX", 3, "kW",
          ["瞬时总有功功率", "瞬时A相有功功率", "瞬时B相有功功率", "瞬时C相有功功率"],
          "瞬时有功功率数据块", "sign")
a3_total3(0x04, "XX.XXXX", 3, "kvar",
          ["瞬时总无功功率", "瞬时A相无功功率", "瞬时B相无功功率", "瞬时C相无功功率"],
          "瞬时无功功率数据块", "sign")
a3_total3(0x05, "XX.XXXX", 3, "kVA",
          ["瞬时总视在功率", "瞬时A相视在功率", "瞬时B相视在功率", "瞬时C相视在功率"],
          "瞬时视在功率数据块", "sign")
a3_total3(0x06, "X.XXX", 2, "",
          ["总功率因数", "A相功率因数", "B相功率因数", "C相功率因数"],
          "功率因数数据块", "sign")
a3_phase3(0x07, "XXX.X", 2, "°", "相角", "相角数据块")
a3_phase3(0x08, "XX.XX", 2, "%", "电压波形失真度", "电压波形失真度数据块")
a3_phase3(0x09, "XX.XX", 2, "%", "电流波形失真度", "电流波形失真度数据块")
for di2, q in ((0x0A, "电压"), (0x0B, "电流")):
    for i, p in enumerate(PH, 1):
        row("A.3", "02", h(di2), h(i), "01~15", "XX.XX", 2, "%", RO,
            "%s相%s1次谐波含量…%s相%s21次谐波含量" % (p, q, p, q))
        row("A.3", "02", h(di2), h(i), "FF", "XX.XX×21", 42, "%", RO,
            "%s相%s谐波含量数据块" % (p, q))
A3_80 = [
    (0x01, "XXX.XXX", 3, "A", "零线电流", "sign"),
    (0x02, "XX.XX", 2, "Hz", "电网频率", ""),
    (0x03, "XX.XXXX", 3, "kW", "一分钟有功总平均功率", ""),
    (0x04, "XX.XXXX", 3, "kW", "当前有功需量", "sign"),
    (0x05, "XX.XXXX", 3, "kvar", "当前无功需量", "sign"),
    (0x06, "XX.XXXX", 3, "kVA", "当前视在需量", "sign"),
    (0x07, "XXX.X", 2, "℃", "表内温度", "sign"),
    (0x08, "XX.XX", 2, "V", "时钟电池电压(内部)", ""),
    (0x09, "XX.XX", 2, "V", "停电抄表电池电压(外部)", ""),
    (0x0A, "XXXXXXXX", 4, "分", "内部电池工作时间", ""),
]
for di0, fmt, length, unit, name, s in A3_80:
    row("A.3", "02", "80", "00", h(di0), fmt, length, unit, RO, name, s)

exec(open(os.path.join(HERE, "gen_a4_a7.py"), encoding="utf-8").read())

out = open(os.path.join(HERE, "appendix-a.tsv"), "w", encoding="utf-8")
out.write("\t".join(["table", "DI3", "DI2", "DI1", "DI0", "format", "length", "unit",
                     "access", "name", "sign"]) + "\n")
for r in rows:
    assert len(r) == 11, r
    for c in r:
        assert "\t" not in c and "\n" not in c, r
    out.write("\t".join(r) + "\n")
out.close()

from collections import Counter
c = Counter(r[0] for r in rows)
for k in sorted(c):
    print(k, c[k])
print("total", len(rows))
