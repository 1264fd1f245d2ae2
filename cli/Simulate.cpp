// `dlt645 simulate`: runs the virtual meter in the foreground on a pseudo-terminal, with a
// well-known link that the workbench's port list offers.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/Command.h"
#include "cli/MeterValues.h"
#include "cli/TcpBridge.h"
#include "comm/PortList.h"
#include "sim/VirtualMeter.h"

namespace {

// A meter answers no sooner than 20 ms after the request; the virtual one a little later.
constexpr int kDefaultResponseMs = 22;

const char kHelp[] =
    "用法：dlt645 simulate [选项]\n"
    "\n"
    "在伪终端上运行一块虚拟的DL/T 645-2007电表，直到Ctrl+C（SIGINT）或SIGTERM。它输出\n"
    "要打开的路径；运行期间，在工作台的端口列表搜索的文件夹中保留一个指向该路径的链接\n"
    "（meter-ADDRESS），参数对话框因而会列出它。\n"
    "\n"
    "这块电表应答：目录中每个数据标识的读数据，带密码的写数据，通信地址、波特率、密码和\n"
    "清零命令，后续帧读取（负荷记录06xxxxxx），广播（999999999999，不应答），通配地址\n"
    "AAAAAAAAAAAA（13H、15H），经中继的帧和经采集器的帧。以CR结尾的文本行得到文本回答：\n"
    "AT -> OK，ATI -> 标识信息，AT+ECHO=text -> text，AT+SLOW -> \"Please wait.....\"，\n"
    "稍后给出结果，其他 -> ERROR。\n"
    "\n"
    "选项：\n"
    "  --address ADDR    电表地址，12位十进制数字（默认000000000001）\n"
    "  --password P      密码，8位十六进制数字，高位在前（默认26404915）\n"
    "  --collector ADDR  电表前的采集器地址（默认000000009999）\n"
    "  --link PATH       用这个链接代替默认的链接\n"
    "  --response MS     电表的应答时间，从请求的最后一个字节到应答的第一个字节（0到60000，\n"
    "                    默认22；标准允许20到500）\n"
    "  --delay MS        每次应答前再等待MS毫秒（0到60000）\n"
    "  --preamble N      每个应答前的FE字节数（0到16，默认4）\n"
    "  --slow MS         AT+SLOW结果的延迟（默认5000）\n"
    "  --fault F         加入一种故障，可重复：noise（应答前的随机字节，夹有一个多余的68H），\n"
    "                    split（应答分3段，间隔50毫秒），badsum（校验和错误），badend（结束\n"
    "                    字节错误），silent（不应答），garbage（应答前32个随机字节），c0（每个\n"
    "                    应答的控制码都是C0H），late（慢一拍的电表：每个应答前先发对上一个\n"
    "                    请求的应答，它因而在下一个请求之后才到），anyaddress（应答发给其他\n"
    "                    地址的帧），shortdata（电能读数少一个字节），acceptbadsum（应答校验和\n"
    "                    错误的帧），noshortened（不理会缩位地址）\n"
    "  --reply-from ADDR 应答中带这个地址（12位十进制数字），而不是电表自己的地址\n"
    "  --listen tcp://ADDR:PORT  同时在这个TCP地址上提供电表，如同原始模式的串口服务器\n"
    "                    （同一时间一个客户端）\n"
    "  --connect tcp://HOST:PORT  如同DTU拨出到HOST:PORT，连接断开或被拒绝时再次拨号\n"
    "                    （0.5秒后，间隔加倍，最长8秒）\n"
    "  --power-cut S     电表在停电S秒（1到86400）之后启动：掉电总次数（03110000）多一次，\n"
    "                    这次停电作为最近一次掉电记录（03110001：从启动前S秒到启动时）\n"
    "  --verbose         每个请求和每个应答输出一行\n"
    "  --set DI=VALUE    电表对DI读出VALUE，按读数自身的写法（可重复）：\n"
    "                    --set 00010000=1234.56  --set 02020100=-1.234  --set 04000102=10:15:00\n"
    "                    设定的值保持不变；设定日期和时间即设定时钟，时钟继续走。其他的值随\n"
    "                    时间变化：电压、电流和功率略有漂移，电能随功率累加。\n"
    "  --values FILE     与--set相同的DI=VALUE行（#开头的行为注释）；不是这样的行连同行号\n"
    "                    报出，其余照常使用\n"
    "\n"
    "退出状态：0 正常停止；1 电表无法启动；2 选项有误。\n";

bool AllDigits(const std::string& text, size_t length, bool hex) {
  if (text.size() != length) return false;
  for (char c : text) {
    bool ok = (c >= '0' && c <= '9') || (hex && ((c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')));
    if (!ok) return false;
  }
  return true;
}

bool ParseInt(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  value = std::stoi(text);
  return value >= low && value <= high;
}

// mkdir -p, owner only.
bool MakeFolder(const std::string& path, std::string& error) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = "无法创建" + part + "：" + std::strerror(errno);
      return false;
    }
  }
  return true;
}

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "dlt645 simulate: %s\n", message.c_str());
  return code;
}

// The meter's identity: address, password, collector.
int ReadIdentity(const TCliArgs& parsed, TMeterOptions& options) {
  options.Address = parsed.Get("--address", options.Address);
  options.Password = parsed.Get("--password", options.Password);
  options.CollectorAddress = parsed.Get("--collector", options.CollectorAddress);
  if (!AllDigits(options.Address, 12, false) || options.Address == "999999999999")
    return Fail(ceBadInput, "--address应为12位十进制数字（不能是999999999999）");
  if (!AllDigits(options.Password, 8, true)) return Fail(ceBadInput, "--password应为8位十六进制数字");
  if (!AllDigits(options.CollectorAddress, 12, false)) return Fail(ceBadInput, "--collector应为12位十进制数字");
  return ceOk;
}

// The times and counts: response time, delay, preamble, the slow text command, the power cut.
int ReadTimes(const TCliArgs& parsed, TMeterOptions& options) {
  if (parsed.Has("--response") && !ParseInt(parsed.Get("--response"), 0, 60000, options.ResponseMs))
    return Fail(ceBadInput, "--response应为0到60000之间的毫秒数");
  if (parsed.Has("--delay") && !ParseInt(parsed.Get("--delay"), 0, 60000, options.Faults.DelayMs))
    return Fail(ceBadInput, "--delay应为0到60000之间的毫秒数");
  if (parsed.Has("--preamble") && !ParseInt(parsed.Get("--preamble"), 0, 16, options.PreambleCount))
    return Fail(ceBadInput, "--preamble应为0到16之间的个数");
  if (parsed.Has("--slow") && !ParseInt(parsed.Get("--slow"), 0, 600000, options.SlowCommandMs))
    return Fail(ceBadInput, "--slow应为0到600000之间的毫秒数");
  if (parsed.Has("--power-cut") && !ParseInt(parsed.Get("--power-cut"), 1, 86400, options.PowerCutSec))
    return Fail(ceBadInput, "--power-cut应为1到86400之间的秒数");
  return ceOk;
}

// One --fault name into the faults; false for a name that is none.
bool AddFault(const std::string& fault, TMeterFaults& f) {
  if (fault == "noise") f.Noise = true;
  else if (fault == "split") {
    f.SplitPieces = 3;
    f.SplitPauseMs = 50;
  } else if (fault == "badsum") f.BadChecksum = true;
  else if (fault == "badend") f.BadEndByte = true;
  else if (fault == "silent") f.NoReply = true;
  else if (fault == "garbage") f.GarbageBurstBytes = 32;
  else if (fault == "c0") f.AppLayerTimeout = true;
  else if (fault == "late") f.LateReply = true;
  else if (fault == "anyaddress") f.AnswerAnyAddress = true;
  else if (fault == "shortdata") f.ShortEnergy = true;
  else if (fault == "acceptbadsum") f.AnswerBadChecksum = true;
  else if (fault == "noshortened") f.IgnoreShortened = true;
  else return false;
  return true;
}

int ReadFaults(const TCliArgs& parsed, TMeterOptions& options) {
  for (const std::string& fault : parsed.GetAll("--fault"))
    if (!AddFault(fault, options.Faults))
      return Fail(ceBadInput, "不认识的故障“" + fault +
                                  "”（noise、split、badsum、badend、silent、garbage、c0、late、anyaddress、shortdata、"
                                  "acceptbadsum、noshortened）");
  if (parsed.Has("--reply-from")) {
    options.Faults.ReplyFrom = parsed.Get("--reply-from");
    if (!AllDigits(options.Faults.ReplyFrom, 12, false)) return Fail(ceBadInput, "--reply-from应为12位十进制数字");
  }
  return ceOk;
}

// The readings given with --values and --set.
int ReadValues(const TCliArgs& parsed, TMeterOptions& options) {
  std::string error;
  if (parsed.Has("--values")) {
    std::vector<std::string> junk;
    if (!ReadMeterValues(parsed.Get("--values"), options.Values, junk, error)) return Fail(ceBadInput, error);
    for (const std::string& line : junk) std::fprintf(stderr, "dlt645 simulate: %s（该行已跳过）\n", line.c_str());
  }
  for (const std::string& set : parsed.GetAll("--set")) {
    uint32_t di = 0;
    std::vector<uint8_t> data;
    if (!ParseMeterValue(set, di, data, error)) return Fail(ceBadInput, "--set " + error);
    options.Values[di] = data;
  }
  return ceOk;
}

// The link path: --link, or meter-ADDRESS in the folder the port list searches.
int ReadLink(const TCliArgs& parsed, TMeterOptions& options) {
  if (parsed.Has("--link")) {
    options.LinkPath = parsed.Get("--link");
    if (options.LinkPath.empty()) return Fail(ceBadInput, "--link缺少路径");
    return ceOk;
  }
  std::string folder = VirtualPortDir(), error;
  if (!MakeFolder(folder, error)) return Fail(ceFailed, error);
  options.LinkPath = folder + "/meter-" + options.Address;
  return ceOk;
}

int ParseSimulate(const std::vector<std::string>& args, TCliArgs& parsed, TMeterOptions& options) {
  std::string error;
  if (!parsed.Parse(args, {"--address", "--password", "--collector", "--link", "--delay", "--response", "--preamble", "--slow",
                           "--fault", "--set", "--values", "--reply-from", "--listen", "--power-cut", "--connect"},
                    {"--verbose"}, error))
    return Fail(ceBadInput, error);
  if (!parsed.Positional().empty()) return Fail(ceBadInput, "多余的参数“" + parsed.Positional()[0] + "”");
  options.ResponseMs = kDefaultResponseMs;
  for (auto step : {ReadIdentity, ReadTimes, ReadFaults, ReadValues, ReadLink})
    if (int code = step(parsed, options); code != ceOk) return code;
  return ceOk;
}

void PrintTrace(TVirtualMeter& meter) {
  auto print = std::make_shared<std::mutex>();
  meter.SetTrace([print](const std::string& line) {
    std::lock_guard lock(*print);
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
  });
}

// Blocks the stop signals (the meter's thread inherits the mask) and waits for one of them.
sigset_t BlockStopSignals() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  return stopSignals;
}

int RunSimulate(const std::vector<std::string>& args) {
  TCliArgs parsed;
  TMeterOptions options;
  if (int code = ParseSimulate(args, parsed, options); code != ceOk) return code;
  sigset_t stopSignals = BlockStopSignals();
  TVirtualMeter meter(options);
  if (parsed.Has("--verbose")) PrintTrace(meter);
  std::string error;
  if (!meter.Start(error)) return Fail(ceFailed, error);
  TTcpBridge bridge;
  if (parsed.Has("--listen")) {
    if (!bridge.Start(parsed.Get("--listen"), meter.PortPath(), error)) return Fail(ceBadInput, error);
    std::printf("Listening: %s\n", parsed.Get("--listen").c_str());
  } else if (parsed.Has("--connect")) {
    if (!bridge.StartDialOut(parsed.Get("--connect"), meter.PortPath(), error)) return Fail(ceBadInput, error);
    std::printf("Dialing: %s\n", parsed.Get("--connect").c_str());
  }
  std::printf("Virtual meter %s on %s\nLink: %s\nPress Ctrl+C to stop.\n", options.Address.c_str(),
              meter.PortPath().c_str(), options.LinkPath.c_str());
  std::fflush(stdout);
  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  bridge.Stop();
  meter.Stop();
  std::printf("Stopped (%s), %d replies sent.\n", strsignal(signal), meter.RepliesSent());
  std::fflush(stdout);
  return ceOk;
}

const TCliRegistrar kRegistrar({"simulate", "在伪终端上运行虚拟电表", kHelp, RunSimulate});

}  // namespace
