// Readings in engineering units, both ways: data bytes that read as a text parse back from that
// text to data that reads as the same text (and, once read, to the same bytes again), a text that
// parses gives data that reads, and whatever the identifier and bytes, a reading that fails says
// so instead of showing a value.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/Reading.h"

namespace {


// An identifier one of the reading table's rows stands for, or any eight characters.
std::string PickIdentifier(FuzzedDataProvider& in) {
  const auto& rows = ReadingFormats();
  if (in.ConsumeIntegralInRange(0, 7) == 0) return in.ConsumeBytesAsString(8);
  const std::vector<std::string> members = RowIdentifiers(rows[in.ConsumeIntegralInRange<std::size_t>(0, rows.size() - 1)]);
  return members[in.ConsumeIntegralInRange<std::size_t>(0, members.size() - 1)];
}

// Data of the identifier's length (mostly), each byte BCD (mostly) with the sign bit now and then.
std::vector<uint8_t> PickData(FuzzedDataProvider& in, const std::string& di) {
  const int length = ReadingLength(di);
  const std::size_t size = length > 0 && in.ConsumeBool() ? static_cast<std::size_t>(length)
                                                          : in.ConsumeIntegralInRange<std::size_t>(0, 80);
  const bool bcd = in.ConsumeBool();
  std::vector<uint8_t> data;
  for (std::size_t i = 0; i < size; ++i) {
    uint8_t b = in.ConsumeIntegral<uint8_t>();
    if (bcd) b = static_cast<uint8_t>((b >> 4) % 10 << 4 | (b & 15) % 10 | (b & 0x80 && i + 1 == size ? 0x80 : 0));
    data.push_back(b);
  }
  return data;
}

const char* const kTextPieces[] = {
    "0", "1", "2", "3", "5", "9", "12", "23", "59", ".", "-", "+", ":", " ", "; ", ", ", "#", "kWh", "kW", "V",
    "A", "kvar", "min", "Hz", "H", "day ", "h", "not set", "unused", "total ", "T1 ", "A ", "B ", "C ",
    "2026-12-09", " (星期三)", "10:15", "10:15:00", "12-31", "abc", "\t", "总 ", "费率1 ", "未设置", "未使用",
    "日", "时", "（", "）",
};

std::string PickText(FuzzedDataProvider& in) {
  std::string text;
  const int count = in.ConsumeIntegralInRange(0, 16);
  for (int i = 0; i < count; ++i)
    text += kTextPieces[in.ConsumeIntegralInRange<std::size_t>(0, sizeof kTextPieces / sizeof *kTextPieces - 1)];
  return text;
}

void CheckRead(const std::string& di, const std::vector<uint8_t>& data) {
  const TReading r = FormatReading(di, data);
  std::vector<uint8_t> parsed;
  std::string error;
  if (!r.Ok) {
    // The reason is never taken for a value.
    FUZZ_CHECK(!r.Text.empty() && r.Value == r.Text);
    FUZZ_CHECK(!ParseReading(di, r.Text, parsed, error));
    return;
  }
  if (r.Value != r.Text) FUZZ_CHECK(r.Text == r.Value + " " + r.Unit);
  const TReadingFormat* row = FindReadingFormat(di);
  FUZZ_CHECK(row != nullptr);
  const std::string layout = row->Layout;
  if (layout == "LOADBLOCK" || layout == "FREEZEBLOCK") return;  // made by the meter, never typed
  // A record reads entry by entry, each field after its name; typed so it gives its bytes back.
  if (*row->Fields) FUZZ_CHECK(!r.Entries.empty());

  FUZZ_CHECK(ParseReading(di, r.Text, parsed, error));
  FUZZ_CHECK(parsed.size() == data.size());
  const TReading again = FormatReading(di, parsed);
  // A date's week day is worked out again when it is typed: the meter's own (maybe wrong) week
  // day shows as read, and the text of the parsed data may name another day.
  FUZZ_CHECK(again.Ok && (again.Text == r.Text || std::string(row->Layout) == "YYMMDDWW"));
  std::vector<uint8_t> twice;
  FUZZ_CHECK(ParseReading(di, again.Text, twice, error) && twice == parsed);
}

void CheckParse(const std::string& di, const std::string& text) {
  std::vector<uint8_t> data;
  std::string error;
  if (!ParseReading(di, text, data, error)) {
    FUZZ_CHECK(!error.empty());
    return;
  }
  const int length = ReadingLength(di);
  if (length > 0) FUZZ_CHECK(data.size() == static_cast<std::size_t>(length));
  const TReading r = FormatReading(di, data);
  FUZZ_CHECK(r.Ok);
  std::vector<uint8_t> back;
  FUZZ_CHECK(ParseReading(di, r.Text, back, error) && back == data);
}

// The other replies: a read address (13H) reply, a follow-up (12H) with its sequence number,
// and the data of a read request (a load record from a given time) never crash and say why not.
void CheckOtherReplies(const std::string& di, const std::vector<uint8_t>& data) {
  static const char* hex = "0123456789ABCDEF";
  TFrameBody body;
  body.Dir = 1;
  body.Normal = body.LastFrame = true;
  for (int i = 3; i >= 0; --i)
    for (int k : {0, 1}) body.Data += di.size() == 8 ? di[static_cast<std::size_t>(2 * i + k)] : '0';
  for (uint8_t b : data) (body.Data += hex[b >> 4]) += hex[b & 15];
  body.FuncCode = 0x12;  // the last byte is the sequence number, no part of the value
  const TReading follow = ReplyReading(body);
  if (!data.empty() && di.size() == 8)
    FUZZ_CHECK(follow.Text == FormatReading(di, std::vector<uint8_t>(data.begin(), data.end() - 1)).Text);
  body.FuncCode = 0x13;
  body.Data = body.Data.substr(8);
  const TReading address = ReplyReading(body);
  FUZZ_CHECK(address.Ok == (data.size() == 6) && !address.Text.empty());
  if (address.Ok) FUZZ_CHECK(address.Text.size() == 12);
  const TReading request = RequestReading(di, data);
  FUZZ_CHECK(!request.Text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 2048) return 0;
  FuzzedDataProvider in(bytes, size);
  const std::string di = PickIdentifier(in);
  CheckRead(di, PickData(in, di));
  CheckParse(di, PickText(in));
  CheckOtherReplies(di, PickData(in, di));
  ReadingTip(di, in.ConsumeRemainingBytes<uint8_t>());
  return 0;
}
