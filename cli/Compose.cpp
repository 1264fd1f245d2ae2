// `dlt645 compose`: the bytes the workbench's Send would put on the line for a command composed
// from its fields, preamble included, as the main window's frame preview shows them.
#include <iostream>
#include <memory>

#include "cli/Command.h"
#include "cli/CommandOptions.h"
#include "protocol/Compose.h"
#include "protocol/Protocol.h"

namespace {

std::string Help() {
  return "用法：dlt645 compose --cmd NAME [--address ADDR] [--di DI] [--len N] [--data DIGITS]\n"
         "                     [--relay ADDR]... [--settings PATH] [--password PSW] [--operator CODE]\n"
         "                     [--collector ADDR] [--preamble LC:N|none] [--verbose]\n"
         "\n"
         "按工作台主窗口的方式组成一条命令，输出“发送”会写出的字节：先是前导字节，再是打包后\n"
         "的帧，以带空格的十六进制输出（每字节两位大写数字加一个空格，最后换行）。\n"
         "\n" +
         CommandOptionsHelp() +
         "\n"
         "  --verbose         同时输出组成的各字段，每行一个Name=value\n"
         "\n"
         "示例：dlt645 compose --cmd read --address 1 --di 00010000\n"
         "  68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 \n"
         "\n"
         "退出状态：0 已输出帧；1 无法组帧（没有可用的数据标识、电表不认识的波特率、路由或\n"
         "采集器不可用）或打包失败，原因在stderr上；2 选项有误或缺少选项。\n";
}

int RunCompose(const std::vector<std::string>& args) {
  std::vector<std::string> flags = CommandFlagOptions();
  flags.push_back("--verbose");
  TCliArgs opts;
  std::string error;
  if (!opts.Parse(args, CommandValuedOptions(), flags, error)) {
    std::cerr << "dlt645 compose: " << error << "\n";
    return ceBadInput;
  }
  TDltFrame frame;
  TPreamble preamble;
  const int result = ComposeFromOptions(opts, frame, preamble, error);
  if (result != ceOk) {
    std::cerr << "dlt645 compose: " << error << "\n";
    return result;
  }
  std::unique_ptr<uint8_t[]> bytes;
  int count = 0;
  if (TProtocol::Pack(frame.Address, frame, frame.DataField, bytes, count, error) != 0) {
    std::cerr << error << "\n";
    return ceFailed;
  }
  std::cout << PreviewText(bytes.get(), count, preamble.UseLC, preamble.LC, preamble.LCCount) << "\n";
  if (opts.Has("--verbose")) std::cout << FrameFieldLines(frame);
  return ceOk;
}

const TCliRegistrar Registrar({"compose", "由各字段组成命令，输出“发送”写出的字节",
                               Help(), &RunCompose});

}  // namespace
