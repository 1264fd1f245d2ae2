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
