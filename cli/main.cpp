// `dlt645`: the command-line companion of the workbench.
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/Command.h"

namespace {
std::map<std::string, TCliCommand>& Registry() {
  static std::map<std::string, TCliCommand> registry;
  return registry;
}

void PrintUsage(std::ostream& out) {
  out << "用法：dlt645 命令 [选项]\n"
         "DLT645 Workbench的DL/T 645-2007命令行工具。\n\n命令：\n";
  for (const auto& [name, command] : Registry()) {
    out << "  " << name << std::string(name.size() < 10 ? 10 - name.size() : 1, ' ')
        << command.Summary << "\n";
  }
  out << "\n运行“dlt645 命令 --help”查看该命令的选项。\n";
}
}  // namespace

void RegisterCommand(const TCliCommand& command) { Registry()[command.Name] = command; }
const std::map<std::string, TCliCommand>& Commands() { return Registry(); }

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    PrintUsage(std::cout);
    return args.empty() ? ceBadInput : ceOk;
  }
  if (args[0] == "--version") {
    std::cout << "dlt645 " << DLT_VERSION << "\n";
    return ceOk;
  }
  auto it = Registry().find(args[0]);
  if (it == Registry().end()) {
    std::cerr << "dlt645: 不认识的命令“" << args[0] << "”\n\n";
    PrintUsage(std::cerr);
    return ceBadInput;
  }
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (std::find(rest.begin(), rest.end(), "--help") != rest.end() ||
      std::find(rest.begin(), rest.end(), "-h") != rest.end()) {
    std::cout << it->second.Help;
    return ceOk;
  }
  return it->second.Run(rest);
}
