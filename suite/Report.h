#pragma once
// Views of a run's records: the console lines and summary, JUnit XML for CI systems, and one
// self-contained HTML page for a lab to file.
#include <string>
#include <vector>

#include "suite/Case.h"

struct TRunCounts {
  int Total = 0, Passed = 0, Failed = 0, Skipped = 0, Errors = 0, Stopped = 0;
};
TRunCounts CountVerdicts(const std::vector<TCaseRecord>& cases);

// One line per ended case: "通过  frame.checksum  校验和错误的帧不应答（4.3）", then for a
// failed case each unmet expectation, for a skipped or erroneous one why.
std::string CaseLine(const TCaseRecord& rec);
// "共 12 项：通过 10，失败 1，跳过 1，错误 0" (and "，已停止 1" when the run was stopped).
std::string SummaryLine(const TRunCounts& counts);
// The progress of a run as a terminal shows it, redrawn in place: "[12/30] frame.checksum".
std::string ProgressLine(int current, int total, const std::string& id);

// Text fit for XML character data and attribute values: & < > " ' escaped, characters XML does
// not allow dropped (invalid UTF-8 bytes included).
std::string XmlEscape(const std::string& text);
// The JUnit XML document of the run (one testsuite per suite file). A stopped case is reported
// as skipped, with why.
std::string JUnitXml(const std::vector<TCaseRecord>& cases, const std::string& name);

// What the HTML page says about the run besides its cases.
struct TRunInfo {
  std::string Name = "DL/T 645-2007";
  std::string Port, Address, Profile, Suite;
  std::string Started;    // "2026-12-09 20:15:03"
  double DurationMs = 0;
};
// The fields of one frame as the page shows them, from the frame codec and the reading table:
// "控制码 91H（读数据，正常应答）；地址 000000000001；L=8；标识 00010000 正向有功总电能；读数 ...".
// A frame the frame check refuses says so ("非法帧：校验和错误"); text that is not hex, "".
std::string FrameFieldsText(const std::string& hex);
// The whole page: one UTF-8 document with its style inline and nothing fetched from elsewhere;
// the summary, a table of the cases (one row each, coloured by verdict) and each case's
// expectations, frames with their decoded fields, notes and why.
std::string HtmlReport(const std::vector<TCaseRecord>& cases, const TRunInfo& info);

// A case alone, as a page (the detail of one case in the test window).
std::string CaseDetailHtml(const TCaseRecord& rec);
// A row of the test window's case table: id, title, clause, verdict, "12.3 ms".
std::vector<std::string> CaseRowTexts(const TCaseRecord& rec);
// The background of a case's row for its verdict, as #RRGGBB (the page uses the same colours).
const char* VerdictBackground(TVerdict verdict);
