// How the virtual meter answers DL/T 645-2007 requests.
#include "sim/MeterCore.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

const char* const Wildcard = "AAAAAAAAAAAA";
const char* const BroadcastAddress = "999999999999";

uint32_t DIFromWire(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

std::string Hex2(int value) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", value & 0xFF);
  return text;
}

std::string DIText(uint32_t di) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", di);
  return text;
}

std::vector<std::vector<uint8_t>> SplitParts(const std::vector<uint8_t>& value) {
  std::vector<std::vector<uint8_t>> parts;
  for (size_t pos = 0; pos < value.size(); pos += MeterFollowChunk) {
    size_t end = std::min(value.size(), pos + static_cast<size_t>(MeterFollowChunk));
    parts.emplace_back(value.begin() + static_cast<long>(pos), value.begin() + static_cast<long>(end));
  }
  return parts;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::toupper(x) == std::toupper(y); });
}

}  // namespace

TMeterCore::TMeterCore(const std::string& address, const std::string& password, const std::string& collector)
    : Collector(collector) {
  State.Address = address;
  State.Password = password;
}

std::vector<uint8_t> TMeterCore::BuildFrame(const std::string& address, uint8_t ctrl, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> frame;
  size_t len = std::min<size_t>(data.size(), 255);
  frame.reserve(len + 12);
  frame.push_back(0x68);
  for (uint8_t b : TMeterData::AddressBytes(address)) frame.push_back(b);
  frame.push_back(0x68);
  frame.push_back(ctrl);
  frame.push_back(static_cast<uint8_t>(len));
  for (size_t i = 0; i < len; ++i) frame.push_back(static_cast<uint8_t>(data[i] + 0x33));
  uint8_t sum = 0;
  for (uint8_t b : frame) sum = static_cast<uint8_t>(sum + b);
  frame.push_back(sum);
  frame.push_back(0x16);
  return frame;
}

TMeterReply TMeterCore::Handle(const std::vector<uint8_t>& frame) {
  TMeterReply reply;
  if (frame.size() < 12 || frame.size() != static_cast<size_t>(frame[9]) + 12) return reply;
  std::string head = Hex2(frame[8] & 0x1F) + "H to " + TMeterData::AddressText(&frame[1]);
  TRequest request;
  std::string why;
  if (!Route(frame, request, why)) {
    reply.Note = head + ": " + why + ", no reply";
    return reply;
  }
  reply = Answer(request);
  if (reply.Note.empty()) reply.Note = "handled";
  reply.Note = head + ": " + reply.Note;
  if (reply.Send) reply.Note += " -> " + Hex2(reply.Frame[8]) + "H";
  else reply.Note += ", no reply";
  return reply;
}

// A shortened address: the high bytes AAH, the low bytes the meter's own (at least one of each).
static bool ShortenedFits(const std::string& address, const std::string& own) {
  size_t pairs = 0;
  while (pairs < 6 && address.compare(2 * pairs, 2, "AA") == 0) ++pairs;
  return pairs > 0 && pairs < 6 && address.compare(2 * pairs, std::string::npos, own, 2 * pairs, std::string::npos) == 0;
}

bool TMeterCore::Route(const std::vector<uint8_t>& frame, TRequest& request, std::string& why) {
  const std::string address = TMeterData::AddressText(&frame[1]);
  const std::string& own = State.Address;
  const int relays = frame[8] >> 5;
  request.Func = frame[8] & 0x1F;
  std::vector<uint8_t> data;
  for (int i = 0; i < frame[9]; ++i) data.push_back(static_cast<uint8_t>(frame[10 + i] - 0x33));

  // A collector in front of the meter: the meter's address closes the data field.
  auto takeCollectorSuffix = [&]() {
    if (data.size() < 6 || TMeterData::AddressText(&data[data.size() - 6]) != own) return false;
    request.Suffix.assign(data.end() - 6, data.end());
    data.resize(data.size() - 6);
    return true;
  };

  if (relays == 0) {
    if (address == own || (!IgnoreShortened && ShortenedFits(address, own)) ||
        (address == Wildcard && (request.Func == 0x13 || request.Func == 0x15))) {
      request.ReplyAddress = own;
    } else if (address == BroadcastAddress) {
      request.Broadcast = true;
    } else if (address == Collector && takeCollectorSuffix()) {
      request.ReplyAddress = own;
    } else if (AnswerAnyAddress) {
      request.ReplyAddress = own;
    } else {
      why = "not for this meter";
      return false;
    }
    request.Data = std::move(data);
    return true;
  }

  // Relayed: the data field starts with the further relays and the final destination. The
  // meter plays the whole chain, so it answers when it is any link of it.
  if (data.size() < static_cast<size_t>(6 * relays)) {
    why = "relay addresses missing";
    return false;
  }
  bool inChain = address == own;
  std::string final;
  for (int k = 0; k < relays; ++k) {
    final = TMeterData::AddressText(&data[static_cast<size_t>(6 * k)]);
    inChain = inChain || final == own;
  }
  data.erase(data.begin(), data.begin() + 6 * relays);
  if (final == Collector && takeCollectorSuffix()) {
    request.ReplyAddress = own;
  } else if (final == BroadcastAddress && inChain) {
    request.Broadcast = true;
  } else if (inChain && final != Wildcard) {
    request.ReplyAddress = final;
  } else {
    why = "relay chain without this meter";
    return false;
  }
  request.Data = std::move(data);
  return true;
}

TMeterReply TMeterCore::Normal(const TRequest& request, std::vector<uint8_t> data, bool more) {
  TMeterReply reply;
  data.insert(data.end(), request.Suffix.begin(), request.Suffix.end());
  reply.Send = true;
  reply.Frame = BuildFrame(request.ReplyAddress, static_cast<uint8_t>(0x80 | request.Func | (more ? 0x20 : 0)), data);
  return reply;
}

TMeterReply TMeterCore::Abnormal(const TRequest& request, uint8_t error) {
  TMeterReply reply;
  std::vector<uint8_t> data = {error};
  data.insert(data.end(), request.Suffix.begin(), request.Suffix.end());
  reply.Send = true;
  reply.Frame = BuildFrame(request.ReplyAddress, static_cast<uint8_t>(0xC0 | request.Func), data);
  reply.Note = "error word " + Hex2(error) + "H";
  return reply;
}

bool TMeterCore::PasswordOk(const uint8_t* wire) const {
  std::string text;
  for (int i = 3; i >= 0; --i) text += Hex2(wire[i]);
  return SameText(text, State.Password);
}

TMeterReply TMeterCore::Answer(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  TMeterReply reply;
  if (request.Func == 0x08) {  // broadcast time: never answered
    reply.Note = TMeterData::SetClock(State, d) ? "clock set" : "impossible time ignored";
    return reply;
  }
  if (request.Broadcast) {
    reply.Note = request.Func == 0x16 ? "broadcast freeze" : "broadcast ignored";
    return reply;
  }
  switch (request.Func) {
    case 0x11: return Read(request);
    case 0x12: return ReadFollow(request);
    case 0x14: return Write(request);
    case 0x13:
      if (d.empty()) return Normal(request, TMeterData::AddressBytes(State.Address));
      if (d.size() == 1 && d[0] == 0x01) return Normal(request, State.Mac);
      return Abnormal(request, meOther);
    case 0x15: {
      if (d.size() == 8 && d[0] == 0x01 && d[1] == 0x01) {
        State.Mac.assign(d.begin() + 2, d.end());
        return Normal(request, {});
      }
      if (d.size() != 6) return Abnormal(request, meOther);
      std::string address = TMeterData::AddressText(d.data());
      if (!TMeterData::IsBcdAddress(address)) return Abnormal(request, meOther);
      State.Address = address;
      TRequest renamed = request;
      renamed.ReplyAddress = address;
      reply = Normal(renamed, {});
      reply.Note = "address now " + address;
      return reply;
    }
    case 0x16: return Freeze(request);
    case 0x17:
      if (d.size() != 1 || (d[0] != 0x02 && d[0] != 0x04 && d[0] != 0x08 && d[0] != 0x10 && d[0] != 0x20 && d[0] != 0x40))
        return Abnormal(request, meBaud);
      State.BaudCode = d[0];
      return Normal(request, {d[0]});
    case 0x18: {  // DI, old password, new password
      if (d.size() < 12) return Abnormal(request, meOther);
      if ((DIFromWire(d.data()) & 0xFFFFFF00u) != 0x04000C00u) return Abnormal(request, meNoData);
      if (!PasswordOk(&d[4])) return Abnormal(request, mePassword);
      State.Password.clear();
      for (int i = 11; i >= 8; --i) State.Password += Hex2(d[static_cast<size_t>(i)]);
      reply = Normal(request, std::vector<uint8_t>(d.begin() + 8, d.begin() + 12));
      reply.Note = "password changed";
      return reply;
    }
    case 0x19:
    case 0x1A:
    case 0x1B: return Clear(request);
    case 0x1C: return Relay(request);
    case 0x1D: return Output(request);
    default: return Abnormal(request, meOther);
  }
}

// Freeze: mm hh DD MM of the freeze time; 99999999 freezes at once (instant freeze, 05010001).
TMeterReply TMeterCore::Freeze(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  if (d.size() != 4) return Abnormal(request, meOther);
  TMeterReply reply = Normal(request, {});
  reply.Note = "freeze time set";
  if (d == std::vector<uint8_t>(4, 0x99)) {
    const std::tm now = TMeterData::MeterTime(State);
    InstantFreeze.clear();
    for (int part : {now.tm_min, now.tm_hour, now.tm_mday, now.tm_mon + 1, now.tm_year % 100})
      InstantFreeze.push_back(TMeterData::Bcd(static_cast<unsigned long long>(part), 1)[0]);
    reply.Note = "frozen";
  }
  return reply;
}

// Clear demand (19H), the meter (1AH), events (1BH): password, operator code (, DI for events).
TMeterReply TMeterCore::Clear(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  if (d.size() < (request.Func == 0x1B ? 12u : 8u) || !PasswordOk(d.data())) return Abnormal(request, mePassword);
  if (request.Func == 0x19) State.DemandCleared = true;
  if (request.Func == 0x1A) State.EnergyCleared = State.DemandCleared = State.EventsCleared = true;
  if (request.Func == 0x1B) State.EventsCleared = true;
  TMeterReply reply = Normal(request, {});
  reply.Note = "cleared";
  return reply;
}

// Relay control: password, operator code, N1 (1AH trip, 1BH/1CH close, 2AH/2BH alarm, 3AH/3BH
// keep power), N2, and the time the command holds until (ss mm hh DD MM YY).
TMeterReply TMeterCore::Relay(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  if (d.size() < 8 || !PasswordOk(d.data())) return Abnormal(request, mePassword);
  if (d.size() != 16) return Abnormal(request, meOther);
  switch (d[8]) {
    case 0x1A: RelayOpen = true; break;
    case 0x1B:
    case 0x1C: RelayOpen = false; break;
    case 0x2A:
    case 0x2B:
    case 0x3A:
    case 0x3B: break;
    default: return Abnormal(request, meOther);
  }
  TMeterReply reply = Normal(request, {});
  reply.Note = RelayOpen ? "relay open" : "relay closed";
  return reply;
}

// Multi-function output: 00H second pulses, 01H demand period, 02H tariff switching; echoed.
TMeterReply TMeterCore::Output(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  if (d.size() != 1 || d[0] > 0x02) return Abnormal(request, meOther);
  TMeterReply reply = Normal(request, d);
  reply.Note = "output " + Hex2(d[0]);
  return reply;
}

bool TMeterCore::CommandState(uint32_t di, std::vector<uint8_t>& value) const {
  if (di == 0x05010001 && !InstantFreeze.empty()) {
    value = InstantFreeze;
    return true;
  }
  if (di != 0x04000503) return false;
  if (TMeterData::ReadValue(State, di, {}, value) != 0 || value.size() != 2) value.assign(2, 0);
  value[0] = static_cast<uint8_t>(RelayOpen ? value[0] | 0x50 : value[0] & ~0x50);
  return true;
}

TMeterReply TMeterCore::Read(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  if (d.size() < 4) return Abnormal(request, meNoData);
  uint32_t di = DIFromWire(d.data());
  std::vector<uint8_t> value;
  uint8_t error = CommandState(di, value) ? 0 : TMeterData::ReadValue(State, di, std::vector<uint8_t>(d.begin() + 4, d.end()), value);
  if (!error && ShortEnergy && (di >> 24) == 0 && !value.empty()) value.pop_back();
  TMeterReply reply;
  if (error) {
    reply = Abnormal(request, error);
    reply.Note = "read " + DIText(di) + ", " + reply.Note;
    return reply;
  }
  std::vector<uint8_t> data(d.begin(), d.begin() + 4);
  if (value.size() > static_cast<size_t>(MeterFollowChunk)) {
    FollowDI = di;
    FollowParts = SplitParts(value);
    data.insert(data.end(), FollowParts[0].begin(), FollowParts[0].end());
    reply = Normal(request, data, true);
    reply.Note = "read " + DIText(di) + ", part 0 of " + std::to_string(FollowParts.size());
    return reply;
  }
  data.insert(data.end(), value.begin(), value.end());
  reply = Normal(request, data);
  reply.Note = "read " + DIText(di);
  return reply;
}

TMeterReply TMeterCore::ReadFollow(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  if (d.size() < 5) return Abnormal(request, meNoData);
  uint32_t di = DIFromWire(d.data());
  int seq = d[4];
  if (di != FollowDI || FollowParts.empty()) {
    std::vector<uint8_t> value;
    if (TMeterData::ReadValue(State, di, {}, value) != 0 || value.size() <= static_cast<size_t>(MeterFollowChunk))
      return Abnormal(request, meNoData);
    FollowDI = di;
    FollowParts = SplitParts(value);
  }
  if (seq < 1 || seq >= static_cast<int>(FollowParts.size())) return Abnormal(request, meNoData);
  std::vector<uint8_t> data(d.begin(), d.begin() + 4);
  data.insert(data.end(), FollowParts[static_cast<size_t>(seq)].begin(), FollowParts[static_cast<size_t>(seq)].end());
  data.push_back(static_cast<uint8_t>(seq));
  TMeterReply reply = Normal(request, data, seq + 1 < static_cast<int>(FollowParts.size()));
  reply.Note = "follow-up " + DIText(di) + " part " + std::to_string(seq);
  return reply;
}

TMeterReply TMeterCore::Write(const TRequest& request) {
  const std::vector<uint8_t>& d = request.Data;
  if (d.size() < 8 || !PasswordOk(&d[4])) {
    TMeterReply reply = Abnormal(request, mePassword);
    reply.Note = "write refused, " + reply.Note;
    return reply;
  }
  if (d.size() < 12) return Abnormal(request, meOther);
  uint32_t di = DIFromWire(d.data());
  uint8_t error = TMeterData::WriteValue(State, di, std::vector<uint8_t>(d.begin() + 12, d.end()));
  TMeterReply reply = error ? Abnormal(request, error) : Normal(request, {});
  reply.Note = "write " + DIText(di) + (error ? ", " + reply.Note : std::string());
  return reply;
}
