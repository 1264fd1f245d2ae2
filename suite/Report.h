#pragma once
// Views of a run's records: the console lines and summary, and JUnit XML for CI systems.
#include <string>
#include <vector>

#include "suite/Case.h"

struct TRunCounts {
  int Total = 0, Passed = 0, Failed = 0, Skipped = 0, Errors = 0;
};
TRunCounts CountVerdicts(const std::vector<TCaseRecord>& cases);

// One line per ended case: "通过  frame.checksum  校验和错误的帧不应答（4.3）", then for a
// failed case each unmet expectation, for a skipped or erroneous one why.
std::string CaseLine(const TCaseRecord& rec);
// "共 12 项：通过 10，失败 1，跳过 1，错误 0"
std::string SummaryLine(const TRunCounts& counts);

// Text fit for XML character data and attribute values: & < > " ' escaped, characters XML does
// not allow dropped (invalid UTF-8 bytes included).
std::string XmlEscape(const std::string& text);
// The JUnit XML document of the run (one testsuite per suite file).
std::string JUnitXml(const std::vector<TCaseRecord>& cases, const std::string& name);
