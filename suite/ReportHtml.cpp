// The HTML page of a run: one self-contained document (style inline, no script, nothing fetched)
// that a lab files with the meter's papers. Every text from a case goes through XmlEscape, so a
// title or a reply cannot add markup.
#include <cstdio>
#include <filesystem>
#include <vector>

#include "protocol/Compose.h"
#include "protocol/Protocol.h"
#include "protocol/PublicFunc.h"
#include "protocol/Reading.h"
#include "protocol/ReplyMatch.h"
#include "suite/Report.h"

namespace {
const char kStyle[] =
    "body{font-family:'WenQuanYi Micro Hei','Noto Sans CJK SC',sans-serif;margin:24px;color:#1f2328;font-size:14px}"
    "h1{font-size:22px;margin:0 0 12px}h2{font-size:18px;margin:24px 0 8px}h3{font-size:15px;margin:0 0 6px}"
    "table{border-collapse:collapse;margin:6px 0}th,td{border:1px solid #d0d7de;padding:3px 8px;text-align:left;"
    "vertical-align:top}th{background:#f6f8fa}code{font-family:monospace;font-size:12px;word-break:break-all}"
    ".summary th{width:7em}.case{border:1px solid #d0d7de;border-left-width:6px;padding:8px 12px;margin:10px 0}"
    ".meta{color:#57606a;margin:0 0 6px}.why{font-weight:bold}.frames td:nth-child(-n+2){white-space:nowrap}.frames td:nth-child(3){width:460px}"
    ".v{font-weight:bold;white-space:nowrap}.met{color:#1a7f37}.unmet{color:#cf222e;font-weight:bold}"
    ".pass .v,.pass.v{color:#1a7f37}.fail .v,.fail.v{color:#cf222e}.skipped .v,.skipped.v{color:#6e7781}"
    ".error .v,.error.v{color:#bc4c00}.stopped .v,.stopped.v{color:#8250df}"
    "tr.pass{background:#dafbe1}tr.fail{background:#ffebe9}tr.error{background:#fff1e5}tr.skipped{background:#f6f8fa}tr.stopped{background:#fbefff}"
    ".case.pass{border-left-color:#1a7f37}.case.fail{border-left-color:#cf222e}.case.skipped{border-left-color:#8c959f}"
    ".case.error{border-left-color:#bc4c00}.case.stopped{border-left-color:#8250df}";

const char* VerdictClass(TVerdict v) {
  switch (v) {
    case vdPass: return "pass";
    case vdFail: return "fail";
    case vdSkipped: return "skipped";
    case vdStopped: return "stopped";
    default: return "error";
  }
}

std::string E(const std::string& text) { return XmlEscape(text); }

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ms", ms);
  return text;
}

std::string Hex2(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02XH", value & 0xFF);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Spaced or unspaced hex -> bytes; false for anything else.
bool ParseHex(const std::string& hex, std::vector<uint8_t>& bytes) {
  std::vector<int> digits;
  for (char c : hex) {
    if (c == ' ') continue;
    if (HexValue(c) < 0) return false;
    digits.push_back(HexValue(c));
  }
  if (digits.empty() || digits.size() % 2) return false;
  for (size_t i = 0; i < digits.size(); i += 2) bytes.push_back(static_cast<uint8_t>(digits[i] * 16 + digits[i + 1]));
  return true;
}

// The name of a function code: the command list's where it names one, else our own.
std::string FunctionName(int func) {
  if (func == 0x13) return "读通信地址";
  if (func == 0x15) return "写通信地址";
  if (func == 0x1C) return "跳合闸、报警、保电";
  if (func == 0x1D) return "多功能端子输出控制";
  const std::string suffix = "-" + Hex2(func);
  for (const std::string& entry : CtrlListEntries())
    if (entry.size() > suffix.size() && entry.compare(entry.size() - suffix.size(), suffix.size(), suffix) == 0)
      return entry.substr(0, entry.size() - suffix.size());
  return "功能码 " + Hex2(func);
}

std::string ControlText(const TFrameBody& b) {
  std::string kind = b.Dir == 0 ? "主站请求" : b.Normal ? "正常应答" : "异常应答";
  if (b.Dir == 1 && !b.LastFrame) kind += "，有后续帧";
  return "控制码 " + Hex2(b.Ctrl) + "（" + FunctionName(b.FuncCode) + "，" + kind + "）";
}

// The identifier of a read, follow-up or write request and of a normal reply to one.
std::string IdentifierText(const TFrameBody& b) {
  const bool carries = b.FuncCode == 0x11 || b.FuncCode == 0x12 || b.FuncCode == 0x14;
  if (!carries || !b.Normal || b.Data.size() < 8) return "";
  const std::string di = ReverseDI(b.Data.substr(0, 8));
  const std::string name = IdentifierName(di);
  return "；标识 " + di + (name.empty() ? "" : " " + name);
}

std::string BodyText(const TFrameBody& b) {
  std::string text = ControlText(b) + "；地址 " + b.Address + "；L=" + std::to_string(b.Len) + IdentifierText(b);
  if (b.Dir == 1 && !b.Normal && b.Data.size() >= 2) text += "；错误信息字 " + b.Data.substr(0, 2) + "H";
  const TReading reading = ReplyReading(b);
  if (reading.Ok) text += "；读数 " + reading.Text;
  return text;
}

std::string SummaryRow(const char* label, const std::string& value) {
  return std::string("<tr><th>") + label + "</th><td>" + E(value) + "</td></tr>\n";
}

std::string CountsText(const TRunCounts& c) {
  auto part = [](const char* cls, const char* word, int n) {
    return std::string("<span class=\"") + cls + " v\">" + word + " " + std::to_string(n) + "</span>";
  };
  std::string text = "共 " + std::to_string(c.Total) + " 项：" + part("pass", "通过", c.Passed) + "，" +
                     part("fail", "失败", c.Failed) + "，" + part("skipped", "跳过", c.Skipped) + "，" +
                     part("error", "错误", c.Errors);
  if (c.Stopped) text += "，" + part("stopped", "已停止", c.Stopped);
  return text;
}

std::string Summary(const std::vector<TCaseRecord>& cases, const TRunInfo& info) {
  return "<table class=\"summary\">\n" + SummaryRow("表地址", info.Address) + SummaryRow("端口", info.Port) +
         SummaryRow("档案", info.Profile) + SummaryRow("用例集", info.Suite) + SummaryRow("开始时间", info.Started) +
         SummaryRow("用时", Ms(info.DurationMs)) + "<tr><th>结果</th><td>" + CountsText(CountVerdicts(cases)) +
         "</td></tr>\n</table>\n";
}

std::string CaseRow(const TCaseRecord& rec, size_t n) {
  const std::string anchor = "c" + std::to_string(n);
  return std::string("<tr class=\"") + VerdictClass(rec.Verdict) + "\"><td>" + std::to_string(n) + "</td><td><a href=\"#" +
         anchor + "\">" + E(rec.Id) + "</a></td><td>" + E(rec.Title) + "</td><td>" + E(rec.Clause) +
         "</td><td class=\"v\">" + VerdictText(rec.Verdict) + "</td><td>" + Ms(rec.DurationMs) + "</td></tr>\n";
}

std::string CaseTable(const std::vector<TCaseRecord>& cases) {
  std::string html = "<table class=\"cases\">\n<tr><th>序号</th><th>编号</th><th>名称</th><th>条款</th><th>结论</th><th>用时</th></tr>\n";
  for (size_t i = 0; i < cases.size(); ++i) html += CaseRow(cases[i], i + 1);
  return html + "</table>\n";
}

std::string Expectations(const TCaseRecord& rec) {
  if (rec.Expectations.empty()) return "";
  std::string html = "<table class=\"expect\">\n<tr><th>期望</th><th>实际</th><th>结果</th></tr>\n";
  for (const TExpectation& e : rec.Expectations)
    html += "<tr><td>" + E(e.What) + "</td><td>" + E(e.Observed) + "</td><td class=\"" + (e.Met ? "met\">满足" : "unmet\">未满足") +
            "</td></tr>\n";
  return html + "</table>\n";
}

std::string FrameRow(const TFrameRecord& f) {
  std::string fields = FrameFieldsText(f.Hex);
  if (!f.Note.empty() && fields.find(f.Note) == std::string::npos) fields += (fields.empty() ? "" : "；") + f.Note;
  if (!f.Sent && f.RoundTripMs > 0) fields += "；往返 " + Ms(f.RoundTripMs);
  return "<tr><td>" + Ms(f.AtMs) + "</td><td>" + (f.Sent ? "发送→" : "接收←") + "</td><td><code>" + E(f.Hex) +
         "</code></td><td>" + E(fields) + "</td></tr>\n";
}

std::string Frames(const TCaseRecord& rec) {
  if (rec.Frames.empty()) return "";
  std::string html = "<table class=\"frames\">\n<tr><th>时间</th><th>方向</th><th>报文</th><th>解析</th></tr>\n";
  for (const TFrameRecord& f : rec.Frames) html += FrameRow(f);
  return html + "</table>\n";
}

std::string Notes(const TCaseRecord& rec) {
  if (rec.Info.empty()) return "";
  std::string html = "<ul class=\"info\">\n";
  for (const std::string& info : rec.Info) html += "<li>" + E(info) + "</li>\n";
  return html + "</ul>\n";
}

std::string CaseSection(const TCaseRecord& rec, size_t n) {
  std::string html = std::string("<section class=\"case ") + VerdictClass(rec.Verdict) + "\" id=\"c" + std::to_string(n) +
                     "\">\n<h3>" + E(rec.Id) + " " + E(rec.Title) + " <span class=\"v\">" + VerdictText(rec.Verdict) +
                     "</span></h3>\n<p class=\"meta\">条款 " + E(rec.Clause) + " · 文件 " +
                     E(std::filesystem::path(rec.File).filename().string()) + " · 用时 " + Ms(rec.DurationMs) + "</p>\n";
  if (!rec.Why.empty()) html += "<p class=\"why\">原因：" + E(rec.Why) + "</p>\n";
  return html + Expectations(rec) + Frames(rec) + Notes(rec) + "</section>\n";
}
}  // namespace

std::string FrameFieldsText(const std::string& hex) {
  std::vector<uint8_t> bytes;
  if (!ParseHex(hex, bytes)) return "";
  size_t start = 0;
  while (start < bytes.size() && bytes[start] == 0xFE) ++start;
  const std::string preamble = start ? "前导 FEH ×" + std::to_string(start) + "；" : "";
  const uint8_t* frame = bytes.data() + start;
  const int len = static_cast<int>(bytes.size() - start);
  const std::string fault = FrameFault(frame, len);
  if (!fault.empty()) return preamble + "非法帧：" + fault;
  TFrameBody body;
  std::string error;
  if (TProtocol::UnPack(frame, len, body, error) != 0) return preamble + "非法帧：" + error;
  return preamble + BodyText(body);
}

std::string HtmlReport(const std::vector<TCaseRecord>& cases, const TRunInfo& info) {
  const std::string title = E(info.Name) + " 一致性测试报告";
  std::string html = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + title +
                     "</title>\n<style>" + kStyle + "</style>\n</head>\n<body>\n<h1>" + title + "</h1>\n" +
                     Summary(cases, info) + "<h2>用例</h2>\n" + CaseTable(cases) + "<h2>详情</h2>\n";
  for (size_t i = 0; i < cases.size(); ++i) html += CaseSection(cases[i], i + 1);
  return html + "</body>\n</html>\n";
}

std::string CaseDetailHtml(const TCaseRecord& rec) {
  return std::string("<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n<style>") + kStyle +
         "</style>\n</head>\n<body>\n" + CaseSection(rec, 1) + "</body>\n</html>\n";
}

std::vector<std::string> CaseRowTexts(const TCaseRecord& rec) {
  return {rec.Id, rec.Title, rec.Clause, VerdictText(rec.Verdict), Ms(rec.DurationMs)};
}

const char* VerdictBackground(TVerdict verdict) {
  switch (verdict) {
    case vdPass: return "#dafbe1";
    case vdFail: return "#ffebe9";
    case vdSkipped: return "#f6f8fa";
    case vdStopped: return "#fbefff";
    default: return "#fff1e5";
  }
}
