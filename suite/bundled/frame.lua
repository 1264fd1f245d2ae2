-- Frame layer of DL/T 645-2007 (clause 5, data link layer): what a meter answers and what it
-- must ignore. Every case reads the total forward active energy (00010000) unless it says
-- otherwise; a frame the meter must ignore is expected to get no reply within the profile's
-- no-reply wait (dlt.limits.no_reply_ms). The response time and the pauses between bytes
-- (clause 5.3.3) are judged by the two timing cases only; every other case records them as
-- information, so that a slow meter fails the timing cases and nothing else.
local P = dlt.profile
local DI = "00010000"
local DI_WIRE = "00000100"  -- DI0 first

local function bytes(hex)
  local t = {}
  for b in hex:gmatch("%x%x") do t[#t + 1] = tonumber(b, 16) end
  return t
end

local function hex(t)
  local out = {}
  for i, b in ipairs(t) do out[i] = string.format("%02X", b) end
  return table.concat(out, " ")
end

-- The checksum of a frame held as bytes: the sum of every byte from the first 68H to the one
-- before CS, modulo 256.
local function reseal(t)
  local sum = 0
  for i = 1, #t - 2 do sum = (sum + t[i]) % 256 end
  t[#t - 1] = sum
  return t
end

local QUIET = { wait_ms = dlt.limits.no_reply_ms }

local function read_frame(address)
  return dlt.pack{ ctrl = 0x11, address = address or P.address, data = DI_WIRE }
end

dlt.case{ id = "frame.correct", title = "正确的帧得到应答", clause = "5.2",
  requires = { ctrl = 0x11 },
  run = function()
    local r = dlt.raw(read_frame())
    dlt.expect_normal(r, 0x11)
    dlt.expect_equal("应答地址", r.address, P.address)
  end }

for n = 0, 4 do
  dlt.case{ id = "frame.preamble." .. n, title = n .. " 个前导字节 FEH 的帧得到应答", clause = "5.3.1",
    requires = { ctrl = 0x11 },
    run = function()
      local r = dlt.raw(string.rep("FE ", n) .. read_frame())
      dlt.expect_normal(r, 0x11)
    end }
end

dlt.case{ id = "frame.checksum", title = "校验码错误的帧不应答", clause = "5.2.6",
  requires = { ctrl = 0x11 },
  run = function()
    local t = bytes(read_frame())
    t[#t - 1] = (t[#t - 1] + 1) % 256
    dlt.expect_no_reply(dlt.raw(hex(t), QUIET))
  end }

dlt.case{ id = "frame.end_byte", title = "结束符错误的帧不应答", clause = "5.2.7",
  requires = { ctrl = 0x11 },
  run = function()
    local t = bytes(read_frame())
    t[#t] = 0x15
    dlt.expect_no_reply(dlt.raw(hex(t), QUIET))
  end }

dlt.case{ id = "frame.length", title = "数据域长度与数据不符的帧不应答", clause = "5.2.4",
  requires = { ctrl = 0x11 },
  run = function()
    -- L says 5 while 4 data bytes follow; the checksum fits the bytes sent.
    local t = bytes(read_frame())
    t[10] = 5
    dlt.expect_no_reply(dlt.raw(hex(reseal(t)), QUIET))
  end }

dlt.case{ id = "frame.other_address", title = "发给其他地址的帧不应答", clause = "5.2.2",
  requires = { ctrl = 0x11 },
  run = function()
    local other = P.address == "999999999998" and "999999999997" or "999999999998"
    dlt.expect_no_reply(dlt.raw(read_frame(other), QUIET))
  end }

dlt.case{ id = "frame.wildcard", title = "通配地址 AAAAAAAAAAAA 读通信地址，以本表完整地址应答", clause = "5.2.2、7.4",
  requires = { ctrl = 0x13 },
  run = function()
    local r = dlt.raw(dlt.pack{ ctrl = 0x13, address = "AAAAAAAAAAAA", data = "" })
    dlt.expect_normal(r, 0x13)
    dlt.expect_equal("应答地址", r.address, P.address)
  end }

dlt.case{ id = "frame.shortened", title = "缩位地址（高位字节为 AAH）得到以本表完整地址的应答", clause = "5.2.2",
  requires = { ctrl = 0x11 },
  run = function()
    local r = dlt.raw(read_frame("AAAAAA" .. P.address:sub(7)))
    dlt.expect_normal(r, 0x11)
    dlt.expect_equal("应答地址", r.address, P.address)
  end }

dlt.case{ id = "frame.reply_fields", title = "应答的控制码、地址与数据域长度彼此相符", clause = "5.2.3",
  requires = { ctrl = 0x11 },
  run = function()
    local r = dlt.read(DI)
    dlt.expect_normal(r, 0x11)
    if r.kind ~= "reply" then return end
    dlt.expect_equal("应答地址", r.address, P.address)
    dlt.expect_equal("数据域长度 L", r.len, #r.data // 2)
    dlt.expect_equal("应答的数据标识", r.di, DI)
  end }

dlt.case{ id = "frame.offset_33", title = "应答数据域每字节加 33H（以通信地址 04000401 验证）", clause = "5.2.5",
  requires = { ctrl = 0x11 },
  run = function()
    local r = dlt.read("04000401")
    dlt.expect_normal(r, 0x11)
    if r.kind ~= "reply" then return end
    -- The address comes least significant byte first; with 33H taken off it must read back
    -- as the meter's address.
    local shown = {}
    for b in r.value:gmatch("%x%x") do table.insert(shown, 1, b) end
    dlt.expect_equal("减去 33H 后的通信地址", table.concat(shown), P.address)
  end }

-- Clause 5.3.3: the reply's first byte comes 20 ms to 500 ms (the profile's limits) after the
-- request's last byte, and no pause between two of its bytes is longer than 500 ms.
local L = dlt.limits
-- A link that does not time the bytes at the port gives no times: the timing cases are then
-- skipped, never judged on a time that was not taken.
local NO_TIMES = "此链路不测量应答字节的时间"

dlt.case{ id = "frame.response_time", title = "应答响应时间 Td 在档案规定的范围内（读 3 次）", clause = "5.3.3",
  requires = { ctrl = 0x11 },
  run = function()
    for i = 1, 3 do
      local r = dlt.read(DI)
      if dlt.expect_normal(r, 0x11) then
        if r.first_byte_ms == nil then dlt.skip(NO_TIMES) end
        dlt.expect_range("第 " .. i .. " 次应答的响应时间（ms）", r.first_byte_ms or -1, L.response_min_ms, L.response_max_ms)
      end
    end
  end }

dlt.case{ id = "frame.byte_gap", title = "应答帧字节之间的停顿时间 Tb 不超过档案规定", clause = "5.3.3",
  requires = { ctrl = 0x11 },
  run = function()
    -- The longest replies of the profile's reads: a block of energies and the meter's address.
    for _, di in ipairs({ "0001FF00", "04000401" }) do
      local r = dlt.read(di)
      if dlt.expect_normal(r, 0x11) then
        if r.max_gap_ms == nil then dlt.skip(NO_TIMES) end
        dlt.expect_range(di .. " 应答的最大字节间隔（ms）", r.max_gap_ms or -1, 0, L.byte_gap_max_ms)
      end
    end
  end }
