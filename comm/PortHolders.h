#pragma once
// Who else uses a serial device. Programs that take no flock (a terminal program, a shell with
// "exec 3<>/dev/ttyUSB0") still show up in two places: the traditional UUCP lock file
// (LCK..<name> in /var/lock or /run/lock, holding the owner's process id) and the open file
// descriptors under /proc. The serial adapter looks at both before it opens a port, and keeps a
// lock file of its own while the port is open, so that such programs leave the port alone too.
#include <string>
#include <vector>

struct TPortHolder {
  int Pid = 0;          // 0: nobody else holds the device
  std::string Program;  // the holder's command name where it can be read
};

// "minicom（进程号1234）", or "进程号1234" when the program's name is not known.
std::string HolderText(const TPortHolder& holder);

// The lock file name of a device: "LCK..ttyUSB0"; below /dev, '/' becomes '_' ("LCK..pts_3").
// Symbolic links are followed first, so a link and its device share one lock file.
std::string UucpLockName(const std::string& device);

// The UUCP lock files of one device in a list of lock folders (both /var/lock and /run/lock by
// default; the same folder reached twice counts once). The environment variable DLT645_LOCK_DIR,
// when set, names the one folder used instead: the tests give each of their processes a folder
// of its own, so that they meet neither each other's lock files nor those of other programs.
class TUucpLock {
 public:
  TUucpLock();
  void SetFolders(std::vector<std::string> folders);

  // A live process other than this one named by a lock file of `device`. Lock files of processes
  // that no longer run, and files that name no process, are removed.
  TPortHolder Holder(const std::string& device) const;
  // Takes a lock file for `device` in the first folder where one can be written. False, with the
  // holder, when another live process has one; true when one was taken or no folder is writable.
  bool Take(const std::string& device, TPortHolder& holder);
  // Removes the lock file taken, if it still names this process.
  void Release();

 private:
  std::vector<std::string> Folders() const;

  std::vector<std::string> LockFolders;
  std::string Taken;  // path of the lock file this object holds
};

// Another process that has `device` open, found through /proc/<pid>/fd where readable. On a
// pseudo-terminal a process that also holds the master side is the other end of the line (the
// virtual meter), not a competitor, and is not reported.
TPortHolder OpeningProcess(const std::string& device);
