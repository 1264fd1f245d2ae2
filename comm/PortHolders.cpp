// Finding the other users of a serial device: UUCP lock files and the open descriptors of other
// processes. Everything here is best effort: a folder or a process that cannot be read is
// passed over, never reported as an error.
#include "comm/PortHolders.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace {

std::string RealPath(const std::string& path) {
  char resolved[PATH_MAX];
  return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool AllDigits(const char* text) {
  if (*text == '\0') return false;
  for (; *text; ++text)
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
  return true;
}

bool Alive(int pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// The name the program was started by (the last part of argv[0]), else its command name.
std::string ProgramName(int pid) {
  const std::string folder = "/proc/" + std::to_string(pid);
  std::ifstream cmdline(folder + "/cmdline");
  std::string name;
  std::getline(cmdline, name, '\0');
  if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
  if (name.empty()) {
    std::ifstream comm(folder + "/comm");
    std::getline(comm, name);
  }
  return name;
}

TPortHolder HolderOf(int pid) { return {pid, ProgramName(pid)}; }

// The process id in a lock file: ten ASCII digits and a newline (the usual form), or a binary
// int of 4 bytes (old Kermit style). 0 when the file names none; -1 when it cannot be read.
int LockFilePid(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return -1;
  char buf[32] = {};
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n == 4 && !std::isdigit(static_cast<unsigned char>(buf[3])) && buf[3] != ' ' && buf[3] != '\n') {
    int pid = 0;
    std::memcpy(&pid, buf, sizeof pid);
    return pid > 0 ? pid : 0;
  }
  const long pid = n > 0 ? std::strtol(buf, nullptr, 10) : 0;
  return pid > 0 && pid <= INT_MAX ? static_cast<int>(pid) : 0;
}

// Writes a fresh lock file naming this process under a private name; empty on failure.
std::string WriteTempLock(const std::string& folder) {
  static std::atomic<unsigned> serial{0};
  const std::string path =
      folder + "/LTMP." + std::to_string(::getpid()) + "." + std::to_string(serial.fetch_add(1));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return {};
  char text[16];
  const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
  const bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
  ::close(fd);
  if (!written) {
    ::unlink(path.c_str());
    return {};
  }
  return path;
}

// The number N of a pseudo-terminal /dev/pts/N, or -1.
int PtyIndex(const std::string& device) {
  const std::string path = RealPath(device);
  const std::string prefix = "/dev/pts/";
  if (path.rfind(prefix, 0) != 0 || !AllDigits(path.c_str() + prefix.size())) return -1;
  return std::atoi(path.c_str() + prefix.size());
}

// The pseudo-terminal index that a master descriptor (/dev/ptmx) serves, from its fdinfo.
int MasterIndex(const std::string& fdinfo) {
  std::ifstream in(fdinfo);
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("tty-index:", 0) == 0) return std::atoi(line.c_str() + 10);
  return -1;
}

struct TDeviceId {
  dev_t Rdev = 0;
  dev_t Fs = 0;  // the file system of the node: two devpts mounts reuse the same numbers
  int Pty = -1;
};

// Whether process `pid` holds the device (`slave`) and, on a pseudo-terminal, its master side.
void LookAtProcess(const std::string& pid, const TDeviceId& id, bool& slave, bool& master) {
  const std::string fdFolder = "/proc/" + pid + "/fd";
  DIR* dir = ::opendir(fdFolder.c_str());
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (!AllDigits(entry->d_name)) continue;
    const std::string fdPath = fdFolder + "/" + entry->d_name;
    char target[PATH_MAX];
    const ssize_t n = ::readlink(fdPath.c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    target[n] = '\0';
    if (std::strncmp(target, "/dev/", 5) != 0) continue;  // files, pipes, sockets: never stat them
    if (id.Pty >= 0 && (std::strcmp(target, "/dev/ptmx") == 0 || std::strcmp(target, "/dev/pts/ptmx") == 0)) {
      if (MasterIndex("/proc/" + pid + "/fdinfo/" + entry->d_name) == id.Pty) master = true;
      continue;
    }
    struct stat st {};
    if (::stat(fdPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == id.Rdev &&
        (id.Pty < 0 || st.st_dev == id.Fs))
      slave = true;
  }
  ::closedir(dir);
}

}  // namespace

std::string HolderText(const TPortHolder& holder) {
  const std::string pid = "进程号" + std::to_string(holder.Pid);
  return holder.Program.empty() ? pid : holder.Program + "（" + pid + "）";
}

std::string UucpLockName(const std::string& device) {
  std::string path = RealPath(device);
  if (path.rfind("/dev/", 0) == 0) {
    path = path.substr(5);
    std::replace(path.begin(), path.end(), '/', '_');
  } else if (const std::size_t slash = path.rfind('/'); slash != std::string::npos) {
    path = path.substr(slash + 1);
  }
  return "LCK.." + path;
}

TUucpLock::TUucpLock() {
  const char* own = std::getenv("DLT645_LOCK_DIR");
  if (own && *own) LockFolders = {own};
  else LockFolders = {"/var/lock", "/run/lock"};
}

void TUucpLock::SetFolders(std::vector<std::string> folders) { LockFolders = std::move(folders); }

std::vector<std::string> TUucpLock::Folders() const {
  std::vector<std::string> folders;
  for (const std::string& folder : LockFolders) {
    struct stat st {};
    const std::string real = RealPath(folder);
    if (::stat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) continue;
    if (std::find(folders.begin(), folders.end(), real) == folders.end()) folders.push_back(real);
  }
  return folders;
}

TPortHolder TUucpLock::Holder(const std::string& device) const {
  const std::string name = UucpLockName(device);
  for (const std::string& folder : Folders()) {
    const std::string path = folder + "/" + name;
    const int pid = LockFilePid(path);
    if (pid < 0 || pid == ::getpid()) continue;  // no file, unreadable, or this process's own
    if (Alive(pid)) return HolderOf(pid);
    ::unlink(path.c_str());  // stale: its process has ended
  }
  return {};
}

bool TUucpLock::Take(const std::string& device, TPortHolder& holder) {
  Release();
  const std::string name = UucpLockName(device);
  for (const std::string& folder : Folders()) {
    if (::access(folder.c_str(), W_OK) != 0) continue;
    const std::string temp = WriteTempLock(folder);
    if (temp.empty()) continue;
    const std::string path = folder + "/" + name;
    bool taken = false, refused = false;
    // The file appears complete or not at all; a stale one found in the way is removed once.
    for (int attempt = 0; attempt < 2 && !taken && !refused; ++attempt) {
      if (::link(temp.c_str(), path.c_str()) == 0) {
        taken = true;
        break;
      }
      if (errno != EEXIST) break;
      const int pid = LockFilePid(path);
      if (pid == ::getpid()) break;  // this process has one already
      if (Alive(pid)) {
        holder = HolderOf(pid);
        refused = true;
      } else {
        ::unlink(path.c_str());
      }
    }
    ::unlink(temp.c_str());
    if (taken) Taken = path;
    return !refused;
  }
  return true;
}

void TUucpLock::Release() {
  if (Taken.empty()) return;
  if (LockFilePid(Taken) == ::getpid()) ::unlink(Taken.c_str());
  Taken.clear();
}

TPortHolder OpeningProcess(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return {};
  const TDeviceId id{st.st_rdev, st.st_dev, PtyIndex(device)};
  const std::string self = std::to_string(::getpid());
  DIR* proc = ::opendir("/proc");
  if (!proc) return {};
  TPortHolder found;
  while (const dirent* entry = ::readdir(proc)) {
    if (!AllDigits(entry->d_name) || self == entry->d_name) continue;
    bool slave = false, master = false;
    LookAtProcess(entry->d_name, id, slave, master);
    if (slave && !master) {
      found = HolderOf(std::atoi(entry->d_name));
      break;
    }
  }
  ::closedir(proc);
  return found;
}
