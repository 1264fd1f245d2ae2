#pragma once
// `dlt645 poll --mqtt`: every row poll writes is also published as one JSON message under
// TOPIC-PREFIX/ADDRESS/IDENTIFIER (services/MqttPublisher.h). Without --mqtt every call is a no-op.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "services/MqttMessage.h"

class TMqttPublisher;

struct TPollMqttPlan {
  bool On = false;
  TMqttUrl Url;
  size_t Queue = 1000;  // readings kept while the broker is away
};

// Reads --mqtt URL and --mqtt-queue N; false with a message.
bool ParsePollMqtt(const TCliArgs& opts, TPollMqttPlan& plan, std::string& error);

// Time as the messages carry it: local time with its UTC offset, yyyy-mm-ddThh:mm:ss.zzz+hh:mm.
std::string IsoTimeMs(std::chrono::system_clock::time_point when);

class TPollMqtt {
 public:
  TPollMqtt();
  ~TPollMqtt();
  bool Start(const TPollMqttPlan& plan, std::string& error);
  // One CSV row of poll (time, address, identifier, name, raw value, reading, unit, round trip,
  // outcome) and the moment its exchange started. Prints what the publisher has to say.
  void Publish(const std::vector<std::string>& row, std::chrono::system_clock::time_point started);
  // Gives the broker a few seconds for what is pending, then prints MqttPublished= and
  // MqttDropped= to `summary`.
  void Finish(std::FILE* summary);

 private:
  void PrintNotices();
  std::unique_ptr<TMqttPublisher> Publisher;
};
