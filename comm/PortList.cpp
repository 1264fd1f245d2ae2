// The serial ports of this machine: USB and ACM adapters, ttyS ports with a UART behind them,
// and the links a running virtual meter leaves in its well-known folder.
#include "comm/PortList.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool Exists(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;  // follows links: a dangling link does not exist
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

// A ttyS port is listed when a UART sits behind it. The kernel registers ttyS0..3 whether or
// not the hardware exists; their UART type is then PORT_UNKNOWN (0).
bool HasUart(const std::string& name) {
  std::string sys = "/sys/class/tty/" + name;
  if (!Exists(sys + "/device/driver")) return false;
  std::ifstream typeFile(sys + "/type");
  int type = -1;
  if (typeFile >> type) return type != PORT_UNKNOWN;
  int fd = open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  serial_struct info{};
  bool known = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
  close(fd);
  return known;
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string VirtualPortDir() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) return std::string(runtime) + "/dlt645-workbench";
  return "/tmp/dlt645-workbench-" + std::to_string(getuid());
}

void ListComPorts(std::vector<std::string>& list) {
  list.clear();
  for (const std::string& name : Entries("/dev")) {
    if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")) {
      list.push_back("/dev/" + name);
    } else if (StartsWith(name, "ttyS") && name.size() > 4 && HasUart(name)) {
      list.push_back("/dev/" + name);
    }
  }
  std::string folder = VirtualPortDir();
  for (const std::string& name : Entries(folder)) {
    std::string path = folder + "/" + name;
    struct stat st{};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && Exists(path)) list.push_back(path);
  }
  std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
    std::string la = Lower(a), lb = Lower(b);
    return la != lb ? la < lb : a < b;
  });
}
