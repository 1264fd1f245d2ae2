// Console and JUnit views of a run.
#include "suite/Report.h"

#include <cstdio>
#include <filesystem>
#include <map>

namespace {
std::string Seconds(double ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", ms / 1000.0);
  return text;
}

// Length of the UTF-8 sequence starting with `lead` at `p` (within `n` bytes), 0 when invalid.
size_t Utf8Length(const unsigned char* p, size_t n) {
  const unsigned char lead = p[0];
  size_t len = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (len == 0 || len > n || (len == 2 && lead < 0xC2)) return 0;
  for (size_t i = 1; i < len; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return len;
}

std::string Failures(const TCaseRecord& rec) {
  std::string text;
  for (const TExpectation& e : rec.Expectations)
    if (!e.Met) text += "期望 " + e.What + "，实际 " + e.Observed + "\n";
  return text;
}

std::string FramesText(const TCaseRecord& rec) {
  std::string text;
  char at[32];
  for (const TFrameRecord& f : rec.Frames) {
    std::snprintf(at, sizeof at, "%9.1f ms ", f.AtMs);
    text += std::string(at) + (f.Sent ? "发送→ " : "接收← ") + f.Hex + (f.Note.empty() ? "" : " " + f.Note) + "\n";
  }
  for (const std::string& info : rec.Info) text += info + "\n";
  return text;
}

std::string TestCase(const TCaseRecord& rec) {
  const std::string classname = std::filesystem::path(rec.File).stem().string();
  std::string xml = "    <testcase classname=\"" + XmlEscape(classname) + "\" name=\"" + XmlEscape(rec.Id + " " + rec.Title) +
                    "\" time=\"" + Seconds(rec.DurationMs) + "\">\n";
  if (rec.Verdict == vdFail) {
    const std::string why = Failures(rec);
    xml += "      <failure message=\"" + XmlEscape(why.substr(0, why.find('\n'))) + "\">" + XmlEscape(why) + "</failure>\n";
  } else if (rec.Verdict == vdError) {
    xml += "      <error message=\"" + XmlEscape(rec.Why) + "\">" + XmlEscape(rec.Why) + "</error>\n";
  } else if (rec.Verdict == vdSkipped || rec.Verdict == vdStopped) {
    const std::string why = rec.Verdict == vdStopped ? std::string(VerdictText(vdStopped)) + "：" + rec.Why : rec.Why;
    xml += "      <skipped message=\"" + XmlEscape(why) + "\"/>\n";
  }
  xml += "      <system-out>" + XmlEscape("条款：" + rec.Clause + "\n" + FramesText(rec)) + "</system-out>\n";
  return xml + "    </testcase>\n";
}
}  // namespace

TRunCounts CountVerdicts(const std::vector<TCaseRecord>& cases) {
  TRunCounts c;
  for (const TCaseRecord& rec : cases) {
    ++c.Total;
    if (rec.Verdict == vdPass) ++c.Passed;
    else if (rec.Verdict == vdFail) ++c.Failed;
    else if (rec.Verdict == vdSkipped) ++c.Skipped;
    else if (rec.Verdict == vdStopped) ++c.Stopped;
    else ++c.Errors;
  }
  return c;
}

std::string CaseLine(const TCaseRecord& rec) {
  std::string line = std::string(VerdictText(rec.Verdict)) + "  " + rec.Id + "  " + rec.Title + "（" + rec.Clause + "）\n";
  if (rec.Verdict == vdFail) {
    const std::string why = Failures(rec);
    size_t start = 0;
    for (size_t end; (end = why.find('\n', start)) != std::string::npos; start = end + 1)
      line += "      " + why.substr(start, end - start + 1);
  } else if (rec.Verdict != vdPass) {
    line += "      " + rec.Why + "\n";
  }
  return line;
}

std::string SummaryLine(const TRunCounts& c) {
  return "共 " + std::to_string(c.Total) + " 项：通过 " + std::to_string(c.Passed) + "，失败 " + std::to_string(c.Failed) +
         "，跳过 " + std::to_string(c.Skipped) + "，错误 " + std::to_string(c.Errors) +
         (c.Stopped ? "，已停止 " + std::to_string(c.Stopped) : "");
}

std::string ProgressLine(int current, int total, const std::string& id) {
  return "[" + std::to_string(current) + "/" + std::to_string(total) + "] " + id;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    const size_t len = Utf8Length(p + i, text.size() - i);
    if (len == 0) { ++i; continue; }
    const unsigned char c = p[i];
    if (len == 1) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
          if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += static_cast<char>(c);
      }
    } else {
      out.append(text, i, len);
    }
    i += len;
  }
  return out;
}

std::string JUnitXml(const std::vector<TCaseRecord>& cases, const std::string& name) {
  std::map<std::string, std::vector<const TCaseRecord*>> byFile;
  for (const TCaseRecord& rec : cases) byFile[rec.File].push_back(&rec);
  const TRunCounts all = CountVerdicts(cases);
  std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" + XmlEscape(name) + "\" tests=\"" +
                    std::to_string(all.Total) + "\" failures=\"" + std::to_string(all.Failed) + "\" errors=\"" +
                    std::to_string(all.Errors) + "\" skipped=\"" + std::to_string(all.Skipped + all.Stopped) + "\">\n";
  for (const auto& [file, records] : byFile) {
    std::vector<TCaseRecord> copy;
    double ms = 0;
    for (const TCaseRecord* r : records) copy.push_back(*r), ms += r->DurationMs;
    const TRunCounts c = CountVerdicts(copy);
    xml += "  <testsuite name=\"" + XmlEscape(std::filesystem::path(file).stem().string()) + "\" tests=\"" +
           std::to_string(c.Total) + "\" failures=\"" + std::to_string(c.Failed) + "\" errors=\"" + std::to_string(c.Errors) +
           "\" skipped=\"" + std::to_string(c.Skipped + c.Stopped) + "\" time=\"" + Seconds(ms) + "\">\n";
    for (const TCaseRecord* r : records) xml += TestCase(*r);
    xml += "  </testsuite>\n";
  }
  return xml + "</testsuites>\n";
}
