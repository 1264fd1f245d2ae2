-- The virtual meter with every destructive case allowed (`dlt645 simulate`; the meter holds
-- nothing beyond its run, so nothing is lost). Passwords, the baud rate and the written
-- parameter are put back by the cases that change them.
return {
  address = "000000000001",
  passwords = { { level = 0x26, code = "404915" } },
  operator = "00000000",
  controls = { 0x08, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D },
  identifiers = {
    energy = { "00010000", "00020000", "00010100", "00010400" },
    variables = { "02010100", "02020100", "02030000", "02060000", "02800002" },
    parameters = { "04000101", "04000102", "04000401" },
  },
  destructive = {
    broadcast_time = true, freeze = true,
    write_address = true, clear_meter = true, clear_demand = true, clear_events = true,
    change_password = true, change_baud = true, relay_control = true, multi_output = true,
  },
  -- The virtual meter answers 22 ms after a request, so a frame it wrongly answered would show
  -- within 100 ms; a real meter may take up to 500 ms: leave no_reply_ms out for one.
  timing = { reply_timeout_s = 1, response_min_ms = 20, response_max_ms = 500, byte_gap_max_ms = 500,
             no_reply_ms = 100 },
  known = { rated_voltage = 220.0, clock_zone = 8, clock_tolerance_s = 10 },
}
