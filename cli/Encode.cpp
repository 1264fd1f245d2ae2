// `dlt645 encode`: the frame the workbench would put on the line for an address, a control code,
// a relay count and a data text, packed by the same codec.
#include <iostream>
#include <memory>

#include "cli/Command.h"
#include "protocol/Protocol.h"
#include "protocol/StringUtil.h"

namespace {
const char kHelp[] =
    "Usage: dlt645 encode --address ADDR --ctrl CODE [--relays N] [--data HEX]\n"
    "\n"
    "Prints the DL/T 645-2007 frame the workbench packs for these fields, as spaced hex\n"
    "(two uppercase digits and a blank per byte, then a newline). No preamble bytes.\n"
    "\n"
    "  --address ADDR  meter address, 12 hex digits, most significant first (as typed in the\n"
    "                  main window); only the first 12 characters are read\n"
    "  --ctrl CODE     control (function) code in hex: 11, 0x11 or 11H\n"
    "  --relays N      number of relays, 0..7, put into bits D7..D5 of the control byte\n"
    "  --data HEX      data field in wire order, without the 33H offset and without blanks,\n"
    "                  exactly as the workbench hands it to the codec: an odd last digit is\n"
    "                  ignored and a pair that is not hex (e.g. GZ) is sent as 00H + 33H;\n"
    "                  at most 255 bytes\n"
    "\n"
    "Example: dlt645 encode --address 000000000001 --ctrl 11 --data 33333434\n"
    "  68 01 00 00 00 00 00 68 11 04 66 66 67 67 80 16 \n"
    "\n"
    "Exit status: 0 frame printed; 1 the codec refused the fields (its message on stderr);\n"
    "2 bad or missing options.\n";

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
    std::cerr << "dlt645 encode: unexpected argument '" << opts.Positional().front() << "'\n";
    return ceBadInput;
  }
  if (!opts.Has("--address") || !opts.Has("--ctrl")) {
    std::cerr << "dlt645 encode: --address and --ctrl are required (see dlt645 encode --help)\n";
    return ceBadInput;
  }
  TDltFrame frame;
  if (!ParseCtrl(opts.Get("--ctrl"), frame.CtrlCode)) {
    std::cerr << "dlt645 encode: --ctrl '" << opts.Get("--ctrl")
              << "' is not a control code (one or two hex digits, e.g. 11)\n";
    return ceBadInput;
  }
  if (opts.Has("--relays") && !ParseRelays(opts.Get("--relays"), frame.RelayCount)) {
    std::cerr << "dlt645 encode: --relays '" << opts.Get("--relays") << "' is not a number 0..7\n";
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

const TCliRegistrar kRegistrar({"encode", "pack a frame from address, control code and data", kHelp,
                                &RunEncode});
}  // namespace
