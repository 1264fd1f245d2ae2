// DLT645 Workbench: the desktop tool. The start-up sequence lives in ui/StartUp.
#include <chrono>
#include <cstdio>
#include <string>

#include "ui/StartUp.h"

int main(int argc, char** argv) {
  TStartOptions options;
  options.MainEntered = std::chrono::steady_clock::now();
  std::string error;
  if (!ParseStartOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "dlt645-workbench: %s\n", error.c_str());
    return 2;
  }
  if (options.Help || options.Version) {
    std::fputs(options.Help ? StartUsage() : StartVersion(), stdout);
    return 0;
  }
  return RunApplication(argc, argv, options);
}
