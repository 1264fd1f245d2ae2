#pragma once
// Records shared by the communication code and the windows. Texts are UTF-8 inside the program.
#include <string>

#include "protocol/DateTime.h"

// One received frame in decoded form, filled by TProtocol::UnPack.
struct TFrameBody {
  std::string Address;  // A5..A0, 12 hex digits, display order
  int Ctrl = 0;         // the whole control byte
  int Dir = 0;          // D7: 1 = sent by the meter
  bool Normal = false;  // D6 == 0
  bool LastFrame = false;  // D5 == 0: no subsequent frame follows
  int FuncCode = 0;     // D4..D0
  int Len = 0;          // the L byte
  std::string Data;     // L data bytes minus 33H, hex, wire order, no separator
  std::string FrameText;  // every byte as two hex digits and a blank
};

// One row of the main window's message grid.
struct TComMsg {
  std::string Flag;     // "发送→", "接收←" or empty for a note row
  std::string Func;     // e.g. "11H"
  std::string Content;  // spaced hex frame or a note
  TDateTime Time = 0;
  std::string Succ;     // outcome
};

// One entry of the interactive command window's log.
struct TChannelComLog {
  std::string Flag;
  TDateTime Time = 0;
  std::string Content;
  std::string Parse;
};

// Serial port settings as the parameter dialog shows them.
struct TComInfo {
  std::string Port;       // a device path on Linux, e.g. /dev/ttyUSB0
  std::string BaudRate;   // "9600"
  std::string DataBits;   // "5".."8"
  std::string Parity;     // "None", "Even", "Odd" or the Chinese names
  std::string StopBits;   // "1", "1.5", "2"
  std::string InputMode;  // "Text" or "Binary" ("1" counts as binary)
  bool Opened = false;
  // RS-485 direction control by the port's driver (off by default), delays in milliseconds.
  bool Rs485 = false;
  int Rs485BeforeMs = 0;
  int Rs485AfterMs = 0;
};
