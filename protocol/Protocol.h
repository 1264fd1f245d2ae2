#pragma once
// The DL/T 645-2007 frame codec: checksum, packing, validation and unpacking. No state.
#include <cstdint>
#include <memory>
#include <string>

#include "protocol/DLT.h"
#include "protocol/Types.h"

class TProtocol {
 public:
  static uint8_t CheckSum(const uint8_t* buf, int start, int count);
  // Builds the frame for `address` (12 hex digits, display order) and `dataText` (wire order,
  // without the 33H offset). On success returns 0, `out` owns L + 12 bytes and `outLen` is set.
  // On failure returns 1 with the message in `error`; `out` stays empty.
  static int Pack(const std::string& address, const TDltFrame& frame, const std::string& dataText,
                  std::unique_ptr<uint8_t[]>& out, int& outLen, std::string& error);
  // 0 and "合法帧", or 1 and "非法帧".
  static int CheckFrame(const uint8_t* buf, int len, std::string& verdict);
  // Fills `body` from a frame CheckFrame accepted; 0 on success, 1 and a message on a fault.
  static int UnPack(const uint8_t* buf, int len, TFrameBody& body, std::string& error);
};
