#pragma once
// A temporary folder per test and whole-file helpers.
#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class TTempFolder {
 public:
  TTempFolder() {
    std::string tmpl = "/tmp/dlt_services_XXXXXX";
    char* p = mkdtemp(tmpl.data());
    Path = p ? p : "";
  }
  ~TTempFolder() { RemoveAll(Path); }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  const std::string& path() const { return Path; }
  std::string operator/(const std::string& name) const { return Path + "/" + name; }

  // Names in `folder`, without "." and "..".
  static std::vector<std::string> List(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
      while (dirent* e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
    }
    return names;
  }

 private:
  static void RemoveAll(const std::string& path) {
    if (path.empty()) return;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      for (const std::string& n : List(path)) RemoveAll(path + "/" + n);
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }
  std::string Path;
};

inline std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline bool FileExists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

// Splits on CR LF; a trailing CR LF gives no empty last line.
inline std::vector<std::string> CrLfLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(bytes.substr(start));
      break;
    }
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}
