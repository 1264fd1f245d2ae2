// `dlt645 encode`: the frame the workbench would put on the line for an address, a control code,
// a relay count and a data text, packed by the same codec.
#include <iostream>
#include <memory>

#include "cli/Command.h"
#include "protocol/Protocol.h"
#include "protocol/StringUtil.h"

namespace {
const char kHelp[] =
    "用法：dlt645 encode --address ADDR --ctrl CODE [--relays N] [--data HEX]\n"
    "\n"
    "输出工作台按这些字段打包的DL/T 645-2007帧，以带空格的十六进制输出（每字节两位大写\n"
    "数字加一个空格，最后换行）。不含前导字节。\n"
    "\n"
    "  --address ADDR  表地址，12位十六进制数字，高位在前（与主窗口中的输入相同）；只读取\n"
    "                  前12个字符\n"
    "  --ctrl CODE     控制码（功能码），十六进制：11、0x11或11H\n"
    "  --relays N      中继个数，0到7，放入控制字节的D7..D5位\n"
    "  --data HEX      数据域，线路顺序，不加33H，不带空格，与工作台交给编解码器的完全\n"
    "                  相同：末尾单出的一位数字被忽略，不是十六进制的一对数字（例如GZ）\n"
    "                  按00H加33H发送；最多255字节\n"
    "\n"
    "示例：dlt645 encode --address 000000000001 --ctrl 11 --data 33333434\n"
    "  68 01 00 00 00 00 00 68 11 04 66 66 67 67 80 16 \n"
    "\n"
    "退出状态：0 已输出帧；1 编解码器拒绝了这些字段（其消息在stderr上）；2 选项有误或\n"
    "缺少选项。\n";

// "11", "0x11" or "11H": one or two hex digits.
bool ParseCtrl(std::string text, int& value) {
  if (text.size() > 2 && (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0)) text.erase(0, 2);
  if (!text.empty() && (text.back() == 'H' || text.back() == 'h')) text.pop_back();
  uint8_t byte = 0;
  if (!TStringUtil::TryHexPair(text, byte)) return false;
  value = byte;
  return true;
}

bool ParseRelays(const std::string& text, int& value) {
  if (text.size() != 1 || text[0] < '0' || text[0] > '7') return false;
  value = text[0] - '0';
  return true;
}

int RunEncode(const std::vector<std::string>& args) {
  TCliArgs opts;
  std::string error;
  if (!opts.Parse(args, {"--address", "--ctrl", "--relays", "--data"}, {}, error)) {
    std::cerr << "dlt645 encode: " << error << "\n";
    return ceBadInput;
  }
  if (!opts.Positional().empty()) {
    std::cerr << "dlt645 encode: 多余的参数“" << opts.Positional().front() << "”\n";
    return ceBadInput;
  }
  if (!opts.Has("--address") || !opts.Has("--ctrl")) {
    std::cerr << "dlt645 encode: 必须给出--address和--ctrl（见dlt645 encode --help）\n";
    return ceBadInput;
  }
  TDltFrame frame;
  if (!ParseCtrl(opts.Get("--ctrl"), frame.CtrlCode)) {
    std::cerr << "dlt645 encode: --ctrl“" << opts.Get("--ctrl")
              << "”不是控制码（应为一到两位十六进制数字，例如11）\n";
    return ceBadInput;
  }
  if (opts.Has("--relays") && !ParseRelays(opts.Get("--relays"), frame.RelayCount)) {
    std::cerr << "dlt645 encode: --relays“" << opts.Get("--relays") << "”应为0到7之间的数字\n";
    return ceBadInput;
  }
  std::unique_ptr<uint8_t[]> buf;
  int len = 0;
  if (TProtocol::Pack(opts.Get("--address"), frame, opts.Get("--data"), buf, len, error) != 0) {
    std::cerr << error << "\n";
    return ceFailed;
  }
  std::cout << TStringUtil::BytesToHexSpaced(buf.get(), len) << "\n";
  return ceOk;
}

const TCliRegistrar kRegistrar({"encode", "由地址、控制码和数据打包一帧", kHelp,
                                &RunEncode});
}  // namespace
