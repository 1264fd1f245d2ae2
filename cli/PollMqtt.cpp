#include "cli/PollMqtt.h"

#include <unistd.h>

#include <ctime>

#include "services/MqttPublisher.h"

namespace {

const int kFinishWaitMs = 5000;
const long long kMaxQueue = 1000000;

}  // namespace

bool ParsePollMqtt(const TCliArgs& opts, TPollMqttPlan& plan, std::string& error) {
  if (opts.Has("--mqtt-queue")) {
    const std::string text = opts.Get("--mqtt-queue");
    const bool digits = !text.empty() && text.size() <= 7 && text.find_first_not_of("0123456789") == std::string::npos;
    const long long queue = digits ? std::stoll(text) : 0;
    if (queue < 1 || queue > kMaxQueue) {
      error = "--mqtt-queue“" + text + "”应为1到" + std::to_string(kMaxQueue) + "之间的条数";
      return false;
    }
    if (!opts.Has("--mqtt")) {
      error = "--mqtt-queue只能与--mqtt一起使用";
      return false;
    }
    plan.Queue = static_cast<size_t>(queue);
  }
  if (!opts.Has("--mqtt")) return true;
  plan.On = true;
  return ParseMqttUrl(opts.Get("--mqtt"), plan.Url, error);
}

std::string IsoTimeMs(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const long ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char date[32], zone[8];
  std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  std::strftime(zone, sizeof zone, "%z", &local);  // +0800
  char text[64];
  std::snprintf(text, sizeof text, "%s.%03ld%.3s:%.2s", date, ms, zone, zone + 3);
  return text;
}

TPollMqtt::TPollMqtt() = default;
TPollMqtt::~TPollMqtt() = default;

bool TPollMqtt::Start(const TPollMqttPlan& plan, std::string& error) {
  if (!plan.On) return true;
  TMqttPublisher::TOptions options;
  options.Url = plan.Url;
  options.QueueCapacity = plan.Queue;
  Publisher = std::make_unique<TMqttPublisher>(options);
  return Publisher->Start(error);
}

void TPollMqtt::Publish(const std::vector<std::string>& row, std::chrono::system_clock::time_point started) {
  if (!Publisher || row.size() < 9) return;
  TMqttReading reading{IsoTimeMs(started), row[1], row[2], row[3], row[4], row[5], row[6], row[7], row[8]};
  Publisher->Publish({ReadingTopic(Publisher->Prefix(), reading), ReadingJson(reading)});
  PrintNotices();
}

void TPollMqtt::Finish(std::FILE* summary) {
  if (!Publisher) return;
  Publisher->Finish(kFinishWaitMs);
  PrintNotices();
  const TMqttPublisher::TCounts counts = Publisher->Counts();
  std::fprintf(summary, "MqttPublished=%lld\nMqttDropped=%lld\n", counts.Published, counts.Dropped);
  std::fflush(summary);
}

// On a terminal the progress line is cleared first, so that the notice stands on its own line.
void TPollMqtt::PrintNotices() {
  const bool terminal = ::isatty(STDERR_FILENO) != 0;
  for (const std::string& notice : Publisher->TakeNotices())
    std::fprintf(stderr, "%sdlt645 poll: %s\n", terminal ? "\r\x1b[K" : "", notice.c_str());
}
