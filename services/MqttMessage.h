#pragma once
// What a poll hands to an MQTT broker, as pure functions: the broker's address as the user
// writes it, the topic and JSON text of one reading, and the bounded backlog that holds readings
// while the broker is away. The connection itself is TMqttPublisher's (services/MqttPublisher.h).
//
//   mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC-PREFIX
//
// HOST is a name, an IPv4 address or an IPv6 address in brackets; PORT defaults to 1883; USER
// and PASSWORD may hold %XX escapes (for '@', ':' or '/'); the prefix may have several levels
// (site/line-3) but no wildcard ('+', '#'). A reading goes to TOPIC-PREFIX/ADDRESS/IDENTIFIER.
#include <cstddef>
#include <deque>
#include <string>

struct TMqttUrl {
  std::string Host;  // without brackets
  int Port = 1883;
  std::string User, Password;  // decoded; empty User: no credentials
  std::string Prefix;          // the topic prefix, without a trailing '/'
  bool operator==(const TMqttUrl&) const = default;
};

// False with a Chinese message naming what is wrong. The scheme is taken in any letter case.
bool ParseMqttUrl(const std::string& text, TMqttUrl& url, std::string& error);
// The address written back (credentials escaped), so that it parses to the same TMqttUrl.
std::string FormatMqttUrl(const TMqttUrl& url);
// HOST:PORT for messages ([v6]:PORT); never shows the credentials.
std::string MqttServerText(const TMqttUrl& url);

// One reading as poll writes it to its CSV row. RoundTripMs is empty when no reply came.
struct TMqttReading {
  std::string Time;  // ISO 8601 with the UTC offset: 2026-12-09T20:48:31.123+08:00
  std::string Address, Identifier, Name, RawValue, Reading, Unit, RoundTripMs, Outcome;
};

std::string ReadingTopic(const std::string& prefix, const TMqttReading& reading);
// One JSON object: time, address, identifier, name, raw_value, reading, unit (strings),
// round_trip_ms (a number, or null without a reply), outcome (a string).
std::string ReadingJson(const TMqttReading& reading);
// `text` as a JSON string, quotes included: '"', '\\' and control characters escaped, valid
// UTF-8 kept, each byte of an invalid UTF-8 sequence replaced by U+FFFD.
std::string JsonString(const std::string& text);

struct TMqttMessage {
  std::string Topic, Payload;
};

// Messages waiting for the broker, at most `capacity` of them: when full, the oldest gives way
// to the newest and is counted as dropped.
class TMqttBacklog {
 public:
  explicit TMqttBacklog(size_t capacity) : Capacity(capacity ? capacity : 1) {}
  void Push(TMqttMessage message);
  bool Empty() const { return Items.empty(); }
  size_t Size() const { return Items.size(); }
  const TMqttMessage& Front() const { return Items.front(); }
  void PopFront() { Items.pop_front(); }
  // A message taken from the front that could not be handed on goes back there; when the
  // backlog has filled up meanwhile it is the oldest and is dropped.
  void PushFront(TMqttMessage message);
  void CountDropped() { ++DroppedCount; }  // a message given up elsewhere
  void DropAll();  // what is left when the publisher gives up, counted as dropped
  long long Dropped() const { return DroppedCount; }

 private:
  size_t Capacity;
  std::deque<TMqttMessage> Items;
  long long DroppedCount = 0;
};
