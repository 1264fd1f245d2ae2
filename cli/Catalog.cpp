// `dlt645 catalog`: the reading table as a list (identifier or pattern, name, layout, unit,
// access), filtered by an identifier prefix or a word of the name, or one identifier explained.
#include <cctype>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "protocol/Reading.h"

namespace {
const char kHelp[] =
    "用法：dlt645 catalog [PREFIX|WORD|IDENTIFIER] [--format text|csv|json]\n"
    "\n"
    "列出读数表：DL/T 645-2007附录A中的每个数据标识或标识模式一行，含名称、数据格式、\n"
    "单位和读写权限。模式按标准的表格逐字节写出DI3 DI2 DI1 DI0（\"00 01 01~3F 01~0C\"：\n"
    "费率1到63，结算日1到12）。\n"
    "\n"
    "  PREFIX      十六进制数字：只列出所代表的标识以它开头的行\n"
    "  WORD        其他文字：只列出名称（或记录字段名）中含有它的行\n"
    "  IDENTIFIER  八位十六进制数字：解释该标识，每行一个Name=value（Identifier、Name、\n"
    "              Pattern、Layout、Entries、Length、Unit、Access；读命令在标识后还要发送\n"
    "              数据时有Request=（负荷记录：NN YYMMDDhhmm）；记录或负荷记录块的每个\n"
    "              字段一行Field=）\n"
    "  --format    text（默认：以制表符分隔）、csv（带标题行）或json（一个数组）\n"
    "\n"
    "退出状态：0 已列出；1 没有匹配的行；2 选项有误。\n";

bool IsHex(const std::string& text) {
  for (char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return !text.empty() && text.size() <= 8;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The units named in a layout ("XX.XXXX[kW] YYMMDDhhmm" gives "kW"), distinct, in order.
std::string Units(const std::string& layout) {
  std::string units;
  for (size_t open = layout.find('['); open != std::string::npos; open = layout.find('[', open + 1)) {
    const std::string unit = layout.substr(open + 1, layout.find(']', open) - open - 1);
    if (("," + units + ",").find("," + unit + ",") == std::string::npos) units += (units.empty() ? "" : ",") + unit;
  }
  return units;
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  for (size_t pos = 0; pos <= text.size();) {
    const size_t end = std::min(text.find(separator, pos), text.size());
    parts.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return parts;
}

bool RowMatches(const TReadingFormat& row, const std::string& filter) {
  if (filter.empty()) return true;
  if (IsHex(filter)) {
    for (const std::string& di : RowIdentifiers(row))
      if (di.compare(0, filter.size(), Upper(filter)) == 0) return true;
    return false;
  }
  return std::string(row.Name).find(filter) != std::string::npos ||
         std::string(row.Fields).find(filter) != std::string::npos;
}

std::string Csv(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Json(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
  return quoted + "\"";
}

void PrintRow(const TReadingFormat& row, const std::string& format, bool first) {
  const std::string cells[] = {row.Pattern, row.Name, row.Layout, Units(row.Layout), row.Access};
  if (format == "csv") {
    std::cout << Csv(cells[0]) << ',' << Csv(cells[1]) << ',' << Csv(cells[2]) << ',' << Csv(cells[3]) << ','
              << Csv(cells[4]) << "\n";
  } else if (format == "json") {
    std::cout << (first ? "[\n" : ",\n") << "  {\"identifier\": " << Json(cells[0]) << ", \"name\": " << Json(cells[1])
              << ", \"layout\": " << Json(cells[2]) << ", \"unit\": " << Json(cells[3])
              << ", \"access\": " << Json(cells[4]) << "}";
  } else {
    std::cout << cells[0] << '\t' << cells[1] << '\t' << cells[2] << '\t' << cells[3] << '\t' << cells[4] << "\n";
  }
}

int Explain(const std::string& di) {
  const TReadingFormat* row = FindReadingFormat(di);
  if (!row) {
    std::cerr << "无法解析：标识" << Upper(di) << "没有已知的数据格式\n";
    return ceFailed;
  }
  const int length = ReadingLength(di);
  std::cout << "Identifier=" << Upper(di) << "\nName=" << IdentifierName(di) << "\nPattern=" << row->Pattern
            << "\nLayout=" << row->Layout << "\nEntries=" << row->Entries
            << "\nLength=" << (length > 0 ? std::to_string(length) : "可变") << "\nUnit=" << Units(row->Layout)
            << "\nAccess=" << row->Access << "\n";
  if (*row->Request) std::cout << "Request=" << row->Request << "\n";  // the data a read sends
  if (*row->Fields) {
    const std::vector<std::string> names = SplitOn(row->Fields, '|'), parts = SplitOn(row->Layout, ' ');
    const bool blocks = parts.size() == 1 && parts[0] == "LOADBLOCK";  // the values of each block, named
    for (size_t i = 0; i < names.size() && (blocks || i < parts.size()); ++i)
      std::cout << "Field=" << names[i] << (blocks ? "" : ": " + parts[i]) << "\n";
  }
  return ceOk;
}

int Run(const std::vector<std::string>& args) {
  TCliArgs parsed;
  std::string error;
  if (!parsed.Parse(args, {"--format"}, {}, error) || parsed.Positional().size() > 1) {
    std::cerr << "dlt645 catalog: " << (error.empty() ? "最多给出一个PREFIX、WORD或IDENTIFIER" : error) << "\n";
    return ceBadInput;
  }
  const std::string format = parsed.Get("--format", "text");
  if (format != "text" && format != "csv" && format != "json") {
    std::cerr << "dlt645 catalog: --format应为text、csv或json\n";
    return ceBadInput;
  }
  const std::string filter = parsed.Positional().empty() ? "" : parsed.Positional()[0];
  if (filter.size() == 8 && IsHex(filter) && format == "text") return Explain(filter);
  if (format == "csv") std::cout << "identifier,name,layout,unit,access\n";
  int listed = 0;
  for (const TReadingFormat& row : ReadingFormats())
    if (RowMatches(row, filter)) PrintRow(row, format, listed++ == 0);
  if (format == "json") std::cout << (listed ? "\n]\n" : "[]\n");
  return listed ? ceOk : ceFailed;
}

const TCliRegistrar kRegistrar({"catalog", "读数表：数据标识、名称、数据格式、单位", kHelp, Run});
}  // namespace
