// The virtual meter behind a real serial server, as users put one in front of a meter: ser2net
// on 127.0.0.1 serves the meter's pty on a raw port and on a telnet port with RFC 2217;
// `dlt645 send` and `poll` read it through tcp:// and rfc2217://.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/cli/RunProcess.h"
#include "tests/support/Background.h"

namespace {

namespace fs = std::filesystem;

// A program running until the test ends, its output in a file.
class TDaemon {
 public:
  TDaemon(std::vector<std::string> argv, const std::string& log, const std::string& runtimeDir) {
    Pid = ::fork();
    if (Pid != 0) return;
    const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(out, STDERR_FILENO);
    ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  ~TDaemon() {
    if (Pid <= 0) return;
    ::kill(Pid, SIGTERM);
    for (int i = 0; i < 200 && ::waitpid(Pid, nullptr, WNOHANG) == 0; ++i) ::usleep(10000);
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
  }
  pid_t Pid = -1;
};

bool Accepts(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
    if (done()) return true;
  return false;
}

std::string Ser2net() {
  for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"})
    if (::access(path, X_OK) == 0) return path;
  return {};
}

TEST(Ser2netTest, TheMeterIsReadThroughRawAndRfc2217Ports) {
  const std::string ser2net = Ser2net();
  if (ser2net.empty()) GTEST_SKIP() << "ser2net is not installed (scripts/bootstrap installs it)";
  char pattern[] = "/tmp/dlt645-ser2net-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  const std::string link = dir + "/meter";
  {
    TDaemon meter({DLT645_BIN, "simulate", "--link", link}, dir + "/meter.log", dir);
    ASSERT_TRUE(WaitUntil([&] { return fs::exists(link); }));
    const std::vector<int> ports = FreeLoopbackPorts(2);
    const int raw = ports[0], telnet = ports[1];
    std::ofstream(dir + "/ser2net.yaml") << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw
                                         << "\n  connector: serialdev," << link << ",9600n81,local\n"
                                         << "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                                         << telnet << "\n  connector: serialdev," << link << ",9600n81,local\n";
    TDaemon server({ser2net, "-n", "-d", "-c", dir + "/ser2net.yaml"}, dir + "/ser2net.log", dir);
    ASSERT_TRUE(WaitUntil([&] { return Accepts(raw) && Accepts(telnet); }));

    const std::string tcpName = "tcp://127.0.0.1:" + std::to_string(raw);
    const std::string rfcName = "rfc2217://127.0.0.1:" + std::to_string(telnet);
    // Read of 00010000 (total forward active energy) from meter 000000000001.
    for (const std::string& name : {tcpName, rfcName}) {
      const TProcessResult r = RunProcess({DLT645_BIN, "send", "--port", name, "--settings", "9600,N,8,1", "--frame",
                                           "68 01 00 00 00 00 00 68 11 04 33 33 34 33"}, 15000);
      EXPECT_EQ(r.ExitCode, 0) << name << r.Out << r.Err;
      EXPECT_NE(r.Out.find("\nReply=68 01 00 00 00 00 00 68 91 08 33 33 34 33 "), std::string::npos) << name << r.Out;
    }
    // The line settings of the rfc2217 port are set by the client; three rounds in a row.
    const TProcessResult r = RunProcess({DLT645_BIN, "poll", "--port", rfcName, "--settings", "2400,E,8,1",
                                         "--address", "1", "--di", "00010000", "--count", "3", "--interval", "0"},
                                        15000);
    EXPECT_EQ(r.ExitCode, 0) << r.Out << r.Err;
    // A stop size ser2net's port cannot take is named, not taken silently.
    const TProcessResult odd = RunProcess({DLT645_BIN, "send", "--port", rfcName, "--settings", "9600,N,8,1.5",
                                           "--frame", "68 01 00 00 00 00 00 68 11 04 33 33 34 33"}, 15000);
    EXPECT_EQ(odd.ExitCode, 1) << odd.Out << odd.Err;
    EXPECT_NE(odd.Err.find("停止位1.5"), std::string::npos) << odd.Err;
  }
  fs::remove_all(dir);
}

}  // namespace
