// The tariff table texts written to a meter (day time segments hhmmNN, year time zones MMDDNN),
// as the table editors load and build them: rows built into a text load back as the same rows
// and build the same text again; any text loads only valid times and dates into the rows it
// reports, leaves the others alone, and what it loads builds a text that is stable from then on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "protocol/TariffTable.h"

namespace {

int DaysIn(int month) {
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return days[month - 1];
}

bool ValidRow(TTariffKind kind, const TTariffRow& row) {
  if (row.Number < 0 || row.Number > TariffNumberCount(kind)) return false;
  if (kind == TTariffKind::Segment) return row.High >= 0 && row.High <= 23 && row.Low >= 0 && row.Low <= 59;
  return row.High >= 1 && row.High <= 12 && row.Low >= 1 && row.Low <= DaysIn(row.High);
}

bool SameRow(const TTariffRow& a, const TTariffRow& b) {
  return a.High == b.High && a.Low == b.Low && a.Number == b.Number;
}

TTariffRow RandomRow(FuzzedDataProvider& in, TTariffKind kind) {
  TTariffRow row;
  if (kind == TTariffKind::Segment) {
    row.High = in.ConsumeIntegralInRange(0, 23);
    row.Low = in.ConsumeIntegralInRange(0, 59);
  } else {
    row.High = in.ConsumeIntegralInRange(1, 12);
    row.Low = in.ConsumeIntegralInRange(1, DaysIn(row.High));
  }
  row.Number = in.ConsumeIntegralInRange(-1, TariffNumberCount(kind) + 1);  // also out of the list
  return row;
}

// Rows -> text -> rows: each row with a number comes back, a row without one as the row before.
void CheckBuiltRows(TTariffKind kind, const TTariffRows& rows) {
  const std::string text = BuildTableText(kind, rows);
  const auto numbered = [&](const TTariffRow& r) { return r.Number >= 1 && r.Number <= TariffNumberCount(kind); };
  if (!numbered(rows[0])) {
    FUZZ_CHECK(text.empty());
    return;
  }
  FUZZ_CHECK(text.size() == static_cast<std::size_t>(TariffRowCount * TariffEntryLength));
  TTariffRows loaded{};
  FUZZ_CHECK(LoadRows(kind, text, loaded) == TariffRowCount);
  TTariffRow expected = rows[0];
  for (int i = 0; i < TariffRowCount; ++i) {
    if (numbered(rows[static_cast<std::size_t>(i)])) expected = rows[static_cast<std::size_t>(i)];
    FUZZ_CHECK(SameRow(loaded[static_cast<std::size_t>(i)], expected));
  }
  FUZZ_CHECK(BuildTableText(kind, loaded) == text);
}

void CheckLoadedText(TTariffKind kind, const std::string& text) {
  TTariffRows rows;
  for (TTariffRow& row : rows) row = TTariffRow{77, 88, 99};  // what the rows held before
  const int count = LoadRows(kind, text, rows);
  FUZZ_CHECK(count >= 0 && count <= TariffRowCount && static_cast<std::size_t>(count) <= text.size() / 6);
  for (int i = 0; i < TariffRowCount; ++i) {
    const TTariffRow& row = rows[static_cast<std::size_t>(i)];
    if (i < count) FUZZ_CHECK(ValidRow(kind, row));
    else FUZZ_CHECK(SameRow(row, TTariffRow{77, 88, 99}));
  }
  const std::string built = BuildTableText(kind, rows);
  TTariffRows again{};
  LoadRows(kind, built, again);
  FUZZ_CHECK(BuildTableText(kind, again) == built);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 2048) return 0;
  FuzzedDataProvider in(data, size);
  const TTariffKind kind = in.ConsumeBool() ? TTariffKind::Segment : TTariffKind::Zone;
  TTariffRows rows;
  for (TTariffRow& row : rows) row = RandomRow(in, kind);
  CheckBuiltRows(kind, rows);
  CheckLoadedText(kind, in.ConsumeRemainingBytesAsString());
  return 0;
}
