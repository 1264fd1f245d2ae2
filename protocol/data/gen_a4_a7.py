# exec'd from gen_appendix_a.py (shares row/field/h/RO/RW/WO)

T6 = "YYMMDDhhmmss"
T5 = "YYMMDDhhmm"
E = "XXXXXX.XX"
PH = ("A", "B", "C")

def emit_record(table, di3, di2, di1, di0, name, fields, access=RO):
    """fields: list of (fmt, len, unit, name, sign)"""
    total = sum(f[1] for f in fields)
    fmt = ",".join(f[0] for f in fields) if len(fields) <= 4 else "记录(见字段)"
    row(table, di3, di2, di1, di0, fmt, total, "", access, name)
    for f in fields:
        field(table, di3, di2, di1, di0, f[0], f[1], f[2], f[3], f[4] if len(f) > 4 else "")
    return total

# ------------------------------------------------------------- A.4
def inc4(prefix, ph=""):
    # four energy increments; ph="" -> totals ("...总电能增量"), ph="A" -> "A相...电能增量"
    if ph == "":
        return [(E, 4, "kWh", "%s期间正向有功总电能增量" % prefix),
                (E, 4, "kWh", "%s期间反向有功总电能增量" % prefix),
                (E, 4, "kvarh", "%s期间组合无功1总电能增量" % prefix),
                (E, 4, "kvarh", "%s期间组合无功2总电能增量" % prefix)]
    return [(E, 4, "kWh", "%s期间%s相正向有功电能增量" % (prefix, ph)),
            (E, 4, "kWh", "%s期间%s相反向有功电能增量" % (prefix, ph)),
            (E, 4, "kvarh", "%s期间%s相组合无功1电能增量" % (prefix, ph)),
            (E, 4, "kvarh", "%s期间%s相组合无功2电能增量" % (prefix, ph))]

def moment5(prefix, ph):
    return [("XXX.X", 2, "V", "%s时刻%s相电压" % (prefix, ph)),
            ("XXX.XXX", 3, "A", "%s时刻%s相电流" % (prefix, ph), "sign"),
            ("XX.XXXX", 3, "kW", "%s时刻%s相有功功率" % (prefix, ph), "sign"),
            ("XX.XXXX", 3, "kvar", "%s时刻%s相无功功率" % (prefix, ph), "sign"),
            ("X.XXX", 2, "", "%s时刻%s相功率因数" % (prefix, ph), "sign")]

def start_end():
    return [(T6, 6, "", "发生时刻"), (T6, 6, "", "结束时刻")]

def phase_event_fields(prefix, with_moment, with_ah):
    f = start_end() + inc4(prefix)
    for p in PH:
        f += inc4(prefix, p)
        if with_moment:
            f += moment5(prefix, p)
    if with_ah:
        f += [(E, 4, "Ah", "%s期间总安时数" % prefix)]
        f += [(E, 4, "Ah", "%s期间%s相安时数" % (prefix, p)) for p in PH]
    return f

def phase_totals_row(di2, ev):
    fields = []
    for p in PH:
        fields.append(("XXXXXX", 3, "次", "%s相%s总次数" % (p, ev)))
        fields.append(("XXXXXX", 3, "分", "%s相%s总累计时间" % (p, ev)))
    row("A.4", "03", h(di2), "00", "00", "XXXXXX,XXXXXX×3", 18, "次,分", RO,
        "/".join("%s相%s总次数,总累计时间" % (p, ev) for p in PH))
    for f in fields:
        field("A.4", "03", h(di2), "00", "00", f[0], f[1], f[2], f[3])

def count_time_row(di2, di1, di0, name):
    row("A.4", "03", h(di2), di1, di0, "XXXXXX,XXXXXX", 6, "次,分", RO, name)

def count_row(di2, di1, di0, name):
    row("A.4", "03", h(di2), di1, di0, "XXXXXX", 3, "次", RO, name)

# 失压/欠压/过压/断相 (131 bytes), 失流/过流/断流 (115), 潮流反向/过载 (76)
for di2, ev, moment, ah in ((0x01, "失压", True, True), (0x02, "欠压", True, True),
                            (0x03, "过压", True, True), (0x04, "断相", True, True),
                            (0x0B, "失流", True, False), (0x0C, "过流", True, False),
                            (0x0D, "断流", True, False),
                            (0x0E, "潮流反向", False, False), (0x0F, "过载", False, False)):
    phase_totals_row(di2, ev)
    for i, p in enumerate(PH, 1):
        emit_record("A.4", "03", h(di2), h(i), "01~0A",
                    "(上1次)%s相%s记录…(上10次)%s相%s记录" % (p, ev, p, ev),
                    phase_event_fields(ev, moment, ah))

# 全失压
count_time_row(0x05, "00", "00", "全失压总次数,总累计时间")
emit_record("A.4", "03", "05", "00", "01~0A",
            "(上1次)全失压发生时刻,电流值,结束时刻…(上10次)全失压发生时刻,电流值,结束时刻",
            [(T6, 6, "", "发生时刻"), ("XXX.XXX", 3, "A", "电流值", "sign"), (T6, 6, "", "结束时刻")])
# 辅助电源失电
count_time_row(0x06, "00", "00", "辅助电源失电总次数,总累计时间")
emit_record("A.4", "03", "06", "00", "01~0A",
            "(上1次)辅助电源失电发生时刻,结束时刻…(上10次)辅助电源失电发生时刻,结束时刻",
            start_end())
# 逆相序 / 不平衡
for di2, ev in ((0x07, "电压逆相序"), (0x08, "电流逆相序")):
    count_time_row(di2, "00", "00", "%s总次数,总累计时间" % ev)
    f = start_end() + inc4(ev)
    for p in PH:
        f += inc4(ev, p)
    emit_record("A.4", "03", h(di2), "00", "01~0A", "(上1次)%s记录…(上10次)%s记录" % (ev, ev), f)
for di2, ev in ((0x09, "电压不平衡"), (0x0A, "电流不平衡")):
    count_time_row(di2, "00", "00", "%s总次数,总累计时间" % ev)
    f = start_end() + [("XX.XX", 2, "%", "最大不平衡率")] + inc4(ev)
    for p in PH:
        f += inc4(ev, p)
    emit_record("A.4", "03", h(di2), "00", "01~0A", "(上1次)%s记录…(上10次)%s记录" % (ev, ev), f)

# 电压合格率统计 (27 bytes)
def vq_fields(ph):
    p = (ph + "相") if ph else ""
    return [("XXXXXX", 3, "分", "%s电压监测时间" % p),
            ("XXXX.XX", 3, "%", "%s电压合格率" % p),
            ("XXXX.XX", 3, "%", "%s电压超限率" % p),
            ("XXXXXX", 3, "分", "%s电压超上限时间" % p),
            ("XXXXXX", 3, "分", "%s电压超下限时间" % p),
            ("XXX.X", 2, "V", "%s最高电压" % p),
            ("MMDDhhmm", 4, "", "%s最高电压出现时间" % p),
            ("XXX.X", 2, "V", "%s最低电压" % p),
            ("MMDDhhmm", 4, "", "%s最低电压出现时间" % p)]
emit_record("A.4", "03", "10", "00", "00", "本月电压合格率统计数据", vq_fields(""))
emit_record("A.4", "03", "10", "00", "01~0C",
            "(上1月)电压合格率统计数据…(上12月)电压合格率统计数据", vq_fields(""))
for i, p in enumerate(PH, 1):
    emit_record("A.4", "03", "10", h(i), "00", "本月%s相电压合格率统计数据" % p, vq_fields(p))
    emit_record("A.4", "03", "10", h(i), "01~0C",
                "(上1月)%s相电压合格率统计数据…(上12月)%s相电压合格率统计数据" % (p, p), vq_fields(p))

# 掉电
count_row(0x11, "00", "00", "掉电总次数")
emit_record("A.4", "03", "11", "00", "01~0A",
            "(上1次)掉电发生时刻,结束时刻…(上10次)掉电发生时刻,结束时刻", start_end())

# 需量超限
DEM = [("正向有功", "kW"), ("反向有功", "kW"), ("第1象限无功", "kvar"),
       ("第2象限无功", "kvar"), ("第3象限无功", "kvar"), ("第4象限无功", "kvar")]
row("A.4", "03", "12", "00", "00", "XXXXXX×6", 18, "次", RO, "需量超限总次数记录")
for n, u in DEM:
    field("A.4", "03", "12", "00", "00", "XXXXXX", 3, "次", "%s需量超限总次数" % n)
for i, (n, u) in enumerate(DEM, 1):
    emit_record("A.4", "03", "12", h(i), "01~0A",
                "(上1次)%s需量超限记录…(上10次)%s需量超限记录" % (n, n),
                start_end() + [("XX.XXXX", 3, u, "超限期间%s最大需量" % n),
                               (T5, 5, "", "超限期间最大需量发生时间")])

# 编程类 0330xxxx
OP = ("C0C1C2C3", 4, "", "操作者代码")
HAP = (T6, 6, "", "发生时刻")
def prog(di1, total_name, rec_name, fields):
    count_row(0x30, di1, "00", total_name)
    emit_record("A.4", "03", "30", di1, "01~0A",
                "(上1次)%s…(上10次)%s" % (rec_name, rec_name), fields)

prog("00", "编程总次数", "编程记录",
     [HAP, OP, ("XXXXXXXX×10", 40, "", "编程的前10个数据标识码(不足补FFFFFFFFH)")])

def clr_energy(prefix):
    f = [(E, 4, "kWh", "%s正向有功总电能" % prefix), (E, 4, "kWh", "%s反向有功总电能" % prefix)]
    f += [(E, 4, "kvarh", "%s第%s象限无功总电能" % (prefix, q)) for q in "一二三四"]
    for p in PH:
        f += [(E, 4, "kWh", "%s%s相正向有功电能" % (prefix, p)),
              (E, 4, "kWh", "%s%s相反向有功电能" % (prefix, p))]
        f += [(E, 4, "kvarh", "%s%s相第%s象限无功电能" % (prefix, p, q)) for q in "一二三四"]
    return f
prog("01", "电表清零总次数", "电表清零记录", [HAP, OP] + clr_energy("电量清零前"))

def clr_demand(prefix):
    DD = "XX.XXXX,YYMMDDhhmm"
    f = [(DD, 8, "kW", "%s正向有功总最大需量及发生时间" % prefix),
         (DD, 8, "kW", "%s反向有功总最大需量及发生时间" % prefix)]
    f += [(DD, 8, "kvar", "%s第%s象限无功总最大需量及发生时间" % (prefix, q)) for q in "一二三四"]
    for p in PH:
        f += [(DD, 8, "kW", "%s%s相正向有功最大需量及发生时间" % (prefix, p)),
              (DD, 8, "kW", "%s%s相反向有功最大需量及发生时间" % (prefix, p))]
        f += [(DD, 8, "kvar", "%s%s相第%s象限无功最大需量及发生时间" % (prefix, p, q)) for q in "一二三四"]
    return f
prog("02", "需量清零总次数", "需量清零记录", [HAP, OP] + clr_demand("需量清零前"))
prog("03", "事件清零总次数", "事件清零记录", [HAP, OP, ("XXXXXXXX", 4, "", "事件清零数据标识码")])
prog("04", "校时总次数", "校时记录",
     [OP, (T6, 6, "", "校时前时间"), (T6, 6, "", "校时后时间")])
tp = [HAP, OP]
for s in ("一", "二"):
    for d in range(1, 9):
        tp.append(("hhmmNN×14", 42, "", "编程前第%s套第%d日时段表数据" % (s, d)))
prog("05", "时段表编程总次数", "时段表编程记录", tp)
prog("06", "时区表编程总次数", "时区表编程记录",
     [HAP, OP, ("MMDDNN×14", 42, "", "编程前第一套时区表数据"),
      ("MMDDNN×14", 42, "", "编程前第二套时区表数据")])
prog("07", "周休日编程总次数", "周休日编程记录",
     [HAP, OP, ("NN", 1, "", "编程前周休日采用的日时段表号")])
prog("08", "节假日编程总次数", "节假日编程记录",
     [HAP, OP, ("YYMMDDNN×254", 1016, "", "编程前第1~254节假日数据")])
prog("09", "有功组合方式编程总次数", "有功组合方式编程记录",
     [HAP, OP, ("NN", 1, "", "编程前有功组合方式特征字")])
prog("0A", "无功组合方式1编程总次数", "无功组合方式1编程记录",
     [HAP, OP, ("NN", 1, "", "编程前无功组合方式1特征字")])
prog("0B", "无功组合方式2编程总次数", "无功组合方式2编程记录",
     [HAP, OP, ("NN", 1, "", "编程前无功组合方式2特征字")])
prog("0C", "结算日编程总次数", "结算日编程记录",
     [HAP, OP, ("DDhh", 2, "日时", "编程前每月第1结算日数据"),
      ("DDhh", 2, "日时", "编程前每月第2结算日数据"),
      ("DDhh", 2, "日时", "编程前每月第3结算日数据")])
def cover(ev):
    f = start_end()
    for when in ("前", "后"):
        f += [(E, 4, "kWh", "%s%s正向有功总电能" % (ev, when)),
              (E, 4, "kWh", "%s%s反向有功总电能" % (ev, when))]
        f += [(E, 4, "kvarh", "%s%s第%s象限无功总电能" % (ev, when, q)) for q in "一二三四"]
    return f
prog("0D", "开表盖总次数", "开表盖记录", cover("开表盖"))
prog("0E", "开端钮盒总次数", "开端钮盒记录", cover("开端钮盒"))

# ------------------------------------------------------------- A.5
def p(di1, di0, fmt, length, unit, name, access=RW):
    row("A.5", "04", "00", di1, di0, fmt, length, unit, access, name)

p("01", "01", "YYMMDDWW", 4, "年月日星期", "日期及星期(其中0代表星期天)")
p("01", "02", "hhmmss", 3, "时分秒", "时间")
p("01", "03", "NN", 1, "分", "最大需量周期")
p("01", "04", "NN", 1, "分", "滑差时间")
p("01", "05", "XXXX", 2, "毫秒", "校表脉冲宽度")
p("01", "06", "YYMMDDhhmm", 5, "年月日时分", "两套时区表切换时间")
p("01", "07", "YYMMDDhhmm", 5, "年月日时分", "两套日时段表切换时间")
p("02", "01", "NN", 1, "", "年时区数p≤14")
p("02", "02", "NN", 1, "", "日时段表数q≤8")
p("02", "03", "NN", 1, "", "日时段数(每日切换数)m≤14")
p("02", "04", "NN", 1, "", "费率数k≤63")
p("02", "05", "NNNN", 2, "", "公共假日数n≤254")
p("02", "06", "NN", 1, "", "谐波分析次数")
p("03", "01", "NN", 1, "", "自动循环显示屏数")
p("03", "02", "NN", 1, "秒", "每屏显示时间")
p("03", "03", "NN", 1, "位", "显示电能小数位数")
p("03", "04", "NN", 1, "位", "显示功率(最大需量)小数位数")
p("03", "05", "NN", 1, "", "按键循环显示屏数")
p("04", "01", "NNNNNNNNNNNN", 6, "", "通信地址")
p("04", "02", "NNNNNNNNNNNN", 6, "", "表号")
p("04", "03", "NN…NN", 32, "", "资产管理编码(ASCII)")
p("04", "04", "XXXXXXXXXXXX", 6, "", "额定电压(ASCII)")
p("04", "05", "XXXXXXXXXXXX", 6, "", "额定电流/基本电流(ASCII)")
p("04", "06", "XXXXXXXXXXXX", 6, "", "最大电流(ASCII)")
p("04", "07", "XXXXXXXX", 4, "", "有功准确度等级(ASCII)")
p("04", "08", "XXXXXXXX", 4, "", "无功准确度等级(ASCII)")
p("04", "09", "XXXXXX", 3, "imp/kWh", "电表有功常数")
p("04", "0A", "XXXXXX", 3, "imp/kvarh", "电表无功常数")
p("04", "0B", "XX…XX", 10, "", "电表型号(ASCII)")
p("04", "0C", "XX…XX", 10, "", "生产日期(ASCII)")
p("04", "0D", "XX…XX", 16, "", "协议版本号(ASCII)")
for i in range(1, 8):
    p("05", h(i), "XXXX", 2, "", "电表运行状态字%d" % i, RO)
p("05", "FF", "XXXX×7", 14, "", "电表运行状态字数据块", RO)
p("06", "01", "NN", 1, "", "有功组合方式特征字")
p("06", "02", "NN", 1, "", "无功组合方式1特征字")
p("06", "03", "NN", 1, "", "无功组合方式2特征字")
p("07", "01", "NN", 1, "", "调制型红外光口通信速率特征字")
p("07", "02", "NN", 1, "", "接触式红外光口通信速率特征字")
p("07", "03", "NN", 1, "", "通信口1通信速率特征字")
p("07", "04", "NN", 1, "", "通信口2通信速率特征字")
p("07", "05", "NN", 1, "", "通信口3通信速率特征字")
p("08", "01", "NN", 1, "", "周休日特征字")
p("08", "02", "NN", 1, "", "周休日采用的日时段表号")
p("09", "01", "NN", 1, "", "负荷记录模式字")
p("09", "02", "NN", 1, "", "冻结数据模式字")
p("0A", "01", "MMDDhhmm", 4, "月日时分", "负荷记录起始时间")
p("0A", "02~07", "NNNN", 2, "分", "第1类负荷记录间隔时间…第6类负荷记录间隔时间")
p("0B", "01", "DDhh", 2, "日时", "每月第1结算日")
p("0B", "02", "DDhh", 2, "日时", "每月第2结算日")
p("0B", "03", "DDhh", 2, "日时", "每月第3结算日")
p("0C", "01~0A", "NNNNNNNN", 4, "", "0级密码…9级密码", WO)
k = 1
for ph in PH:
    for q in ("电导", "电纳", "电阻", "电抗"):
        p("0D", h(k), "N.NNN", 2, "", "%s相%s系数" % (ph, q))
        k += 1
p("0E", "01", "NN.NNNN", 3, "kW", "正向有功功率上限值")
p("0E", "02", "NN.NNNN", 3, "kW", "反向有功功率上限值")
p("0E", "03", "NNN.N", 2, "V", "电压上限值")
p("0E", "04", "NNN.N", 2, "V", "电压下限值")
for di2, s in (("01", "一"), ("02", "二")):
    row("A.5", "04", di2, "00", "00", "MMDDNN×14", 42, "", RW, "第%s套时区表数据" % s)
    for n in range(14):
        field("A.5", "04", di2, "00", "00", "MMDDNN", 3, "", "第%d时区起始日期及日时段表号" % (n + 1))
    row("A.5", "04", di2, "00", "01~08", "hhmmNN×14", 42, "", RW,
        "第%s套第1日时段表数据…第%s套第8日时段表数据" % (s, s))
    for n in range(14):
        field("A.5", "04", di2, "00", "01~08", "hhmmNN", 3, "", "第%d时段起始时间及费率号" % (n + 1))
row("A.5", "04", "03", "00", "01~FE", "YYMMDDNN", 4, "", RW,
    "第1公共假日日期及日时段表号…第254公共假日日期及日时段表号")
row("A.5", "04", "04", "01", "01~FE", "NNNNNNNN", 4, "", RW,
    "自动循环显示第1屏显示数据项…自动循环显示第254屏显示数据项")
row("A.5", "04", "04", "02", "01~FE", "NNNNNNNN", 4, "", RW,
    "按键循环显示第1屏显示数据项…按键循环显示第254屏显示数据项")
row("A.5", "04", "80", "00", "01", "XX…XX", 32, "", RO, "厂家软件版本号(ASCII)")
row("A.5", "04", "80", "00", "02", "XX…XX", 32, "", RO, "厂家硬件版本号(ASCII)")
row("A.5", "04", "80", "00", "03", "XX…XX", 32, "", RO, "厂家编号(ASCII)")

# ------------------------------------------------------------- A.6
FRZ_ITEMS = [
    ("01", "正向有功电能数据", E, 4, "kWh", ""),
    ("02", "反向有功电能数据", E, 4, "kWh", ""),
    ("03", "组合无功1电能数据", E, 4, "kvarh", "sign"),
    ("04", "组合无功2电能数据", E, 4, "kvarh", "sign"),
    ("05", "第一象限无功电能数据", E, 4, "kvarh", ""),
    ("06", "第二象限无功电能数据", E, 4, "kvarh", ""),
    ("07", "第三象限无功电能数据", E, 4, "kvarh", ""),
    ("08", "第四象限无功电能数据", E, 4, "kvarh", ""),
    ("09", "正向有功最大需量及发生时间数据", "XX.XXXX,YYMMDDhhmm", 8, "kW,年月日时分", ""),
    ("0A", "反向有功最大需量及发生时间数据", "XX.XXXX,YYMMDDhhmm", 8, "kW,年月日时分", ""),
]
VAR8 = [("XX.XXXX", 3, "kW", "总有功功率", "sign"), ("XX.XXXX", 3, "kW", "A相有功功率", "sign"),
        ("XX.XXXX", 3, "kW", "B相有功功率", "sign"), ("XX.XXXX", 3, "kW", "C相有功功率", "sign"),
        ("XX.XXXX", 3, "kvar", "总无功功率", "sign"), ("XX.XXXX", 3, "kvar", "A相无功功率", "sign"),
        ("XX.XXXX", 3, "kvar", "B相无功功率", "sign"), ("XX.XXXX", 3, "kvar", "C相无功功率", "sign")]

def freeze_set(di2, kind, last, with_var=True):
    rng = "01~%s" % last
    n = int(last, 16)
    def nm(item):
        return "(上1次)%s%s…(上%d次)%s%s" % (kind, item, n, kind, item)
    row("A.6", "05", di2, "00", rng, T5, 5, "年月日时分", RO, nm("时间"))
    for di1, item, fmt, ln, unit, s in FRZ_ITEMS:
        row("A.6", "05", di2, di1, rng, "(%s)×(k+1)" % fmt if "," in fmt else "%s×(k+1)" % fmt,
            "%d×(k+1)" % ln, unit, RO, nm(item), s)
    if with_var:
        emit_record("A.6", "05", di2, "10", rng, nm("变量数据"), VAR8)
    row("A.6", "05", di2, "FF", rng, "冻结时间,DI1=01~0A各项,变量数据 依次连接(无分隔码)", "29+48×(k+1)", "", RO, nm("数据块"))

freeze_set("00", "定时冻结", "0C")
freeze_set("01", "瞬时冻结", "03")
freeze_set("02", "两套时区表切换", "02")
freeze_set("03", "两套日时段表切换", "02")
# not in the 2007 tables as far as the sources show; GDW supplement items, kept because meters in the field answer 05060101
row("A.6", "05", "04", "00", "01~FE", T5, 5, "年月日时分", RO, "(上1次)整点冻结时间…(上254次)整点冻结时间")
row("A.6", "05", "04", "01", "01~FE", E, 4, "kWh", RO, "(上1次)整点冻结正向有功总电能…(上254次)整点冻结正向有功总电能")
row("A.6", "05", "04", "02", "01~FE", E, 4, "kWh", RO, "(上1次)整点冻结反向有功总电能…(上254次)整点冻结反向有功总电能")
emit_record("A.6", "05", "04", "FF", "01~FE", "(上1次)整点冻结数据块…(上254次)整点冻结数据块",
            [(T5, 5, "年月日时分", "整点冻结时间"), (E, 4, "kWh", "整点冻结正向有功总电能"),
             (E, 4, "kWh", "整点冻结反向有功总电能")])
freeze_set("06", "日冻结", "3E")

# ------------------------------------------------------------- A.7
LOAD_CLASS = [("00", ""), ("01", "第1类负荷"), ("02", "第2类负荷"), ("03", "第3类负荷"),
              ("04", "第4类负荷"), ("05", "第5类负荷"), ("06", "第6类负荷")]
for di2, cls in LOAD_CLASS:
    row("A.7", "06", di2, "00", "00", "NN", 1, "", RO, "%s最早记录块" % cls)
    row("A.7", "06", di2, "00", "01", "NN,YYMMDDhhmm", 6, "", RO, "%s给定时间记录块" % cls)
    row("A.7", "06", di2, "00", "02", "NN", 1, "", RO, "%s最近一个记录块" % cls)

# layout of one uploaded load record (all classes; the class reads carry only their block)
L = [("A0A0", 2, "", "负荷记录起始码(A0H,A0H;E0H,E0H表示本数据块不正确)"),
     ("HEX", 1, "", "负荷记录字节数"),
     (T5, 5, "年月日时分", "负荷记录存储时间")]
L += [("XXX.X", 2, "V", "%s相电压" % p) for p in PH]
L += [("XXX.XXX", 3, "A", "%s相电流" % p, "sign") for p in PH]
L += [("XX.XX", 2, "Hz", "频率"), ("AA", 1, "", "块分隔码")]
L += [(f[0], f[1], f[2], f[3], f[4]) for f in VAR8]
L += [("AA", 1, "", "块分隔码")]
L += [("X.XXX", 2, "", "总功率因数", "sign")] + [("X.XXX", 2, "", "%s相功率因数" % p, "sign") for p in PH]
L += [("AA", 1, "", "块分隔码")]
L += [(E, 4, "kWh", "正向有功总电能"), (E, 4, "kWh", "反向有功总电能"),
      (E, 4, "kvarh", "组合无功1总电能", "sign"), (E, 4, "kvarh", "组合无功2总电能", "sign")]
L += [("AA", 1, "", "块分隔码")]
L += [(E, 4, "kvarh", "第%s象限无功总电能" % q) for q in "一二三四"]
L += [("AA", 1, "", "块分隔码")]
L += [("XX.XXXX", 3, "kW", "当前有功需量", "sign"), ("XX.XXXX", 3, "kvar", "当前无功需量", "sign")]
L += [("AA", 1, "", "块分隔码"),
      ("HEX", 1, "", "负荷记录累加校验码(从第一个A0H到最后一个块分隔码)"),
      ("E5", 1, "", "负荷记录结束码")]
for f in L:
    field("A.7", "06", "00", "00", "00~02", f[0], f[1], f[2], f[3], f[4] if len(f) > 4 else "")
