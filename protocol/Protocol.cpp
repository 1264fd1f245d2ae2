// The DL/T 645-2007 frame:
//   68H | A0..A5 | 68H | C | L | L data bytes (+33H each) | CS | 16H
// CS is the byte sum of everything before it. A frame is L + 12 bytes long.
#include "protocol/Protocol.h"

#include <new>

#include "protocol/LogSink.h"
#include "protocol/StringUtil.h"

namespace {
const char kPackError[] = "生成发送报文内容发生错误：";
const char kValidFrame[] = "合法帧";
const char kInvalidFrame[] = "非法帧";
const char kUnPackError[] = "解析接收报文发生错误：";
const char kUnPackSource[] = "TProtocol.UnPack";

constexpr uint8_t kStart = 0x68;
constexpr uint8_t kEnd = 0x16;
constexpr uint8_t kDataOffset = 0x33;
constexpr int kFrameOverhead = 12;  // 68H, 6 address bytes, 68H, C, L, CS, 16H
constexpr int kMaxDataLen = 255;    // L is one byte

std::string NotAnInteger(const std::string& pair) {
  return "'$" + pair + "' is not a valid integer value";
}

// Text positions are 0-based here: the pair of bytes i = 1..6 starts at 12 - 2i.
std::string AddressPair(const std::string& address, int i) {
  const size_t pos = static_cast<size_t>(12 - 2 * i);
  if (pos >= address.size()) return std::string();
  return address.substr(pos, 2);
}
}  // namespace

uint8_t TProtocol::CheckSum(const uint8_t* buf, int start, int count) {
  if (buf == nullptr || count <= 0 || start < 0) return 0;
  unsigned sum = 0;
  for (int i = 0; i < count; ++i) sum += buf[start + i];
  return static_cast<uint8_t>(sum);
}

int TProtocol::Pack(const std::string& address, const TDltFrame& frame, const std::string& dataText,
                    std::unique_ptr<uint8_t[]>& out, int& outLen, std::string& error) {
  out.reset();
  outLen = 0;
  error.clear();

  const size_t dataLen = dataText.size() / 2;  // an odd last digit is ignored
  if (dataLen > static_cast<size_t>(kMaxDataLen)) {
    // The L byte cannot say more than 255; a frame with a truncated L would lie to the meter.
    error = std::string(kPackError) + "data field of " + std::to_string(dataLen) +
            " bytes is longer than the 255 bytes a frame can carry";
    return 1;
  }
  const int len = static_cast<int>(dataLen);

  uint8_t address6[6];
  for (int i = 1; i <= 6; ++i) {
    const std::string pair = AddressPair(address, i);
    if (!TStringUtil::TryHexPair(pair, address6[i - 1])) {
      error = std::string(kPackError) + NotAnInteger(pair);
      return 1;
    }
  }

  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[len + kFrameOverhead]);
  if (!buf) {
    error = std::string(kPackError) + "out of memory";
    return 1;
  }
  buf[0] = kStart;
  for (int i = 0; i < 6; ++i) buf[1 + i] = address6[i];
  buf[7] = kStart;
  const unsigned relays = static_cast<unsigned>(frame.RelayCount) % 8u;
  buf[8] = static_cast<uint8_t>(static_cast<unsigned>(frame.CtrlCode) + 32u * relays);
  buf[9] = static_cast<uint8_t>(len);
  for (int j = 0; j < len; ++j) {
    uint8_t value = 0;  // a pair that is not hexadecimal counts as 00
    if (!TStringUtil::TryHexPair(dataText.substr(2 * static_cast<size_t>(j), 2), value)) value = 0;
    buf[10 + j] = static_cast<uint8_t>(value + kDataOffset);
  }
  buf[10 + len] = CheckSum(buf.get(), 0, 10 + len);
  buf[11 + len] = kEnd;

  out = std::move(buf);
  outLen = len + kFrameOverhead;
  return 0;
}

int TProtocol::CheckFrame(const uint8_t* buf, int len, std::string& verdict) {
  verdict = kInvalidFrame;
  if (buf == nullptr || len < kFrameOverhead) return 1;
  if (buf[0] != kStart || buf[7] != kStart) return 1;
  if (buf[9] != len - kFrameOverhead) return 1;
  if (CheckSum(buf, 0, len - 2) != buf[len - 2]) return 1;
  if (buf[len - 1] != kEnd) return 1;
  verdict = kValidFrame;
  return 0;
}

int TProtocol::UnPack(const uint8_t* buf, int len, TFrameBody& body, std::string& error) {
  error.clear();
  if (buf == nullptr || len < 0) len = 0;
  body.FrameText = TStringUtil::BytesToHexSpaced(buf, len);

  // Every field is read only when its bytes are there; a short buffer ends decoding with a
  // message and keeps the fields decoded before it.
  auto fail = [&](const std::string& message) {
    error = std::string(kUnPackError) + message;
    LogEntry(ltException, kUnPackSource, error);
    return 1;
  };
  auto tooShort = [&](int needed) {
    return fail("frame of " + std::to_string(len) + " bytes is too short, " +
                std::to_string(needed) + " bytes needed");
  };

  if (len < 7) return tooShort(7);
  std::string address;
  for (int i = 6; i >= 1; --i) address += TStringUtil::BytesToHex(buf + i, 1);
  body.Address = address;

  if (len < 9) return tooShort(9);
  const int c = buf[8];
  body.Ctrl = c;
  body.Dir = c >> 7;
  body.Normal = (c & 0x40) == 0;
  body.LastFrame = (c & 0x20) == 0;
  body.FuncCode = c & 0x1F;

  if (len < 10) return tooShort(10);
  body.Len = buf[9];

  if (len < 10 + body.Len) return tooShort(10 + body.Len);
  std::string data;
  data.reserve(static_cast<size_t>(body.Len) * 2);
  for (int j = 0; j < body.Len; ++j) {
    const uint8_t value = static_cast<uint8_t>(buf[10 + j] - kDataOffset);
    data += TStringUtil::BytesToHex(&value, 1);
  }
  body.Data = data;
  return 0;
}
