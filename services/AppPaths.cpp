#include "services/AppPaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace {

const char* const AppName = "dlt645-workbench";

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

// $variable when it holds an absolute path (relative ones are to be ignored), else ~/fallback.
std::string XdgFolder(const char* variable, const char* fallback) {
  if (const char* v = std::getenv(variable); v && v[0] == '/') return v;
  return HomeFolder() + "/" + fallback;
}

// A folder named "bin" (/usr/bin, /usr/local/bin, ~/.local/bin) holds installed programs shared
// by every user of the machine: its files are never the program's own, even where root may write.
bool IsInstalledProgramFolder(const std::string& folder) {
  return folder == "/bin" || (folder.size() > 4 && folder.compare(folder.size() - 4, 4, "/bin") == 0);
}

std::string PrivateFolder(const std::string& executableFolder, const char* variable,
                          const char* fallback) {
  if (IsFolder(executableFolder) && !IsInstalledProgramFolder(executableFolder) &&
      ::access(executableFolder.c_str(), W_OK) == 0)
    return executableFolder;
  std::string folder = XdgFolder(variable, fallback) + "/" + AppName;
  MakeFolders(folder);
  return folder;
}

}  // namespace

std::string ExecutableFolder() {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return {};
  std::string path(buf.data(), static_cast<std::size_t>(n));
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string part = path.substr(0, pos);
      if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return IsFolder(path);
}

std::string SettingsFolderFor(const std::string& executableFolder) {
  return PrivateFolder(executableFolder, "XDG_CONFIG_HOME", ".config");
}

std::string LogFolderParentFor(const std::string& executableFolder) {
  return PrivateFolder(executableFolder, "XDG_STATE_HOME", ".local/state");
}

std::string SettingsFolder() { return SettingsFolderFor(ExecutableFolder()); }

std::string LogFolderParent() { return LogFolderParentFor(ExecutableFolder()); }
