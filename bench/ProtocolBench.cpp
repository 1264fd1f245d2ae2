// The codec's cost per frame: packing a read command (main window preview every 500 ms and every
// send) and checking + unpacking a meter's reply (sending thread, every reply).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/Protocol.h"

namespace {
void BM_PackReadFrame(benchmark::State& state) {
  TDltFrame frame;
  frame.CtrlCode = 0x11;
  const std::string address = "000000000001";
  const std::string dataField = "00000100";  // DI 00010000 in wire order
  std::unique_ptr<uint8_t[]> out;
  int len = 0;
  std::string error;
  for (auto _ : state) {
    int rc = TProtocol::Pack(address, frame, dataField, out, len, error);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(out.get());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PackReadFrame);

// A 20-byte normal reply to a read: DI 00010000 and a 4-byte energy value.
std::vector<uint8_t> Reply20() {
  std::vector<uint8_t> f = {0x68, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x68, 0x91, 0x08};
  for (uint8_t d : {0x00, 0x00, 0x01, 0x00, 0x78, 0x56, 0x34, 0x12}) f.push_back(d + 0x33);
  unsigned sum = 0;
  for (uint8_t b : f) sum += b;
  f.push_back(static_cast<uint8_t>(sum));
  f.push_back(0x16);
  return f;
}

void BM_CheckAndUnPackReply(benchmark::State& state) {
  const std::vector<uint8_t> reply = Reply20();
  std::string verdict, error;
  for (auto _ : state) {
    int rc = TProtocol::CheckFrame(reply.data(), static_cast<int>(reply.size()), verdict);
    TFrameBody body;
    rc += TProtocol::UnPack(reply.data(), static_cast<int>(reply.size()), body, error);
    benchmark::DoNotOptimize(rc);
    benchmark::DoNotOptimize(body.Data.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(reply.size()));
}
BENCHMARK(BM_CheckAndUnPackReply);
}  // namespace

BENCHMARK_MAIN();
