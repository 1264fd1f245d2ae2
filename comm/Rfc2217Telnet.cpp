#include "comm/Rfc2217Telnet.h"

#include <cstdio>

#include "comm/SerialPort.h"

namespace {

std::string Hex(uint8_t b) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", b);
  return std::string(text) + "H";
}

}  // namespace

bool TTelnetParser::Feed(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data,
                         std::vector<TTelnetCommand>& commands, std::string& error) {
  bool ok = true;
  for (size_t i = 0; i < count; ++i) {
    std::string fault;
    if (!Step(bytes[i], data, commands, fault) && ok) {
      ok = false;
      error = fault;
    }
  }
  return ok;
}

bool TTelnetParser::Step(uint8_t b, std::vector<uint8_t>& data, std::vector<TTelnetCommand>& commands,
                         std::string& error) {
  using namespace Telnet;
  switch (State) {
    case TState::Data:
      if (b == IAC) State = TState::Iac;
      else data.push_back(b);
      return true;
    case TState::Iac:
      State = TState::Data;
      if (b == IAC) {
        data.push_back(b);
      } else if (b >= WILL && b <= DONT) {
        Current = TTelnetCommand();
        Current.Verb = b;
        State = TState::Option;
      } else if (b == SB) {
        Current = TTelnetCommand();
        Current.Verb = SB;
        State = TState::SbOption;
      } else if (b == SE) {
        error = "收到无效的telnet数据：子协商结束（FF F0）前没有子协商开始";
        return false;
      } else if (b < SE) {
        error = "收到无效的telnet数据：FFH后为" + Hex(b) + "，不是telnet命令";
        return false;
      }
      return true;  // NOP, DM, BRK, IP, AO, AYT, EC, EL, GA: nothing a serial link needs
    case TState::Option:
      Current.Option = b;
      commands.push_back(Current);
      State = TState::Data;
      return true;
    default: return StepSb(b, commands, error);
  }
}

bool TTelnetParser::StepSb(uint8_t b, std::vector<TTelnetCommand>& commands, std::string& error) {
  using namespace Telnet;
  if (State == TState::SbOption) {
    Current.Option = b;
    State = TState::SbData;
    return true;
  }
  if (State == TState::SbData) {
    if (b == IAC) State = TState::SbIac;
    else Current.Payload.push_back(b);
  } else if (b == IAC) {  // SbIac: a doubled FFH in the payload
    Current.Payload.push_back(b);
    State = TState::SbData;
  } else if (b == SE) {
    commands.push_back(Current);
    State = TState::Data;
    return true;
  } else {
    State = TState::Data;
    error = "收到无效的telnet数据：子协商中FFH后为" + Hex(b);
    return false;
  }
  if (Current.Payload.size() > MaxSubnegotiation) {
    State = TState::Data;
    error = "收到无效的telnet数据：子协商超过" + std::to_string(MaxSubnegotiation) + "字节仍未结束";
    return false;
  }
  return true;
}

std::vector<uint8_t> TelnetEscape(const uint8_t* bytes, size_t count) {
  std::vector<uint8_t> out;
  out.reserve(count + 4);
  for (size_t i = 0; i < count; ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == Telnet::IAC) out.push_back(Telnet::IAC);
  }
  return out;
}

bool ComPortLineOf(const std::string& settings, TComPortLine& line, std::string& error) {
  int baud = 0, dataBits = 0;
  char parity = 'N';
  double stopBits = 1;
  if (!TSerialPort::ParseSettings(settings, baud, parity, dataBits, stopBits, error)) return false;
  line.Baud = static_cast<uint32_t>(baud);
  line.DataSize = static_cast<uint8_t>(dataBits);
  const std::string parities = "NOEMS";
  line.Parity = static_cast<uint8_t>(parities.find(parity) + 1);
  line.StopSize = stopBits == 1 ? 1 : stopBits == 2 ? 2 : 3;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The client's negotiation

std::vector<uint8_t> TRfc2217Client::Start() {
  using namespace Telnet;
  *this = TRfc2217Client();
  for (uint8_t option : {COM_PORT, BINARY, SGA}) Us[option].Asked = true;
  for (uint8_t option : {BINARY, SGA}) Them[option].Asked = true;
  return {IAC, WILL, COM_PORT, IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA};
}

void TRfc2217Client::Handle(const TTelnetCommand& command, std::vector<uint8_t>& reply) {
  using namespace Telnet;
  const uint8_t option = command.Option;
  if (option == COM_PORT && ComPortState == TComPort::Asked) {
    if (command.Verb == DO) ComPortState = TComPort::Accepted;
    if (command.Verb == DONT || command.Verb == WONT) ComPortState = TComPort::Refused;
  }
  switch (command.Verb) {
    case DO: Agree(Us[option], true, WILL, WONT, option, reply); break;
    case DONT: Agree(Us[option], false, WILL, WONT, option, reply); break;
    case WILL: Agree(Them[option], true, DO, DONT, option, reply); break;
    case WONT: Agree(Them[option], false, DO, DONT, option, reply); break;
    case SB:
      if (option == COM_PORT) HandleComPort(command.Payload);
      break;
    default: break;
  }
}

// One side of an option moves to `on`; an answer goes out only where the state changes and this
// client did not ask for the change itself.
void TRfc2217Client::Agree(TSide& side, bool on, uint8_t yes, uint8_t no, uint8_t option,
                           std::vector<uint8_t>& reply) {
  const bool asked = side.Asked;
  side.Asked = false;
  if (on && !Wanted(option)) {
    reply.insert(reply.end(), {Telnet::IAC, no, option});
    return;
  }
  if (side.On == on) return;
  side.On = on;
  if (!asked) reply.insert(reply.end(), {Telnet::IAC, on ? yes : no, option});
}

std::vector<uint8_t> TRfc2217Client::SetLine(const TComPortLine& line) {
  using namespace Telnet;
  Line = line;
  LineSent = true;
  Answered = 0;
  for (bool& seen : Seen) seen = false;
  Mismatch.clear();
  const uint8_t baud[4] = {static_cast<uint8_t>(line.Baud >> 24), static_cast<uint8_t>(line.Baud >> 16),
                           static_cast<uint8_t>(line.Baud >> 8), static_cast<uint8_t>(line.Baud)};
  std::vector<uint8_t> out;
  auto command = [&out](uint8_t code, const uint8_t* value, size_t size) {
    out.insert(out.end(), {IAC, SB, COM_PORT, code});
    const std::vector<uint8_t> escaped = TelnetEscape(value, size);
    out.insert(out.end(), escaped.begin(), escaped.end());
    out.insert(out.end(), {IAC, SE});
  };
  command(SET_BAUDRATE, baud, 4);
  command(SET_DATASIZE, &line.DataSize, 1);
  command(SET_PARITY, &line.Parity, 1);
  command(SET_STOPSIZE, &line.StopSize, 1);
  return out;
}

namespace {

std::string ParityText(uint32_t v) {
  const char* const names[] = {"N", "O", "E", "M", "S"};
  return v >= 1 && v <= 5 ? names[v - 1] : std::to_string(v);
}

std::string StopText(uint32_t v) { return v == 3 ? "1.5" : std::to_string(v); }

const char* const kSettingNames[] = {"波特率", "数据位", "校验位", "停止位"};

}  // namespace

// The value of setting `at` (0 baud rate .. 3 stop bits) as the settings text writes it.
std::string TRfc2217Client::SettingText(int at, uint32_t value) const {
  return at == 2 ? ParityText(value) : at == 3 ? StopText(value) : std::to_string(value);
}

std::string TRfc2217Client::Unanswered() const {
  const uint32_t asked[] = {Line.Baud, Line.DataSize, Line.Parity, Line.StopSize};
  std::string text;
  for (int at = 0; at < 4; ++at)
    if (!Seen[at]) text += (text.empty() ? "" : "、") + std::string(kSettingNames[at]) + SettingText(at, asked[at]);
  return text;
}

void TRfc2217Client::HandleComPort(const std::vector<uint8_t>& payload) {
  using namespace Telnet;
  if (!LineSent || payload.empty()) return;
  const int code = payload[0] - SERVER_OFFSET;
  if (code < SET_BAUDRATE || code > SET_STOPSIZE) return;  // notifications, the signature
  const size_t size = code == SET_BAUDRATE ? 4 : 1;
  uint32_t got = 0;
  for (size_t i = 1; i < payload.size() && i <= size; ++i) got = got << 8 | payload[i];
  const uint32_t asked[] = {Line.Baud, Line.DataSize, Line.Parity, Line.StopSize};
  const int at = code - 1;
  if (!Seen[at]) {
    Seen[at] = true;
    ++Answered;
  }
  if (payload.size() == size + 1 && got == asked[at]) return;
  if (!Mismatch.empty()) return;
  Mismatch = std::string(kSettingNames[at]) + SettingText(at, asked[at]) + "（服务器回复" +
             (payload.size() == size + 1 ? SettingText(at, got) : std::string("的长度无效")) + "）";
}
