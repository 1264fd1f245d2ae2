// `dlt645 poll --mqtt` against a real mosquitto broker on 127.0.0.1 and a free port, started and
// stopped by the test, with a subscriber of our own that receives what the poll publishes.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "sim/VirtualMeter.h"
#include "tests/cli/RunProcess.h"
#include "tests/support/Background.h"

namespace {

using namespace std::chrono_literals;

const char kBrokerBin[] = "/usr/sbin/mosquitto";

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// A mosquitto of the test's own; it keeps its sessions in `dir` across a restart.
class TBroker {
 public:
  TBroker(const std::string& dir, bool anonymous) : Dir(dir), Port(FreeLoopbackPort()) {
    std::ofstream(Dir + "/mosquitto.conf") << "listener " << Port << " 127.0.0.1\nallow_anonymous "
                                           << (anonymous ? "true" : "false") << "\npersistence true\n"
                                           << "persistence_location " << Dir << "/\n";
  }
  ~TBroker() { Stop(); }
  bool Start() {
    Pid = ::fork();
    if (Pid == 0) {
      const int log = ::open((Dir + "/broker.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      ::dup2(log, STDOUT_FILENO);
      ::dup2(log, STDERR_FILENO);
      const std::string conf = Dir + "/mosquitto.conf";
      ::execl(kBrokerBin, kBrokerBin, "-c", conf.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms))
      if (Accepts(Port)) return true;
    return false;
  }
  void Stop() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGTERM);
    ::waitpid(Pid, nullptr, 0);
    Pid = -1;
  }
  std::string Dir;
  int Port;

 private:
  pid_t Pid = -1;
};

// A subscriber with a session the broker keeps (clean session off, QoS 1): what is published
// while it is away from a restarted broker still reaches it.
class TSubscriber {
 public:
  TSubscriber(int port, const std::string& topic) : Topic(topic) {
    mosquitto_lib_init();
    Client = mosquitto_new(("dlt645-test-" + std::to_string(::getpid())).c_str(), false, this);
    mosquitto_connect_callback_set(Client, [](mosquitto* m, void* self, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, static_cast<TSubscriber*>(self)->Topic.c_str(), 1);
    });
    mosquitto_subscribe_callback_set(Client, [](mosquitto*, void* self, int, int, const int*) {
      static_cast<TSubscriber*>(self)->Add(nullptr);
    });
    mosquitto_message_callback_set(Client, [](mosquitto*, void* self, const mosquitto_message* m) {
      static_cast<TSubscriber*>(self)->Add(m);
    });
    mosquitto_reconnect_delay_set(Client, 1, 1, false);
    mosquitto_connect(Client, "127.0.0.1", port, 5);
    mosquitto_loop_start(Client);
  }
  ~TSubscriber() {
    mosquitto_disconnect(Client);
    mosquitto_loop_stop(Client, false);
    mosquitto_destroy(Client);
  }
  // Waits until the subscription stands (true) and until `count` messages have come.
  bool WaitSubscribed() { return Wait([&] { return Subscribed; }, 5s); }
  std::vector<std::pair<std::string, std::string>> WaitFor(size_t count, std::chrono::seconds limit) {
    Wait([&] { return Messages.size() >= count; }, limit);
    std::lock_guard guard(Lock);
    return Messages;
  }

 private:
  void Add(const mosquitto_message* m) {
    std::lock_guard guard(Lock);
    if (m) Messages.emplace_back(m->topic, std::string(static_cast<const char*>(m->payload), m->payloadlen));
    Subscribed = true;
    Changed.notify_all();
  }
  template <class TPred>
  bool Wait(TPred pred, std::chrono::seconds limit) {
    std::unique_lock guard(Lock);
    return Changed.wait_for(guard, limit, pred);
  }
  std::string Topic;
  mosquitto* Client;
  std::mutex Lock;
  std::condition_variable Changed;
  bool Subscribed = false;
  std::vector<std::pair<std::string, std::string>> Messages;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The CSV's rows after the byte order mark; the fields used here hold no quotes or commas.
std::vector<std::vector<std::string>> Rows(const std::string& path) {
  std::vector<std::vector<std::string>> rows;
  std::stringstream csv(ReadFile(path).substr(3));
  for (std::string line; std::getline(csv, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    std::stringstream cells(line);
    for (std::string field; std::getline(cells, field, ',');) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

long long Summary(const std::string& text, const std::string& key) {
  const size_t at = text.find(key + "=");
  return at == std::string::npos ? -1 : std::stoll(text.substr(at + key.size() + 1));
}

// The time of a row as the message carries it: ISO 8601 with the offset of TZ=CST-8.
std::string IsoTime(std::string csvTime) {
  csvTime[10] = 'T';
  return csvTime + "+08:00";
}

class PollMqttTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "CST-8", 1);  // the polls started from here write times at UTC+8
    TMeterOptions options;
    options.Values[0x00010000] = {0x56, 0x34, 0x12, 0x00};  // 1234.56 kWh
    Meter = std::make_unique<TVirtualMeter>(options);
    std::string error;
    ASSERT_TRUE(Meter->Start(error)) << error;
    Dir = ::testing::TempDir() + "/poll-mqtt-" + std::to_string(::getpid());
    std::filesystem::create_directories(Dir);
    Csv = Dir + "/rows.csv";
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }
  std::vector<std::string> Poll(int port, std::vector<std::string> args) {
    args.insert(args.begin(), {DLT645_BIN, "poll", "--port", Meter->PortPath(), "--address", "1", "--csv", Csv,
                               "--mqtt", "mqtt://127.0.0.1:" + std::to_string(port) + "/dlt645/test"});
    return args;
  }
  std::unique_ptr<TVirtualMeter> Meter;
  std::string Dir, Csv;
};

}  // namespace

TEST_F(PollMqttTest, EveryReadingReachesASubscriberAsJson) {
  TBroker broker(Dir, true);
  ASSERT_TRUE(broker.Start()) << ReadFile(Dir + "/broker.log");
  TSubscriber subscriber(broker.Port, "dlt645/test/#");
  ASSERT_TRUE(subscriber.WaitSubscribed());

  auto r = RunProcess(Poll(broker.Port, {"--di", "00010000", "--di", "0500FF00", "--count", "3", "--interval", "0"}), 20000);
  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  EXPECT_EQ(Summary(r.Out, "MqttPublished"), 6) << r.Out;
  EXPECT_EQ(Summary(r.Out, "MqttDropped"), 0);
  const auto rows = Rows(Csv);
  ASSERT_EQ(rows.size(), 7u);
  const auto messages = subscriber.WaitFor(6, 5s);
  ASSERT_EQ(messages.size(), 6u);
  for (size_t i = 0; i < messages.size(); ++i) {
    const auto& row = rows[i + 1];
    EXPECT_EQ(messages[i].first, "dlt645/test/000000000001/" + row[2]);
    const std::string head = "{\"time\":\"" + IsoTime(row[0]) + "\",\"address\":\"000000000001\",\"identifier\":\"";
    const std::string reading = i % 2 == 0
        ? "00010000\",\"name\":\"(当前)正向有功总电量\",\"raw_value\":\"00123456\",\"reading\":\"1234.56\","
          "\"unit\":\"kWh\",\"round_trip_ms\":" + row[7] + ",\"outcome\":\"ok\"}"
        : "0500FF00\",\"name\":\"" + row[3] + "\",\"raw_value\":\"\",\"reading\":\"\",\"unit\":\"\","
          "\"round_trip_ms\":" + row[7] + ",\"outcome\":\"error 02H 无请求数据\"}";
    EXPECT_EQ(messages[i].second, head + reading);
  }
}

// The broker goes away for two seconds and comes back: the poll goes on, reconnects by itself,
// and every reading is either delivered or counted as dropped (the queue holds 5).
TEST_F(PollMqttTest, ABrokerThatRestartsLosesNoReadingUncounted) {
  TBroker broker(Dir, true);
  ASSERT_TRUE(broker.Start()) << ReadFile(Dir + "/broker.log");
  TSubscriber subscriber(broker.Port, "dlt645/test/#");
  ASSERT_TRUE(subscriber.WaitSubscribed());

  TProcessResult r;
  std::thread poll([&] {
    r = RunProcess(Poll(broker.Port, {"--di", "00010000", "--interval", "0.05", "--duration", "7", "--mqtt-queue", "5"}),
                   30000);
  });
  const size_t before = subscriber.WaitFor(3, 5s).size();
  broker.Stop();
  std::this_thread::sleep_for(2s);
  ASSERT_TRUE(broker.Start()) << ReadFile(Dir + "/broker.log");
  poll.join();

  ASSERT_EQ(r.ExitCode, 0) << r.Err;
  const long long exchanges = Summary(r.Out, "Exchanges"), published = Summary(r.Out, "MqttPublished");
  EXPECT_EQ(Rows(Csv).size(), static_cast<size_t>(exchanges) + 1);
  EXPECT_EQ(published + Summary(r.Out, "MqttDropped"), exchanges) << r.Out;
  EXPECT_GT(Summary(r.Out, "MqttDropped"), 0) << "two seconds at 20 readings a second overflow a queue of 5";
  EXPECT_NE(r.Err.find("MQTT：与服务器127.0.0.1:" + std::to_string(broker.Port) + "的连接断开"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("MQTT：已重新连接到服务器127.0.0.1:" + std::to_string(broker.Port)), std::string::npos);

  std::set<std::string> times;  // of the rows
  for (const auto& row : Rows(Csv)) times.insert(IsoTime(row[0]));
  std::set<std::string> received;  // a message sent again after the reconnect counts once
  for (const auto& [topic, payload] : subscriber.WaitFor(static_cast<size_t>(published), 10s)) {
    received.insert(payload);
    EXPECT_EQ(times.count(payload.substr(9, 29)), 1u) << "a message for a row of the poll: " << payload;
  }
  EXPECT_GE(received.size(), static_cast<size_t>(published)) << "every reading the broker acknowledged was delivered";
  EXPECT_GT(received.size(), before) << "readings after the restart arrived";
}

// Nothing listening, or a broker that takes no anonymous clients: the poll reads the meter as
// always, says why the broker is not reached, ends in time and counts every reading as dropped.
TEST_F(PollMqttTest, ABrokerThatRefusesLeavesThePollWorking) {
  TBroker refusing(Dir, false);
  ASSERT_TRUE(refusing.Start()) << ReadFile(Dir + "/broker.log");
  const struct {
    int Port;
    const char* Why;
  } cases[] = {{FreeLoopbackPort(), "连接被拒绝（这个端口上没有服务器）"},
               {refusing.Port, "服务器拒绝连接：未获授权（服务器不许匿名连接，或这个用户无权连接）"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Why);
    auto r = RunProcess(Poll(c.Port, {"--di", "00010000", "--count", "3", "--interval", "0.2"}), 20000);
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const auto rows = Rows(Csv);
    ASSERT_EQ(rows.size(), 4u);
    for (size_t i = 1; i < rows.size(); ++i) EXPECT_EQ(rows[i][8], "ok");
    EXPECT_EQ(Summary(r.Out, "MqttPublished"), 0) << r.Out;
    EXPECT_EQ(Summary(r.Out, "MqttDropped"), 3);
    EXPECT_NE(r.Err.find("dlt645 poll: MQTT：连接不上服务器127.0.0.1:" + std::to_string(c.Port) + "：" + c.Why +
                         "，稍后自动重试\n"),
              std::string::npos)
        << r.Err;
  }
}

TEST_F(PollMqttTest, ABadAddressOrQueueIsRefusedBeforeTheFirstExchange) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--mqtt", "mqtt://127.0.0.1:1883/"},
       "MQTT地址“mqtt://127.0.0.1:1883/”无效：缺少主题前缀（应为mqtt://主机:端口/主题前缀）！"},
      {{"--mqtt", "mqtt://127.0.0.1/p", "--mqtt-queue", "0"}, "--mqtt-queue“0”应为1到1000000之间的条数"},
      {{"--mqtt-queue", "5"}, "--mqtt-queue只能与--mqtt一起使用"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args = {DLT645_BIN, "poll", "--port", Meter->PortPath(), "--address", "1", "--di", "00010000"};
    args.insert(args.end(), options.begin(), options.end());
    auto r = RunProcess(args);
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, "dlt645 poll: " + message + "\n");
  }
  EXPECT_TRUE(Meter->ReceivedBytes().empty());
}
