-- The profile of the virtual meter (`dlt645 simulate` with its defaults). Commands that change
-- what the meter holds stay off, apart from the broadcast time (it sends the true time) and the
-- instant freeze; profiles/virtual-meter-destructive.lua allows them all.
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
    write_address = false, clear_meter = false, clear_demand = false, clear_events = false,
    change_password = false, change_baud = false, relay_control = false, multi_output = false,
  },
  -- The virtual meter answers 22 ms after a request, so a frame it wrongly answered would show
  -- within 100 ms; a real meter may take up to 500 ms: leave no_reply_ms out for one.
  timing = { reply_timeout_s = 1, response_min_ms = 20, response_max_ms = 500, byte_gap_max_ms = 500,
             no_reply_ms = 100 },
  known = { rated_voltage = 220.0, clock_zone = 8, clock_tolerance_s = 10 },
}
