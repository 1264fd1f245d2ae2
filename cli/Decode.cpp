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
    "Usage: dlt645 decode HEX...\n"
    "\n"
    "Checks and decodes one DL/T 645-2007 frame given in hex. Blanks are optional; the hex may\n"
    "be one argument or several (\"FE FE 68 01 ...\" or FE FE 68 01 ...).\n"
    "\n"
    "As the workbench's receiver does, everything before the first 68H is skipped (the FE wake-up\n"
    "bytes of a meter's reply, noise). The frame is the L + 12 bytes from that 68H, L being the\n"
    "byte at offset 9; bytes after it are not part of the frame and are reported as Trailing=N.\n"
    "When fewer than L + 12 bytes follow the 68H, all of them are checked (and the frame is\n"
    "invalid).\n"
    "\n"
    "Output: the codec's verdict on the first line (合法帧 valid / 非法帧 invalid). For a valid\n"
    "frame then one field per line, Name=value:\n"
    "  Address    A5..A0, 12 hex digits, most significant first\n"
    "  Ctrl       the control byte, two hex digits\n"
    "  Dir        1 = sent by the meter, 0 = sent by the master station\n"
    "  Normal     1 = normal reply, 0 = abnormal reply (D6 set)\n"
    "  LastFrame  1 = no further frame follows, 0 = further frames follow (D5 set)\n"
    "  FuncCode   the function code D4..D0, two hex digits\n"
    "  Len        the L byte, decimal\n"
    "  Data       the L data bytes minus 33H, hex, wire order\n"
    "  FrameText  the frame's bytes, each as two hex digits and a blank\n"
    "Booleans are printed as 1 or 0. Further lines, only when they apply:\n"
    "  Skipped    number of bytes before the first 68H\n"
    "  Trailing   number of bytes after the frame\n"
    "  ErrorWord  the error word of an abnormal reply with one data byte, two hex digits\n"
    "  ErrorText  its meaning, as the workbench shows it\n"
    "  Value      for a normal read reply: the data after the identifier, most significant\n"
    "             byte first, as the meter's display reads it (a follow-up reply's sequence\n"
    "             number not included)\n"
    "  Sequence   for a normal follow-up reply (12H): the sequence number ending its data,\n"
    "             decimal\n"
    "  Identifier for a normal 11H or 12H reply: its data identifier, DI3 first\n"
    "  Name       the identifier's name (the catalogue's, or the reading table's)\n"
    "  Reading    the value in engineering units (1234.56 kWh, -1.234 A, 10:15:00), or\n"
    "             \"无法按LAYOUT解析：reason\" when the data does not fit the layout. A record,\n"
    "             a data block or a load record gives one line per entry, named:\n"
    "             \"Reading=发生时刻 2026-12-09 10:15:00\", \"Reading=费率1 20.00 kWh\",\n"
    "             \"Reading=记录块2 A相电压 220.0 V\". A follow-up reply (12H) reads its own\n"
    "             data; one with further frames to come says so. For a normal 13H reply\n"
    "             (read address): the address, 12 digits\n"
    "  Request    for a read command whose data goes on after the identifier (a load record\n"
    "             from a given time): one line per item, \"Request=记录块数 2\",\n"
    "             \"Request=给定时间 2026-12-09 10:15\"\n"
    "  Meaning    a one-line reading of the control byte\n"
    "For an invalid frame the reason is written to stderr.\n"
    "\n"
    "Exit status: 0 valid frame; 1 invalid frame (also: no 68H, fewer than 12 bytes from it);\n"
    "2 the input is not hex or has an odd number of digits.\n";

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
        error = std::string("'") + c + "' is not a hex digit";
        return false;
      }
      digits += c;
    }
  }
  if (digits.empty()) {
    error = "no hex digits given";
    return false;
  }
  if (digits.size() % 2 != 0) {
    error = "odd number of hex digits (" + std::to_string(digits.size()) + "): every byte needs two";
    return false;
  }
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(HexValue(digits[i]) * 16 + HexValue(digits[i + 1])));
  }
  return true;
}

// Why CheckFrame said no, in the order it checks.
std::string InvalidReason(const uint8_t* f, int len) {
  if (f[0] != 0x68 || f[7] != 0x68) return "the second 68H is not at offset 7";
  if (f[9] != len - 12) {
    return "the L byte says " + std::to_string(f[9]) + " data bytes, the frame holds " +
           std::to_string(len - 12);
  }
  const uint8_t sum = TProtocol::CheckSum(f, 0, len - 2);
  if (sum != f[len - 2]) return "checksum is " + Hex2(f[len - 2]) + "H, the bytes sum to " + Hex2(sum) + "H";
  if (f[len - 1] != 0x16) return "the last byte is " + Hex2(f[len - 1]) + "H, not 16H";
  return "rejected by the codec";
}

std::string Meaning(const TFrameBody& body) {
  std::string text = body.Dir ? "reply from the meter" : "command from the master station";
  text += ", function " + Hex2(body.FuncCode) + "H";
  if (!body.Normal) text += ", abnormal reply";
  if (!body.LastFrame) text += ", further frames follow";
  return text;
}

int RunDecode(const std::vector<std::string>& args) {
  for (const std::string& a : args) {
    if (a.rfind("--", 0) == 0) {
      std::cerr << "dlt645 decode: unknown option " << a << "\n";
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
    std::cerr << "dlt645 decode: no 68H start byte in the " << bytes.size() << " bytes given\n";
    return ceFailed;
  }
  const size_t available = bytes.size() - start;
  if (available < 12) {
    TProtocol::CheckFrame(nullptr, 0, verdict);
    std::cout << verdict << "\n";
    std::cerr << "dlt645 decode: " << available
              << " bytes from the first 68H; the shortest frame has 12\n";
    return ceFailed;
  }
  const size_t frameLen = static_cast<size_t>(bytes[start + 9]) + 12;
  const size_t len = available >= frameLen ? frameLen : available;
  const size_t trailing = available - len;
  const uint8_t* frame = bytes.data() + start;

  if (TProtocol::CheckFrame(frame, static_cast<int>(len), verdict) != 0) {
    std::cout << verdict << "\n";
    if (len < frameLen) {
      std::cerr << "dlt645 decode: the L byte announces a frame of " << frameLen << " bytes, only "
                << len << " follow the first 68H\n";
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

const TCliRegistrar kRegistrar({"decode", "check and decode a received frame given in hex", kHelp,
                                &RunDecode});
}  // namespace
