#pragma once
// Assembles one reply frame from the bytes that arrive on the line. Bytes are kept in a fixed
// accumulation buffer; every call scans what has arrived so far for a frame of the form
// 68H, six address bytes, 68H, C, L, L data bytes, CS, 16H. The checksum is not examined here.
#include <cstdint>
#include <memory>
#include <vector>

class TReplyScanner {
 public:
  explicit TReplyScanner(int capacity);

  // Empties the buffer for a new exchange.
  void Reset();
  // Appends bytes from `data` and scans after each piece that fits. Returns true as soon as a
  // candidate frame is complete, with its bytes in `frame`: of several, the one that ends first,
  // so that the same bytes give the same frames however they are split. `used` tells how many
  // input bytes were taken; bytes taken behind the frame stay for Next. `dropped` grows by the
  // number of bytes given up because the buffer was full without a frame.
  bool Feed(const uint8_t* data, int count, int& used, std::vector<uint8_t>& frame, int& dropped);
  // Looks for another complete frame among the bytes kept behind the last one found, without
  // new input. Feed the rest of the input (from `used` on) after this returns false.
  bool Next(std::vector<uint8_t>& frame);

  int Count() const { return Size; }
  int Capacity() const { return Cap; }

 private:
  bool Scan(std::vector<uint8_t>& frame);
  int MakeRoom();

  int Cap;
  int Size = 0;
  std::unique_ptr<uint8_t[]> Buf;
};
