// Bytes from a serial server speaking telnet: the parser hands over the same data and commands
// however the stream is split; data escaped for sending reads back as itself; no command is
// longer than its limit; the client's answers are whole option commands and never repeat an
// answer for an option already in the state asked.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comm/Rfc2217Telnet.h"

namespace {

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "property failed: %s\n", what);
  std::abort();
}

struct TParsed {
  std::vector<uint8_t> Data;
  std::vector<TTelnetCommand> Commands;
  bool Ok = true;
};

TParsed Parse(const uint8_t* data, size_t size, size_t cut) {
  TParsed p;
  TTelnetParser parser;
  std::string error;
  p.Ok = parser.Feed(data, cut, p.Data, p.Commands, error);
  Require(p.Ok || !error.empty(), "a fault says what it is");
  std::string second;
  const bool ok = parser.Feed(data + cut, size - cut, p.Data, p.Commands, second);
  Require(ok || !second.empty(), "a fault says what it is");
  p.Ok = p.Ok && ok;
  return p;
}

void CheckClient(const std::vector<TTelnetCommand>& commands) {
  TRfc2217Client client;
  client.Start();
  for (const TTelnetCommand& c : commands) {
    std::vector<uint8_t> reply;
    client.Handle(c, reply);
    Require(reply.size() % 3 == 0, "answers are whole option commands");
    for (size_t i = 0; i < reply.size(); i += 3)
      Require(reply[i] == Telnet::IAC && reply[i + 1] >= Telnet::WILL && reply[i + 2] == c.Option,
              "an answer is an option command for the option asked");
    if (c.Verb == Telnet::SB || c.Option == Telnet::BINARY || c.Option == Telnet::SGA || c.Option == Telnet::COM_PORT) {
      std::vector<uint8_t> again;
      client.Handle(c, again);
      Require(again.empty(), "the same command twice gets no second answer");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
  const TParsed whole = Parse(data, size, size);
  const TParsed split = Parse(data, size, cut);
  Require(whole.Data == split.Data && whole.Commands == split.Commands && whole.Ok == split.Ok,
          "a split stream reads as the whole one");
  Require(whole.Data.size() <= size, "no more data than bytes");
  for (const TTelnetCommand& c : whole.Commands)
    Require(c.Payload.size() <= TTelnetParser::MaxSubnegotiation, "a subnegotiation stays in its limit");

  const std::vector<uint8_t> escaped = TelnetEscape(data, size);
  const TParsed back = Parse(escaped.data(), escaped.size(), escaped.size() / 2);
  Require(back.Ok && back.Commands.empty() && back.Data == std::vector<uint8_t>(data, data + size),
          "escaped data reads back as itself");
  CheckClient(whole.Commands);
  return 0;
}
