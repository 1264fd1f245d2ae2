#pragma once
// Hands messages to an MQTT broker with QoS 1, on a thread of its own, through libmosquitto.
//
// Publish() never waits for the network: it puts the message in a bounded backlog (the oldest
// gives way when it is full, counted as dropped). The thread connects, hands the backlog to the
// broker while the link is up (at most kMaxInFlight messages waiting for their PUBACK), and
// reconnects after a loss or a refusal with a backoff from 0.5 s to 8 s. libmosquitto sends the
// messages in flight again after a reconnect. Every message ends as published (the broker
// acknowledged it) or dropped (pushed out of the backlog, or still unacknowledged at Finish).
// What the user should know about the link (connected, lost, refused and why) is collected as
// Chinese notices for the caller to print on its own thread.
//
// Every call into libmosquitto after Start() is made on the publisher's thread; the caller's
// thread only touches the backlog, the counts and the notices, under one lock.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "services/MqttMessage.h"

struct mosquitto;

class TMqttPublisher {
 public:
  struct TOptions {
    TMqttUrl Url;
    size_t QueueCapacity = 1000;
    std::string ClientId;  // empty: dlt645-HOSTNAME-PID
    int KeepAliveSec = 15;
  };
  struct TCounts {
    long long Published = 0, Dropped = 0;
    size_t Pending = 0;  // in the backlog or waiting for the broker's acknowledgement
  };
  static constexpr size_t kMaxInFlight = 20;

  explicit TMqttPublisher(TOptions options);
  ~TMqttPublisher();
  TMqttPublisher(const TMqttPublisher&) = delete;
  TMqttPublisher& operator=(const TMqttPublisher&) = delete;

  // Creates the client and starts the thread; false with a message when libmosquitto refuses.
  bool Start(std::string& error);
  void Publish(TMqttMessage message);
  std::vector<std::string> TakeNotices();
  // Waits at most `waitMs` while the broker is connected for what is pending to be
  // acknowledged, then disconnects, stops the thread and counts the rest as dropped.
  void Finish(int waitMs);
  TCounts Counts() const;
  const std::string& Prefix() const { return Options.Url.Prefix; }

  // libmosquitto's callbacks, on the publisher's thread.
  void OnConnect(int code);
  void OnPublish(int mid);

 private:
  enum class TLink { Down, Connecting, Up };
  using TClock = std::chrono::steady_clock;
  void Run(std::stop_token stop);
  void Attempt();
  void LinkDown(const std::string& reason);
  void Pump();
  void WaitForAttempt(std::stop_token stop);
  void Notice(const std::string& text);
  TLink State() const;
  void SetState(TLink link);

  TOptions Options;
  mosquitto* Client = nullptr;
  // The publisher's thread alone.
  bool EverConnected = false, Attempted = false;
  std::string LastReason;     // of the last notice about a failed attempt or a loss
  std::string RefusedReason;  // the broker's refusal, until the loop reports the closed link
  TClock::time_point NextAttempt{}, ConnectDeadline{};
  TClock::duration Backoff{};
  // Under Lock.
  mutable std::mutex Lock;
  std::condition_variable_any Changed;
  TMqttBacklog Backlog;
  std::set<int> InFlight;
  long long Published = 0, DroppedAtEnd = 0;
  TLink Link = TLink::Connecting;  // the first attempt is made as soon as the thread runs
  std::vector<std::string> Notices;
  std::jthread Thread;
};
