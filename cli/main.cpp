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
  out << "Usage: dlt645 COMMAND [OPTIONS]\n"
         "DL/T 645-2007 companion of DLT645 Workbench.\n\nCommands:\n";
  for (const auto& [name, command] : Registry()) {
    out << "  " << name << std::string(name.size() < 10 ? 10 - name.size() : 1, ' ')
        << command.Summary << "\n";
  }
  out << "\nRun 'dlt645 COMMAND --help' for the options of one command.\n";
}
}  // namespace

void RegisterCommand(const TCliCommand& command) { Registry()[command.Name] = command; }
const std::map<std::string, TCliCommand>& Commands() { return Registry(); }

bool TCliArgs::Parse(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                     const std::vector<std::string>& flags, std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--", 0) == 0 && a.size() > 2) {
      std::string name = a, value;
      bool inlineValue = false;
      if (auto eq = a.find('='); eq != std::string::npos) {
        name = a.substr(0, eq);
        value = a.substr(eq + 1);
        inlineValue = true;
      }
      if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
        Switches.push_back(name);
      } else if (std::find(valued.begin(), valued.end(), name) != valued.end()) {
        if (!inlineValue) {
          if (i + 1 >= args.size()) {
            error = "option " + name + " needs a value";
            return false;
          }
          value = args[++i];
        }
        Values.emplace(name, value);
      } else {
        error = "unknown option " + name;
        return false;
      }
    } else {
      Words.push_back(a);
    }
  }
  return true;
}

bool TCliArgs::Has(const std::string& name) const {
  return Values.count(name) > 0 || std::find(Switches.begin(), Switches.end(), name) != Switches.end();
}

std::string TCliArgs::Get(const std::string& name, const std::string& fallback) const {
  auto range = Values.equal_range(name);
  if (range.first == range.second) return fallback;
  return std::prev(range.second)->second;
}

std::vector<std::string> TCliArgs::GetAll(const std::string& name) const {
  std::vector<std::string> out;
  auto range = Values.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
  return out;
}

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
    std::cerr << "dlt645: unknown command '" << args[0] << "'\n\n";
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
