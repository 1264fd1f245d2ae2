#pragma once
// Telnet as a serial server speaks it (RFC 854/855), with the COM-PORT-OPTION of RFC 2217: the
// byte parser that splits the incoming stream into data and commands, the escaping of data sent,
// and the client's side of the negotiation (which options it asks for, how it answers the
// server, whether the server took each line setting). Pure: no I/O, no clock, no threads, so
// every case is tested byte for byte and fuzzed (fuzz/fuzz_telnet.cpp).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Telnet {
constexpr uint8_t IAC = 0xFF, DONT = 0xFE, DO = 0xFD, WONT = 0xFC, WILL = 0xFB, SB = 0xFA, SE = 0xF0;
constexpr uint8_t BINARY = 0, SGA = 3, COM_PORT = 44;
// COM-PORT-OPTION commands of the client; the server answers each with the code plus 100.
constexpr uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4;
constexpr uint8_t SERVER_OFFSET = 100;
}  // namespace Telnet

struct TTelnetCommand {
  uint8_t Verb = 0;              // WILL, WONT, DO, DONT, or SB for a subnegotiation
  uint8_t Option = 0;
  std::vector<uint8_t> Payload;  // a subnegotiation's bytes after the option, FFH undoubled
  bool operator==(const TTelnetCommand&) const = default;
};

class TTelnetParser {
 public:
  // Longer subnegotiations are not telnet as a serial server speaks it.
  static constexpr size_t MaxSubnegotiation = 256;

  // Splits `bytes`: data (IAC IAC as one FFH) is appended to `data`, option commands and
  // subnegotiations to `commands`; NOP, GA and the other one-byte commands are dropped. A
  // sequence may end in one call and go on in the next. False with a Chinese message when a byte
  // is not telnet (FFH before an undefined command, a subnegotiation that never ends; the message
  // has no closing mark, the caller ends it); the
  // parser drops the bad sequence, goes on with the next byte, and reports the first fault.
  bool Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data, std::vector<TTelnetCommand>& commands,
            std::string& error);
  void Reset() { *this = TTelnetParser(); }

 private:
  enum class TState { Data, Iac, Option, SbOption, SbData, SbIac };
  bool Step(uint8_t b, std::vector<uint8_t>& data, std::vector<TTelnetCommand>& commands, std::string& error);
  bool StepSb(uint8_t b, std::vector<TTelnetCommand>& commands, std::string& error);

  TState State = TState::Data;
  TTelnetCommand Current;
};

// Data as it goes on the wire: every FFH doubled.
std::vector<uint8_t> TelnetEscape(const uint8_t* bytes, size_t count);

// The line settings in the terms of COM-PORT-OPTION.
struct TComPortLine {
  uint32_t Baud = 9600;
  uint8_t DataSize = 8;  // 5..8
  uint8_t Parity = 1;    // 1 none, 2 odd, 3 even, 4 mark, 5 space
  uint8_t StopSize = 1;  // 1 one, 2 two, 3 one and a half
};
// From a settings text ("9600,E,8,1"); false with the settings' own message.
bool ComPortLineOf(const std::string& settings, TComPortLine& line, std::string& error);

// The client's side: options asked for at the start (WILL COM-PORT-OPTION, BINARY and SGA both
// ways), answers to the server's option commands that never repeat an option already in the
// state asked (no negotiation loops), then the four line settings and their answers.
class TRfc2217Client {
 public:
  enum class TComPort { Asked, Accepted, Refused };

  std::vector<uint8_t> Start();
  // Takes one command of the server; what to send in reply is appended to `reply`.
  void Handle(const TTelnetCommand& command, std::vector<uint8_t>& reply);
  TComPort ComPort() const { return ComPortState; }

  // The four SET commands (FFH in a value doubled); the answers are expected afterwards.
  std::vector<uint8_t> SetLine(const TComPortLine& line);
  // All four settings answered with the values asked for.
  bool LineSet() const { return Answered == 4 && Mismatch.empty(); }
  // The first answer that differs, naming the setting ("波特率9600（服务器回复4800）"); empty if none.
  const std::string& LineMismatch() const { return Mismatch; }
  // The settings not answered yet, with the values asked for ("停止位1.5"), joined by "、".
  std::string Unanswered() const;

 private:
  struct TSide {
    bool On = false;
    bool Asked = false;
  };
  static bool Wanted(uint8_t option) {
    return option == Telnet::BINARY || option == Telnet::SGA || option == Telnet::COM_PORT;
  }
  void HandleComPort(const std::vector<uint8_t>& payload);
  std::string SettingText(int at, uint32_t value) const;
  void Agree(TSide& side, bool on, uint8_t yes, uint8_t no, uint8_t option, std::vector<uint8_t>& reply);

  TSide Us[256];    // options this client performs (WILL/WONT from us, DO/DONT from the server)
  TSide Them[256];  // options the server performs
  TComPort ComPortState = TComPort::Asked;
  TComPortLine Line;
  bool LineSent = false;
  int Answered = 0;
  bool Seen[4] = {false, false, false, false};
  std::string Mismatch;
};
