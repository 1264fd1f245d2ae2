#include "cli/FrameBodyText.h"

#include "protocol/DLT.h"
#include "protocol/PublicFunc.h"
#include "protocol/Reading.h"
#include "protocol/StringUtil.h"

std::string Hex2(int value) {
  const uint8_t b = static_cast<uint8_t>(value);
  return TStringUtil::BytesToHex(&b, 1);
}

std::string FrameBodyLines(const TFrameBody& body) {
  std::string out;
  out += "Address=" + body.Address + "\n";
  out += "Ctrl=" + Hex2(body.Ctrl) + "\n";
  out += "Dir=" + std::to_string(body.Dir) + "\n";
  out += std::string("Normal=") + (body.Normal ? "1" : "0") + "\n";
  out += std::string("LastFrame=") + (body.LastFrame ? "1" : "0") + "\n";
  out += "FuncCode=" + Hex2(body.FuncCode) + "\n";
  out += "Len=" + std::to_string(body.Len) + "\n";
  out += "Data=" + body.Data + "\n";
  if (!body.Normal && body.Len == 1 && body.Data.size() >= 2) {
    const std::string word = body.Data.substr(0, 2);
    uint8_t value = 0;
    TStringUtil::TryHexPair(word, value);
    out += "ErrorWord=" + word + "\n";
    out += "ErrorText=" + TDLT::ErrorText(value) + "\n";
  }
  // A read reply carries the identifier (4 bytes) first, then the value in wire order; a
  // follow-up reply (12H) ends with the frame's sequence number, which is no part of the value.
  const bool readReply = body.FuncCode == 0x11 || body.FuncCode == 0x12;
  const std::size_t valueEnd = body.Data.size() - (body.FuncCode == 0x12 ? 2 : 0);
  if (body.Normal && body.Dir == 1 && readReply && valueEnd > 8) {
    out += "Value=" + ReverseHex(body.Data.substr(8, valueEnd - 8)) + "\n";
    if (body.FuncCode == 0x12) {
      uint8_t sequence = 0;
      TStringUtil::TryHexPair(body.Data.substr(valueEnd), sequence);
      out += "Sequence=" + std::to_string(sequence) + "\n";
    }
    if (body.FuncCode == 0x11) {
      const std::string di = ReverseHex(body.Data.substr(0, 8));
      out += "Identifier=" + di + "\n";
      out += "Name=" + IdentifierName(di) + "\n";
      out += "Reading=" + ReplyReading(body).Text + "\n";
    }
  }
  return out;
}
