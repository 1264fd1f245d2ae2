#pragma once
// The decoded reply as `Name=value` lines, shared by `dlt645 decode` and `dlt645 send`.
#include <string>

#include "protocol/Types.h"

std::string Hex2(int value);  // two uppercase hex digits

// Address, Ctrl, Dir, Normal, LastFrame, FuncCode, Len and Data; for an abnormal reply with one
// data byte also ErrorWord and ErrorText; for a normal read reply also Value, the data after the
// identifier in display order (most significant byte first, as a meter's display reads), and for
// a follow-up reply (12H) Sequence, the frame's sequence number that ends its data, in decimal;
// for a normal 11H reply then Identifier, Name (catalogue or reading table) and Reading.
std::string FrameBodyLines(const TFrameBody& body);
