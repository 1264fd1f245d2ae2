#pragma once
// Readings given to the virtual meter on the command line: `--set DI=VALUE` and `--values FILE`
// (one DI=VALUE a line), VALUE in the reading's own form (1234.56, -1.234, 2026-12-09, 10:15:00).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// "00010000=1234.56" -> identifier and data (wire order). False with a message otherwise.
bool ParseMeterValue(const std::string& text, uint32_t& di, std::vector<uint8_t>& data, std::string& error);

// Reads a values file into `values`. Blank lines and lines starting with # are skipped; a line
// that is not a valid DI=VALUE is reported in `junk` as "FILE:LINE：reason" and the rest is still
// used. False (with `error`) only when the file cannot be read.
bool ReadMeterValues(const std::string& path, std::map<uint32_t, std::vector<uint8_t>>& values,
                     std::vector<std::string>& junk, std::string& error);
