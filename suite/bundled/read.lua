-- Read data (11H) of DL/T 645-2007 (clause 7.1 and the data identifiers of Appendix A): every
-- identifier of the profile's sets is answered with its identifier, the length of its layout and
-- valid BCD; an unknown identifier gets an abnormal reply; a block read gives every entry.
local P = dlt.profile

local sets = {}
for name in pairs(P.identifiers or {}) do sets[#sets + 1] = name end
table.sort(sets)

for _, set in ipairs(sets) do
  for _, di in ipairs(P.identifiers[set]) do
    dlt.case{ id = "read." .. set .. "." .. di, title = "读 " .. di .. "：正常应答，标识、长度与格式相符",
      clause = "7.1", requires = { ctrl = 0x11, set = set },
      run = function()
        local r = dlt.read(di)
        dlt.expect_normal(r, 0x11)
        if r.kind ~= "reply" or not r.normal then return end
        dlt.expect_equal("应答的数据标识", r.di, di)
        dlt.expect_length(r, di)
        dlt.expect_bcd(r, di)
        if r.reading then dlt.info(di .. "：" .. r.reading) end
      end }
  end
end

dlt.case{ id = "read.unknown", title = "读不存在的数据标识：异常应答 D1H，“无请求数据”位置位", clause = "7.1",
  requires = { ctrl = 0x11 },
  run = function()
    -- DI3 = 0FH is no class of Appendix A.
    local r = dlt.read("0F0F0F0F")
    dlt.expect_abnormal(r, 1, 0x11)
  end }

dlt.case{ id = "read.block", title = "数据块读 0001FF00：给出总及各费率电能", clause = "7.1",
  requires = { ctrl = 0x11 },
  run = function()
    local r = dlt.read("0001FF00")
    dlt.expect_normal(r, 0x11)
    if r.kind ~= "reply" or not r.normal then return end
    local entries = #r.value // 8
    dlt.expect("数据为整数个 4 字节的电能项", #r.value % 8 == 0, (#r.value // 2) .. " 字节")
    dlt.expect("至少有总和一个费率的电能", entries >= 2, entries .. " 项")
    dlt.expect_bcd(r, "0001FF00")
  end }

dlt.case{ id = "read.block_total", title = "数据块中的总电能与单独读 00010000 相同", clause = "7.1",
  requires = { ctrl = 0x11 },
  run = function()
    local single = dlt.read("00010000")
    local block = dlt.read("0001FF00")
    dlt.expect_normal(single, 0x11)
    dlt.expect_normal(block, 0x11)
    if not (single.value and block.value) then return end
    dlt.expect_equal("数据块的第一项（总）", block.value:sub(1, 8), single.value)
  end }

dlt.case{ id = "read.follow_up", title = "后续帧：B1H 之后以 12H 和帧序号读到最后一帧，帧序号依次相符", clause = "7.2",
  requires = { ctrl = 0x12 },
  run = function()
    -- Four load record blocks from the earliest (06000002 with N = 4) do not fit one frame.
    local DI = "06000002"
    local first = dlt.send{ ctrl = 0x11, di = DI, data = "04" }
    dlt.expect_normal(first, 0x11)
    if not (first.kind == "reply" and first.normal) then return end
    dlt.expect("首帧控制码 B1H（有后续数据）", first.ctrl == 0xB1, string.format("%02XH", first.ctrl))
    local seq, last = 0, first
    while last.more and seq < 255 do
      seq = seq + 1
      last = dlt.send{ ctrl = 0x12, di = DI, data = string.format("%02X", seq) }
      if not dlt.expect_normal(last, 0x12) then return end
      dlt.expect_equal("第 " .. seq .. " 帧的数据标识", last.di, DI)
      dlt.expect_equal("第 " .. seq .. " 帧末尾的帧序号", last.data:sub(-2), string.format("%02X", seq))
    end
    dlt.expect("后续帧以无后续标志的 92H 结束", last.ctrl == 0x92, string.format("%02XH，共 %d 帧后续", last.ctrl, seq))
  end }

-- Identifiers the profile does not list but a meter of this kind usually has: each one the meter
-- answers is reported as information (the profile may list it). Every probe must be answered,
-- normally or with an error word.
local COMMON = { "00000000", "00010000", "00030000", "01010000", "02010100", "02040000", "04000101", "04000402",
  "04000409", "0400040B" }

local listed = {}
for _, set in ipairs(sets) do
  for _, di in ipairs(P.identifiers[set]) do listed[di] = true end
end

dlt.case{ id = "read.unlisted", title = "探测档案未列出的常用标识：有应答者记为信息", clause = "7.1",
  requires = { ctrl = 0x11 },
  run = function()
    local probed, answered = 0, 0
    for _, di in ipairs(COMMON) do
      if not listed[di] then
        probed = probed + 1
        local r = dlt.read(di)
        dlt.expect("读 " .. di .. " 得到应答（正常或异常）", r.kind == "reply", r.kind)
        if r.kind == "reply" and r.normal then
          answered = answered + 1
          dlt.info("档案未列出的标识 " .. di .. " 有应答：" .. (r.reading or r.value or ""))
        end
      end
    end
    dlt.info(string.format("探测 %d 个档案未列出的标识，%d 个有正常应答", probed, answered))
  end }
