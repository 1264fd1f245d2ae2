#pragma once
// A serial server of our own on 127.0.0.1, for the RFC 2217 cases a real server does not show:
// it answers the client's WILL COM-PORT-OPTION as told (or not at all), answers each SET command
// (optionally with another baud rate), may greet with bytes of its own, and then hands its end
// of the connection to the test. Its telnet reading is written here by hand from RFC 854/2217,
// independent of the client under test.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct TPeerScript {
  int AnswerWill = 0xFD;        // DO (0xFD), DONT (0xFE) or WONT (0xFC); 0 stays silent
  uint32_t BaudAnswer = 0;      // 0 answers the baud rate asked for
  std::vector<uint8_t> Greeting;  // sent as soon as the client connects
};

class TComPortPeer {
 public:
  explicit TComPortPeer(TPeerScript script) : Script(std::move(script)) {
    Listen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(Listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(Listen, 1);
    socklen_t len = sizeof addr;
    ::getsockname(Listen, reinterpret_cast<sockaddr*>(&addr), &len);
    Port = ntohs(addr.sin_port);
    Thread = std::thread([this] { Serve(); });
  }
  ~TComPortPeer() {
    if (Thread.joinable()) Thread.join();
    if (Fd >= 0) ::close(Fd);
    ::close(Listen);
  }
  std::string Name(const std::string& query = "") const {
    return "rfc2217://127.0.0.1:" + std::to_string(Port) + query;
  }
  // Waits for the negotiation to end (the client's Open has returned by then).
  void Join() {
    if (Thread.joinable()) Thread.join();
  }

  void Send(const std::vector<uint8_t>& bytes) const { ::send(Fd, bytes.data(), bytes.size(), MSG_NOSIGNAL); }
  // What arrives within `ms` after the negotiation, as it is on the wire.
  std::vector<uint8_t> Receive(size_t want, int ms = 2000) {
    std::vector<uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (got.size() < want && std::chrono::steady_clock::now() < end && ReadSome(got, 20)) {
    }
    return got;
  }

  std::vector<uint8_t> Heard;  // the client's bytes during the negotiation
  // The four SET commands' values as the client sent them, FFH undoubled, by command code.
  std::vector<uint8_t> SetValue[5];
  int Fd = -1;

 private:
  // False once the client has closed the connection.
  bool ReadSome(std::vector<uint8_t>& into, int ms) const {
    pollfd p{Fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) return true;
    uint8_t chunk[512];
    const ssize_t n = ::recv(Fd, chunk, sizeof chunk, 0);
    if (n > 0) into.insert(into.end(), chunk, chunk + n);
    return n > 0;
  }

  size_t Find(const std::vector<uint8_t>& what, size_t from = 0) const {
    for (size_t i = from; i + what.size() <= Heard.size(); ++i)
      if (std::equal(what.begin(), what.end(), Heard.begin() + static_cast<std::ptrdiff_t>(i))) return i;
    return std::string::npos;
  }

  // Reads SB 44 <code> <value> SE commands until all four have come (or two seconds passed).
  void AnswerSettings() {
    size_t from = 0;
    int answered = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (answered < 4 && std::chrono::steady_clock::now() < end) {
      const size_t sb = Find({0xFF, 0xFA, 44}, from);
      const size_t se = sb == std::string::npos ? sb : Find({0xFF, 0xF0}, sb);
      if (se == std::string::npos) {
        if (!ReadSome(Heard, 20)) return;
        continue;
      }
      const uint8_t code = Heard[sb + 3];
      std::vector<uint8_t> value;
      for (size_t i = sb + 4; i < se; ++i) {
        value.push_back(Heard[i]);
        if (Heard[i] == 0xFF) ++i;  // doubled
      }
      if (code >= 1 && code <= 4) SetValue[code] = value;
      if (code == 1 && Script.BaudAnswer != 0)
        value = {uint8_t(Script.BaudAnswer >> 24), uint8_t(Script.BaudAnswer >> 16), uint8_t(Script.BaudAnswer >> 8),
                 uint8_t(Script.BaudAnswer)};
      std::vector<uint8_t> answer = {0xFF, 0xFA, 44, uint8_t(code + 100)};
      for (uint8_t b : value) {
        answer.push_back(b);
        if (b == 0xFF) answer.push_back(b);
      }
      answer.insert(answer.end(), {0xFF, 0xF0});
      Send(answer);
      ++answered;
      from = se + 2;
    }
  }

  void Serve() {
    pollfd p{Listen, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return;
    Fd = ::accept(Listen, nullptr, nullptr);
    if (!Script.Greeting.empty()) Send(Script.Greeting);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (Find({0xFF, 0xFB, 44}) == std::string::npos && std::chrono::steady_clock::now() < end)
      if (!ReadSome(Heard, 20)) return;
    if (Script.AnswerWill == 0) return;
    Send({0xFF, uint8_t(Script.AnswerWill), 44});
    if (Script.AnswerWill == 0xFD) AnswerSettings();
  }

  TPeerScript Script;
  int Listen = -1;
  int Port = 0;
  std::thread Thread;
};
