-- The commands of DL/T 645-2007 clause 7 beside reading data: read the address (7.4), write data
-- (7.3), write the address (7.5), broadcast time (7.6), freeze (7.7), change the baud rate (7.8), change a password (7.9),
-- clear demand (7.10), clear the meter (7.11), clear events (7.12), relay control (7.13) and the
-- multi-function output (7.14). A command that changes what the meter holds runs only when the
-- profile allows it (destructive = { ... }); each is followed by a read that shows its effect, and
-- what can be put back is put back.
local P = dlt.profile
local QUIET = { wait_ms = dlt.limits.no_reply_ms }

-- The first password of the profile in wire order (PA P0 P1 P2) and the operator code (C0..C3).
local function wire(display)
  local out = {}
  for b in display:gmatch("%x%x") do table.insert(out, 1, b) end
  return table.concat(out)
end
local PW = P.passwords and P.passwords[1] or { level = 0, code = "000000" }
local function password(level, code) return wire(string.format("%02X", level) .. code) end
local PASSWORD = password(PW.level, PW.code)
local OPERATOR = wire(P.operator or "00000000")

local function bcd(n) return string.format("%02d", n % 100) end
local function hexbyte(n) return string.format("%02X", n) end

-- Sends a command and checks its normal reply; returns the reply.
local function command(ctrl, data, di)
  local r = dlt.send{ ctrl = ctrl, di = di, data = data or "" }
  dlt.expect_normal(r, ctrl)
  return r
end

-- Reads `di` and returns its data after the identifier (wire order), nil when not answered.
local function value_of(di)
  local r = dlt.read(di)
  if not dlt.expect_normal(r, 0x11) then return nil end
  return r.value
end

dlt.case{ id = "cmd.read_address", title = "读通信地址 13H：应答 93H，数据为本表地址", clause = "7.4",
  requires = { ctrl = 0x13 },
  run = function()
    local r = dlt.raw(dlt.pack{ ctrl = 0x13, address = "AAAAAAAAAAAA", data = "" })
    if not dlt.expect_normal(r, 0x13) then return end
    dlt.expect_equal("数据域长度 L", r.len, 6)
    dlt.expect_equal("数据域中的地址", wire(r.data), P.address)
    dlt.expect_equal("应答地址域", r.address, P.address)
  end }

dlt.case{ id = "cmd.write_address", title = "写通信地址 15H：应答 95H，读通信地址为新地址，再写回原地址", clause = "7.5",
  requires = { ctrl = 0x15, destructive = "write_address" },
  run = function()
    local function write(address)
      return dlt.raw(dlt.pack{ ctrl = 0x15, address = "AAAAAAAAAAAA", data = wire(address) })
    end
    local function read_back(what, address)
      local r = dlt.raw(dlt.pack{ ctrl = 0x13, address = "AAAAAAAAAAAA", data = "" })
      if dlt.expect_normal(r, 0x13) then dlt.expect_equal(what, wire(r.data), address) end
    end
    local new = P.address == "000000000099" and "000000000098" or "000000000099"
    dlt.expect_normal(write(new), 0x15)
    read_back("改后的通信地址", new)
    dlt.expect_normal(write(P.address), 0x15)
    read_back("改回后的通信地址", P.address)
  end }

-- 04000103 (最大需量周期, NN minutes) is written to another value, read back and put back.
local WRITE_DI = "04000103"

dlt.case{ id = "cmd.write", title = "写数据 14H（正确密码）：应答 94H，读回为所写之值，再写回原值", clause = "7.3",
  requires = { ctrl = 0x14 },
  run = function()
    local before = value_of(WRITE_DI)
    if not before then return end
    local other = before == "15" and "30" or "15"
    command(0x14, PASSWORD .. OPERATOR .. other, WRITE_DI)
    dlt.expect_equal("读回的 " .. WRITE_DI, value_of(WRITE_DI), other)
    command(0x14, PASSWORD .. OPERATOR .. before, WRITE_DI)
    dlt.expect_equal("写回后的 " .. WRITE_DI, value_of(WRITE_DI), before)
  end }

dlt.case{ id = "cmd.write_wrong_password", title = "写数据 14H（错误密码）：异常应答 D4H，“密码错”位置位", clause = "7.3",
  requires = { ctrl = 0x14 },
  run = function()
    local wrong = password(PW.level, PW.code == "000000" and "111111" or "000000")
    local r = dlt.send{ ctrl = 0x14, di = WRITE_DI, data = wrong .. OPERATOR .. "15" }
    dlt.expect_abnormal(r, 2, 0x14)
  end }

dlt.case{ id = "cmd.write_wrong_length", title = "写数据 14H（数据长度不符）：异常应答 D4H", clause = "7.3",
  requires = { ctrl = 0x14 },
  run = function()
    local r = dlt.send{ ctrl = 0x14, di = WRITE_DI, data = PASSWORD .. OPERATOR .. "1500" }
    dlt.expect_abnormal(r, -1, 0x14)
  end }

-- The meter's clock (04000101 WW DD MM YY, 04000102 ss mm hh) in seconds of its day and its date.
local function meter_clock()
  local date, time = value_of("04000101"), value_of("04000102")
  if not (date and time) then return nil end
  local n = function(text, i) return tonumber(text:sub(2 * i - 1, 2 * i)) or -1 end
  return n(time, 3) * 3600 + n(time, 2) * 60 + n(time, 1), string.format("%02d%02d%02d", n(date, 4), n(date, 3), n(date, 2))
end

-- The clock now, once it is more than `margin` seconds clear of the end of the current period of
-- `period` seconds (a minute, a day), so that what is read back a moment later still falls in
-- the same minute or day as what was sent.
local function now_clear_of(period, margin)
  local now = dlt.now()
  local into = (now.hour * 3600 + now.min * 60 + now.sec) % period
  if period - into <= margin then
    dlt.wait((period - into + 1) * 1000)
    now = dlt.now()
  end
  return now
end

dlt.case{ id = "cmd.broadcast_time", title = "广播校时 08H：不应答，之后读回的时钟与所校时间相符", clause = "7.6",
  requires = { ctrl = 0x08, destructive = "broadcast_time" },
  run = function()
    local tolerance = (P.known and P.known.clock_tolerance_s) or 10
    local now = now_clear_of(86400, tolerance + 2)
    local data = bcd(now.sec) .. bcd(now.min) .. bcd(now.hour) .. bcd(now.day) .. bcd(now.month) .. bcd(now.year)
    dlt.expect_no_reply(dlt.raw(dlt.pack{ ctrl = 0x08, address = "999999999999", data = data }, QUIET))
    local seconds, date = meter_clock()
    if not seconds then return end
    local sent = now.hour * 3600 + now.min * 60 + now.sec
    dlt.expect_equal("读回的日期（年月日）", date, bcd(now.year) .. bcd(now.month) .. bcd(now.day))
    dlt.expect_range("读回的时间与所校时间之差（秒）", seconds - sent, -2, tolerance)
  end }

dlt.case{ id = "cmd.freeze", title = "冻结命令 16H（瞬时冻结 99999999）：应答 96H，读上 1 次瞬时冻结时间为此刻", clause = "7.7",
  requires = { ctrl = 0x16, destructive = "freeze" },
  run = function()
    local now = now_clear_of(60, 2)
    if not command(0x16, "99999999").normal then return end
    local frozen = value_of("05010001")  -- mm hh DD MM YY
    if not frozen then return end
    local expected = bcd(now.min) .. bcd(now.hour) .. bcd(now.day) .. bcd(now.month) .. bcd(now.year)
    dlt.expect("冻结时间为发命令的这一分钟（mm hh DD MM YY）", frozen:sub(3) == expected:sub(3) and
      math.abs((tonumber(frozen:sub(1, 2)) or -9) - now.min) <= 1, frozen)
  end }

dlt.case{ id = "cmd.baud_refused", title = "更改通信速率 17H（不成立的速率特征字）：异常应答 D7H，“通信速率不能更改”位置位", clause = "7.8",
  requires = { ctrl = 0x17 },
  run = function()
    -- 03H names two rates at once.
    dlt.expect_abnormal(dlt.send{ ctrl = 0x17, data = "03" }, 3, 0x17)
  end }

dlt.case{ id = "cmd.baud", title = "更改通信速率 17H 再改回：应答 97H，读通信口速率特征字相符", clause = "7.8",
  requires = { ctrl = 0x17, destructive = "change_baud" },
  run = function()
    -- Only on a link whose speed does not follow the meter (a pseudo-terminal, a serial server).
    local before = value_of("04000703")
    if not before then return end
    local other = before == "20" and "08" or "20"
    dlt.expect_equal("应答中的速率特征字", command(0x17, other).data, other)
    dlt.expect_equal("更改后的 04000703", value_of("04000703"), other)
    command(0x17, before)
    dlt.expect_equal("改回后的 04000703", value_of("04000703"), before)
  end }

dlt.case{ id = "cmd.change_password", title = "修改密码 18H：新密码可写、旧密码被拒，再改回原密码", clause = "7.9",
  requires = { ctrl = 0x18, destructive = "change_password" },
  run = function()
    local di = string.format("04000C%02X", PW.level % 16 + 1)
    local new = password(PW.level, PW.code == "654321" and "123456" or "654321")
    local before = value_of(WRITE_DI)
    if not before then return end
    command(0x18, PASSWORD .. new, di)
    dlt.expect_normal(dlt.send{ ctrl = 0x14, di = WRITE_DI, data = new .. OPERATOR .. before }, 0x14)
    dlt.expect_abnormal(dlt.send{ ctrl = 0x14, di = WRITE_DI, data = PASSWORD .. OPERATOR .. before }, 2, 0x14)
    command(0x18, new .. PASSWORD, di)
    dlt.expect_normal(dlt.send{ ctrl = 0x14, di = WRITE_DI, data = PASSWORD .. OPERATOR .. before }, 0x14)
  end }

-- A clear command, then the read that shows the value cleared (all digits zero).
local function clear_case(id, title, clause, ctrl, flag, data, di)
  dlt.case{ id = id, title = title, clause = clause, requires = { ctrl = ctrl, destructive = flag },
    run = function()
      if not command(ctrl, PASSWORD .. OPERATOR .. (data or "")).normal then return end
      local v = value_of(di)
      if v then dlt.expect_equal(di .. " 清零后", v, string.rep("0", #v)) end
    end }
end

clear_case("cmd.clear_demand", "最大需量清零 19H：应答 99H，正向有功总最大需量为零", "7.10", 0x19, "clear_demand", nil, "01010000")
clear_case("cmd.clear_meter", "电表清零 1AH：应答 9AH，正向有功总电能为零", "7.11", 0x1A, "clear_meter", nil, "00010000")
clear_case("cmd.clear_events", "事件清零 1BH（全部事件 FFFFFFFF）：应答 9BH，事件次数为零", "7.12", 0x1B, "clear_events",
  "FFFFFFFF", "03010000")

-- Relay control: N1 (1AH trip, 1BH close allowed), N2, and the time it holds until.
dlt.case{ id = "cmd.relay", title = "跳合闸 1CH：跳闸后运行状态字 3 的继电器位置位，合闸允许后复位", clause = "7.13",
  requires = { ctrl = 0x1C, destructive = "relay_control" },
  run = function()
    -- Valid until the first second of next year: always ahead, whatever the hour or the date.
    local until_time = "000000" .. "0101" .. bcd(dlt.now().year + 1)
    local function relay_bits()
      local v = value_of("04000503")
      return v and tonumber(v:sub(1, 2), 16) or -1
    end
    command(0x1C, PASSWORD .. OPERATOR .. "1A00" .. until_time)
    local open = relay_bits()
    dlt.expect("跳闸后继电器状态位（Bit4）置位", open >= 0 and open & 0x10 ~= 0, hexbyte(open & 0xFF))
    command(0x1C, PASSWORD .. OPERATOR .. "1B00" .. until_time)
    local closed = relay_bits()
    dlt.expect("合闸允许后继电器命令状态位（Bit6）复位", closed >= 0 and closed & 0x40 == 0, hexbyte(closed & 0xFF))
  end }

dlt.case{ id = "cmd.output", title = "多功能端子输出控制 1DH（时钟秒脉冲）：应答 9DH，回送所选功能", clause = "7.14",
  requires = { ctrl = 0x1D, destructive = "multi_output" },
  run = function()
    local r = command(0x1D, "00")
    if r.normal then dlt.expect_equal("应答中的输出功能", r.data, "00") end
    dlt.info("端子输出的状态无法经通信读回，只检查应答")
  end }
