// The reconnect policy: waits, the device to reopen, texts.
#include "comm/Reconnect.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const char* const kLost = "连接已断开，正在重连…";

const TPresentDevice* FindSerial(const std::vector<TPresentDevice>& present, const std::string& serial,
                                 const std::string& path, bool samePath) {
  for (const TPresentDevice& d : present)
    if (d.Serial == serial && (d.Path == path) == samePath) return &d;
  return nullptr;
}

bool Listed(const std::vector<TPresentDevice>& present, const std::string& path) {
  for (const TPresentDevice& d : present)
    if (d.Path == path) return true;
  return false;
}

std::string FirstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// The USB serial number of tty NAME: on the interface's parent (ttyUSB) or on the device
// itself one level further up (ttyACM).
std::string SerialOfTty(const std::string& sysRoot, const std::string& name) {
  std::error_code ec;
  const fs::path device = fs::canonical(fs::path(sysRoot) / "class" / "tty" / name / "device", ec);
  if (ec) return {};
  for (const fs::path& dir : {device.parent_path(), device.parent_path().parent_path()}) {
    if (std::string serial = FirstLine(dir / "serial"); !serial.empty()) return serial;
  }
  return {};
}

}  // namespace

int TBackoff::NextMs() {
  const int wait = Next;
  Next = Next >= MaxMs / 2 ? MaxMs : Next * 2;
  return wait;
}

void TRetrySchedule::Start(long long nowMs) {
  Steps.Reset();
  DueMs = nowMs + Steps.NextMs();
}

long long TRetrySchedule::SleepMs(long long nowMs, bool device) const {
  const long long untilDue = DueMs > nowMs ? DueMs - nowMs : 0;
  if (untilDue > 0) return untilDue;
  return device ? DeviceCheckMs : 0;
}

std::string ChooseReturnPath(const TDeviceIdentity& lost, bool pathExists, bool byIdExists,
                             const std::vector<TPresentDevice>& present) {
  // A pty's number is handed to the next pty opened: the same path is another device.
  if (lost.Path.rfind("/dev/pts/", 0) == 0) return {};
  if (lost.Serial.empty()) {
    if (pathExists) return lost.Path;
    return byIdExists ? lost.ById : std::string();
  }
  if (FindSerial(present, lost.Serial, lost.Path, true)) return lost.Path;
  if (byIdExists) return lost.ById;
  if (const TPresentDevice* moved = FindSerial(present, lost.Serial, lost.Path, false)) return moved->Path;
  // Nothing is known about the device at the path now: it may well be the same one.
  if (pathExists && !Listed(present, lost.Path)) return lost.Path;
  return {};
}

std::string LossText(const std::string& what, const std::string& why) {
  return what + "：连接已断开" + (why.empty() ? "" : "（" + why + "）") + "，正在重连…";
}

std::string ReturnText(const std::string& what, long long downMs) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(downMs) / 1000.0);
  return "连接已恢复：" + what + "（断开" + seconds + "秒）";
}

std::string LinkPaneText(const std::string& name, bool lost) { return lost ? name + "：" + kLost : name; }

namespace {
// The inode and change time of the link file at `path`; zeros when it is not a link.
std::pair<unsigned long long, long long> LinkFile(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return {0, 0};
  return {static_cast<unsigned long long>(st.st_ino), st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec};
}
}  // namespace

bool StalePtyLink(const TDeviceIdentity& lost) {
  return lost.PtyLink.first != 0 && LinkFile(lost.Path) == lost.PtyLink;
}

TDeviceIdentity DeviceIdentityOf(const std::string& path, const std::string& sysRoot, const std::string& byIdDir) {
  TDeviceIdentity id;
  id.Path = path;
  std::error_code ec;
  const fs::path real = fs::canonical(path, ec);
  if (ec) return id;
  if (real.string().rfind("/dev/pts/", 0) == 0) id.PtyLink = LinkFile(path);
  id.Serial = SerialOfTty(sysRoot, real.filename().string());
  for (const fs::directory_entry& entry : fs::directory_iterator(byIdDir, ec)) {
    std::error_code linkEc;
    if (fs::canonical(entry.path(), linkEc) == real && !linkEc) {
      id.ById = entry.path().string();
      break;
    }
  }
  return id;
}

std::vector<TPresentDevice> PresentDevices(const std::string& sysRoot, const std::string& devDir) {
  std::vector<TPresentDevice> found;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
    const std::string name = entry.path().filename().string();
    if (std::string serial = SerialOfTty(sysRoot, name); !serial.empty())
      found.push_back({(fs::path(devDir) / name).string(), serial});
  }
  return found;
}
