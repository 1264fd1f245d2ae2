// `dlt645 decode`: checks and unpacks a received frame with the workbench's own codec and says
// what it means.
#include <iostream>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/FrameBodyText.h"
#include "protocol/DLT.h"
#include "protocol/Protocol.h"
#include "protocol/StringUtil.h"

namespace {
const char kHelp[] =
    "用法：dlt645 decode HEX...\n"
    "\n"
    "检查并解析一个以十六进制给出的DL/T 645-2007帧。空格可有可无；十六进制可以是一个参数，\n"
    "也可以分成几个（\"FE FE 68 01 ...\"或FE FE 68 01 ...）。\n"
    "\n"
    "与工作台的接收一样，第一个68H之前的字节都被跳过（电表应答前的FE唤醒字节、噪声）。\n"
    "帧是从该68H起的L + 12个字节，L为偏移9处的字节；帧后的字节不属于该帧，以Trailing=N\n"
    "报出。68H后不足L + 12个字节时，检查其全部字节（该帧为非法帧）。\n"
    "\n"
    "输出：第一行是编解码器的结论（合法帧 / 非法帧）。合法帧随后每行一个字段，Name=value：\n"
    "  Address    A5..A0，12位十六进制数字，高位在前\n"
    "  Ctrl       控制字节，两位十六进制数字\n"
    "  Dir        1 = 电表发出，0 = 主站发出\n"
    "  Normal     1 = 正常应答，0 = 异常应答（D6置位）\n"
    "  LastFrame  1 = 无后续帧，0 = 有后续帧（D5置位）\n"
    "  FuncCode   功能码D4..D0，两位十六进制数字\n"
    "  Len        L字节，十进制\n"
    "  Data       L个数据字节减33H，十六进制，线路顺序\n"
    "  FrameText  帧的各字节，每字节两位十六进制数字加一个空格\n"
    "布尔值输出为1或0。以下各行只在适用时出现：\n"
    "  Skipped    第一个68H之前的字节数\n"
    "  Trailing   帧后的字节数\n"
    "  ErrorWord  只带一个数据字节的异常应答中的错误信息字，两位十六进制数字\n"
    "  ErrorText  其含义，与工作台显示的相同\n"
    "  Value      正常的读数据应答：标识后的数据，高字节在前，与电表显示的读法相同\n"
    "             （不含后续帧应答的帧序号）\n"
    "  Sequence   正常的后续帧应答（12H）：数据末尾的帧序号，十进制\n"
    "  Identifier 正常的11H或12H应答：其数据标识，DI3在前\n"
    "  Name       标识的名称（取自目录或读数表）\n"
    "  Reading    以工程单位表示的值（1234.56 kWh、-1.234 A、10:15:00），数据不符合格式时\n"
    "             为\"无法按LAYOUT解析：原因\"。记录、数据块或负荷记录每项一行，带名称：\n"
    "             \"Reading=发生时刻 2026-12-09 10:15:00\"、\"Reading=费率1 20.00 kWh\"、\n"
    "             \"Reading=记录块2 A相电压 220.0 V\"。后续帧应答（12H）解析其自身的数据；\n"
    "             还有后续帧时会注明。正常的13H应答（读通信地址）：地址，12位数字\n"
    "  Request    标识后还带数据的读命令（从给定时间起的负荷记录）：每项一行，\n"
    "             \"Request=记录块数 2\"、\"Request=给定时间 2026-12-09 10:15\"\n"
    "  Meaning    控制字节的一行解读\n"
    "非法帧的原因写到stderr上。\n"
    "\n"
    "退出状态：0 合法帧；1 非法帧（包括：没有68H、从68H起不足12个字节）；2 输入不是十六进制\n"
    "或数字个数为奇数。\n";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool ParseHex(const std::vector<std::string>& words, std::vector<uint8_t>& bytes, std::string& error) {
  std::string digits;
  for (const std::string& w : words) {
    for (char c : w) {
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      if (HexValue(c) < 0) {
        error = std::string("“") + c + "”不是十六进制数字";
        return false;
      }
      digits += c;
    }
  }
  if (digits.empty()) {
    error = "没有给出十六进制数字";
    return false;
  }
  if (digits.size() % 2 != 0) {
    error = "十六进制数字个数为奇数（" + std::to_string(digits.size()) + "）：每个字节需要两位";
    return false;
  }
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
  }
  return true;
}

// Why CheckFrame said no, in the order it checks.
std::string InvalidReason(const uint8_t* f, int len) {
  if (f[0] != 0x68 || f[7] != 0x68) return "第二个68H不在偏移7处";
  if (f[9] != len - 12) {
    return "L字节表示" + std::to_string(f[9]) + "个数据字节，帧中实有" + std::to_string(len - 12) + "个";
  }
  const uint8_t sum = TProtocol::CheckSum(f, 0, len - 2);
  if (sum != f[len - 2]) return "校验和为" + Hex2(f[len - 2]) + "H，各字节之和为" + Hex2(sum) + "H";
  if (f[len - 1] != 0x16) return "最后一个字节为" + Hex2(f[len - 1]) + "H，不是16H";
  return "被编解码器拒绝";
}

std::string Meaning(const TFrameBody& body) {
  std::string text = body.Dir ? "电表的应答" : "主站的命令";
  text += "，功能码" + Hex2(body.FuncCode) + "H";
  if (!body.Normal) text += "，异常应答";
  if (!body.LastFrame) text += "，有后续帧";
  return text;
}

int RunDecode(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a.rfind("--", 0) == 0) {
      std::cerr << "dlt645 decode: 不认识的选项“" << a << "”\n";
      return ceBadInput;
    }
  }
  std::vector<uint8_t> bytes;
  std::string error;
  if (!ParseHex(args, bytes, error)) {
    std::cerr << "dlt645 decode: " << error << "\n";
    return ceBadInput;
  }

  size_t start = 0;
  while (start < bytes.size() && bytes[start] != 0x68) ++start;
  std::string verdict;
  if (start == bytes.size()) {
    TProtocol::CheckFrame(nullptr, 0, verdict);
    std::cout << verdict << "\n";
    std::cerr << "dlt645 decode: 给出的" << bytes.size() << "个字节中没有起始字节68H\n";
    return ceFailed;
  }
  const size_t available = bytes.size() - start;
  if (available < 12) {
    TProtocol::CheckFrame(nullptr, 0, verdict);
    std::cout << verdict << "\n";
    std::cerr << "dlt645 decode: 从第一个68H起只有" << available << "个字节，最短的帧也有12个\n";
    return ceFailed;
  }
  const size_t frameLen = static_cast<size_t>(bytes[start + 9]) + 12;
  const size_t len = available >= frameLen ? frameLen : available;
  const size_t trailing = available - len;
  const uint8_t* frame = bytes.data() + start;

  if (TProtocol::CheckFrame(frame, static_cast<int>(len), verdict) != 0) {
    std::cout << verdict << "\n";
    if (len < frameLen) {
      std::cerr << "dlt645 decode: L字节表示帧长" << frameLen << "个字节，第一个68H起只有" << len << "个\n";
    } else {
      std::cerr << "dlt645 decode: " << InvalidReason(frame, static_cast<int>(len)) << "\n";
    }
    return ceFailed;
  }
  TFrameBody body;
  if (TProtocol::UnPack(frame, static_cast<int>(len), body, error) != 0) {
    std::cout << verdict << "\n";
    std::cerr << error << "\n";
    return ceFailed;
  }
  std::cout << verdict << "\n" << FrameBodyLines(body) << "FrameText=" << body.FrameText << "\n";
  if (start > 0) std::cout << "Skipped=" << start << "\n";
  if (trailing > 0) std::cout << "Trailing=" << trailing << "\n";
  std::cout << "Meaning=" << Meaning(body) << "\n";
  return ceOk;
}

const TCliRegistrar kRegistrar({"decode", "检查并解析以十六进制给出的接收帧", kHelp,
                                &RunDecode});
}  // namespace
