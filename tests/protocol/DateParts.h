#pragma once
// Date-time values for the protocol tests, built from their parts.
#include "protocol/DateTime.h"

inline TDateParts Parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  TDateParts p;
  p.Year = y;
  p.Month = mo;
  p.Day = d;
  p.Hour = h;
  p.Minute = mi;
  p.Second = s;
  p.Millisecond = ms;
  return p;
}

inline TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  return EncodeDateTime(Parts(y, mo, d, h, mi, s, ms));
}
