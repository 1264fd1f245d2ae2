#include "services/MqttPublisher.h"

#include <mosquitto.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

using namespace std::chrono_literals;

const auto kFirstBackoff = std::chrono::milliseconds(500);
const auto kLastBackoff = std::chrono::seconds(8);
const auto kConnectTimeout = std::chrono::seconds(10);
const int kLoopWaitMs = 50;
const char* const kLost = "连接断开";  // how long one turn of the loop waits for the socket

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] { mosquitto_lib_init(); });
}

std::string DefaultClientId() {
  char host[64] = "host";
  ::gethostname(host, sizeof host - 1);
  return "dlt645-" + std::string(host) + "-" + std::to_string(::getpid());
}

// The broker's answer to CONNECT (MQTT 3.1.1 return codes).
std::string RefusalText(int code) {
  switch (code) {
    case 1: return "服务器不接受这个协议版本";
    case 2: return "客户端标识被拒绝";
    case 3: return "服务器暂时不能提供服务";
    case 4: return "用户名或密码错误";
    case 5: return "未获授权（服务器不许匿名连接，或这个用户无权连接）";
    default: return "返回码" + std::to_string(code);
  }
}

// A result of libmosquitto, read right after the call (errno still holds its cause).
std::string ResultText(int rc, int savedErrno) {
  switch (rc) {
    case MOSQ_ERR_EAI: return "主机名无法解析";
    case MOSQ_ERR_CONN_LOST: return kLost;
    case MOSQ_ERR_CONN_REFUSED: return "服务器拒绝连接";
    case MOSQ_ERR_PROTOCOL: return "服务器的数据不合MQTT协议";
    case MOSQ_ERR_NO_CONN: return "没有连接";
    case MOSQ_ERR_ERRNO:
      if (savedErrno == ECONNREFUSED) return "连接被拒绝（这个端口上没有服务器）";
      if (savedErrno == ETIMEDOUT) return "连接超时";
      if (savedErrno == EHOSTUNREACH || savedErrno == ENETUNREACH) return "网络不通";
      return std::string("系统错误：") + std::strerror(savedErrno);
    default: return std::string("libmosquitto错误：") + mosquitto_strerror(rc);
  }
}

TMqttPublisher* Self(void* obj) { return static_cast<TMqttPublisher*>(obj); }

}  // namespace

TMqttPublisher::TMqttPublisher(TOptions options) : Options(std::move(options)), Backlog(Options.QueueCapacity) {
  if (Options.ClientId.empty()) Options.ClientId = DefaultClientId();
}

TMqttPublisher::~TMqttPublisher() {
  if (Thread.joinable()) Finish(0);
  if (Client) mosquitto_destroy(Client);
}

bool TMqttPublisher::Start(std::string& error) {
  InitLibrary();
  Client = mosquitto_new(Options.ClientId.c_str(), true, this);
  if (!Client) {
    error = std::string("无法创建MQTT客户端：") + std::strerror(errno);
    return false;
  }
  mosquitto_connect_callback_set(Client, [](mosquitto*, void* obj, int code) { Self(obj)->OnConnect(code); });
  mosquitto_publish_callback_set(Client, [](mosquitto*, void* obj, int mid) { Self(obj)->OnPublish(mid); });
  if (!Options.Url.User.empty() &&
      mosquitto_username_pw_set(Client, Options.Url.User.c_str(),
                                Options.Url.Password.empty() ? nullptr : Options.Url.Password.c_str()) != MOSQ_ERR_SUCCESS) {
    error = "MQTT用户名或密码无效";
    return false;
  }
  Backoff = kFirstBackoff;
  Thread = std::jthread([this](std::stop_token stop) { Run(stop); });
  return true;
}

void TMqttPublisher::Publish(TMqttMessage message) {
  std::lock_guard guard(Lock);
  Backlog.Push(std::move(message));
}

std::vector<std::string> TMqttPublisher::TakeNotices() {
  std::lock_guard guard(Lock);
  return std::exchange(Notices, {});
}

TMqttPublisher::TCounts TMqttPublisher::Counts() const {
  std::lock_guard guard(Lock);
  return {Published, Backlog.Dropped() + DroppedAtEnd, Backlog.Size() + InFlight.size()};
}

void TMqttPublisher::Finish(int waitMs) {
  if (!Thread.joinable()) return;
  {
    std::unique_lock guard(Lock);
    Changed.wait_for(guard, std::chrono::milliseconds(waitMs),
                     [&] { return Link == TLink::Down || (Backlog.Empty() && InFlight.empty()); });
  }
  Thread.request_stop();
  Thread.join();
  std::lock_guard guard(Lock);
  Backlog.DropAll();
  DroppedAtEnd += static_cast<long long>(InFlight.size());
  InFlight.clear();
}

void TMqttPublisher::Notice(const std::string& text) {
  std::lock_guard guard(Lock);
  Notices.push_back("MQTT：" + text);
}

TMqttPublisher::TLink TMqttPublisher::State() const {
  std::lock_guard guard(Lock);
  return Link;
}

void TMqttPublisher::SetState(TLink link) {
  {
    std::lock_guard guard(Lock);
    Link = link;
  }
  Changed.notify_all();
}

// ---- The publisher's thread ------------------------------------------------------------------

void TMqttPublisher::Run(std::stop_token stop) {
  Attempt();
  while (!stop.stop_requested()) {
    const TLink link = State();
    if (link == TLink::Down) {
      WaitForAttempt(stop);
      if (!stop.stop_requested()) Attempt();
      continue;
    }
    const int rc = mosquitto_loop(Client, kLoopWaitMs, 1);
    const int savedErrno = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
      LinkDown(RefusedReason.empty() ? ResultText(rc, savedErrno) : RefusedReason);
    } else if (State() == TLink::Connecting && TClock::now() > ConnectDeadline) {
      LinkDown("连接超时");
    } else {
      Pump();
    }
  }
  if (State() == TLink::Up) mosquitto_disconnect(Client);
  SetState(TLink::Down);
}

void TMqttPublisher::WaitForAttempt(std::stop_token stop) {
  std::unique_lock guard(Lock);
  Changed.wait_until(guard, stop, NextAttempt, [] { return false; });
}

void TMqttPublisher::Attempt() {
  const int rc = Attempted ? mosquitto_reconnect_async(Client)
                           : mosquitto_connect_async(Client, Options.Url.Host.c_str(), Options.Url.Port,
                                                     Options.KeepAliveSec);
  const int savedErrno = errno;
  Attempted = true;
  RefusedReason.clear();
  if (rc != MOSQ_ERR_SUCCESS) {
    LinkDown(ResultText(rc, savedErrno));
    return;
  }
  SetState(TLink::Connecting);
  ConnectDeadline = TClock::now() + kConnectTimeout;
}

// After a loss or a failed attempt: a notice when the state or its reason changed, then the
// next attempt after the backoff.
void TMqttPublisher::LinkDown(const std::string& reason) {
  const bool wasUp = State() == TLink::Up;
  SetState(TLink::Down);
  const std::string server = MqttServerText(Options.Url);
  if (wasUp) {
    const std::string why = reason == kLost ? "" : "（" + reason + "）";
    Notice("与服务器" + server + "的连接断开" + why + "，稍后自动重连；断开期间的读数暂存，最多" +
           std::to_string(Options.QueueCapacity) + "条");
  } else if (reason != LastReason) {
    Notice("连接不上服务器" + server + "：" + reason + "，稍后自动重试");
  }
  LastReason = reason;
  NextAttempt = TClock::now() + Backoff;
  Backoff = std::min<TClock::duration>(Backoff * 2, kLastBackoff);
}

void TMqttPublisher::OnConnect(int code) {
  if (code != 0) {
    RefusedReason = "服务器拒绝连接：" + RefusalText(code);
    return;
  }
  Notice(std::string(EverConnected ? "已重新连接到服务器" : "已连接到服务器") + MqttServerText(Options.Url));
  EverConnected = true;
  LastReason.clear();
  Backoff = kFirstBackoff;
  SetState(TLink::Up);
}

void TMqttPublisher::OnPublish(int mid) {
  {
    std::lock_guard guard(Lock);
    if (InFlight.erase(mid) == 0) return;
    ++Published;
  }
  Changed.notify_all();
}

// Hands the backlog to libmosquitto, oldest first, while fewer than kMaxInFlight await their
// acknowledgement. A message libmosquitto refuses for good (too large) is counted as dropped.
void TMqttPublisher::Pump() {
  for (;;) {
    TMqttMessage message;
    {
      std::lock_guard guard(Lock);
      if (Link != TLink::Up || Backlog.Empty() || InFlight.size() >= kMaxInFlight) return;
      message = Backlog.Front();
      Backlog.PopFront();
    }
    int mid = 0;
    const int rc = mosquitto_publish(Client, &mid, message.Topic.c_str(), static_cast<int>(message.Payload.size()),
                                     message.Payload.data(), 1, false);
    std::lock_guard guard(Lock);
    if (rc == MOSQ_ERR_SUCCESS) {
      InFlight.insert(mid);
    } else if (rc == MOSQ_ERR_PAYLOAD_SIZE || rc == MOSQ_ERR_OVERSIZE_PACKET || rc == MOSQ_ERR_INVAL) {
      Backlog.CountDropped();
    } else {
      Backlog.PushFront(std::move(message));
      return;
    }
  }
}
