#include "cli/FrameBodyText.h"

#include "protocol/DLT.h"
#include "protocol/PublicFunc.h"
#include "protocol/Reading.h"
#include "protocol/StringUtil.h"

std::string Hex2(int value) {
  const uint8_t b = static_cast<uint8_t>(value);
  return TStringUtil::BytesToHex(&b, 1);
}

// One Reading= line per entry of a record or block ("Reading=发生时刻 2026-12-09 10:15:00"), the
// value alone for a single one, the reason when the data does not fit its layout.
static std::string ReadingLines(const TReading& reading) {
  if (reading.Entries.empty()) return "Reading=" + reading.Text + "\n";
  std::string out;
  for (const TReadingEntry& e : reading.Entries)
    out += "Reading=" + (e.Name.empty() ? e.Text : e.Name + " " + e.Text) + "\n";
  return out;
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
    const std::string di = ReverseHex(body.Data.substr(0, 8));
    out += "Identifier=" + di + "\n";
    out += "Name=" + IdentifierName(di) + "\n";
    out += ReadingLines(ReplyReading(body));
  }
  if (body.Normal && body.Dir == 1 && body.FuncCode == 0x13) out += ReadingLines(ReplyReading(body));
  // A read that carries data after its identifier (a load record from a given time).
  if (body.Dir == 0 && body.FuncCode == 0x11 && body.Data.size() > 8) {
    const std::string di = ReverseHex(body.Data.substr(0, 8));
    std::vector<uint8_t> data;
    for (std::size_t i = 8; i + 1 < body.Data.size(); i += 2) {
      uint8_t b = 0;
      TStringUtil::TryHexPair(body.Data.substr(i, 2), b);
      data.push_back(b);
    }
    for (const TReadingEntry& e : RequestReading(di, data).Entries) out += "Request=" + e.Name + " " + e.Text + "\n";
  }
  return out;
}
