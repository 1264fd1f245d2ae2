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
  return "Usage: dlt645 compose --cmd NAME [--address ADDR] [--di DI] [--len N] [--data DIGITS]\n"
         "                      [--relay ADDR]... [--settings PATH] [--password PSW] [--operator CODE]\n"
         "                      [--collector ADDR] [--preamble LC:N|none] [--verbose]\n"
         "\n"
         "Composes a command as the workbench's main window does and prints the bytes Send would\n"
         "write: the preamble bytes, then the packed frame, as spaced hex (two uppercase digits and\n"
         "a blank per byte, then a newline).\n"
         "\n" +
         CommandOptionsHelp() +
         "\n"
         "  --verbose         also print the composed fields, one Name=value line each\n"
         "\n"
         "Example: dlt645 compose --cmd read --address 1 --di 00010000\n"
         "  68 01 00 00 00 00 00 68 11 04 33 33 34 33 B3 16 \n"
         "\n"
         "Exit status: 0 frame printed; 1 no frame can be built (no usable identifier, a baud rate\n"
         "the meter does not know, an unusable route or collector) or packing failed, with the\n"
         "reason on stderr; 2 bad or missing options.\n";
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

const TCliRegistrar Registrar({"compose", "compose a command from its fields and print the bytes Send writes",
                               Help(), &RunCompose});

}  // namespace
