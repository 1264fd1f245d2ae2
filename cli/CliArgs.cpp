// Option parsing shared by the sub-commands (kept apart from main() so that the fuzz target of
// the command options links it too).
#include <algorithm>
#include <iterator>

#include "cli/Command.h"

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
            error = "选项" + name + "缺少取值";
            return false;
          }
          value = args[++i];
        }
        Values.emplace(name, value);
      } else {
        error = "不认识的选项“" + name + "”";
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
