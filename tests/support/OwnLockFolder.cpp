// Linked into every test and benchmark program. Each process gets a folder of its own for the
// UUCP lock files of the serial ports it opens (DLT645_LOCK_DIR, read by the serial adapter), so
// tests running side by side never meet each other's lock files, nor those of other programs in
// /var/lock. Programs the test starts (dlt645, a helper holding a port) inherit the variable and
// so share their parent's folder, as they should: they take part in the same test.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

class TOwnLockFolder {
 public:
  TOwnLockFolder() {
    if (const char* inherited = std::getenv("DLT645_LOCK_DIR"); inherited && *inherited) return;
    std::error_code error;
    std::string folder = (std::filesystem::temp_directory_path(error) / "dlt645-locks-XXXXXX").string();
    if (error || !::mkdtemp(folder.data())) return;
    Folder = folder;
    Owner = ::getpid();
    ::setenv("DLT645_LOCK_DIR", Folder.c_str(), 1);
  }
  ~TOwnLockFolder() {
    if (Folder.empty() || ::getpid() != Owner) return;  // a forked child leaves it to its parent
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
  TOwnLockFolder(const TOwnLockFolder&) = delete;
  TOwnLockFolder& operator=(const TOwnLockFolder&) = delete;

 private:
  std::string Folder;
  pid_t Owner = 0;
};

const TOwnLockFolder OwnLockFolder;

}  // namespace
